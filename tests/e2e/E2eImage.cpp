#include "tests/e2e/E2eImage.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

#include <zlib.h>

namespace flashwise::e2e {

namespace {

void PutWord(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr std::uint32_t kSplit = 0x3B00000u;

}  // namespace

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("flashwise-e2e-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::uint8_t PatternByte(std::uint64_t at) {
    return static_cast<std::uint8_t>(((at * 0x9E3779B1u) >> 11) ^ (at >> 3) ^ 0x5A);
}

void WriteImage(const std::filesystem::path& path, const SectionSizes& s, std::uint32_t trailer, bool sparse) {
    std::uint8_t header[256] = {};
    PutWord(header + 0x00, 0x13151301u);
    std::memcpy(header + 0x04, "3GIMAGE ", 8);
    PutWord(header + 0x10, 0x409);
    PutWord(header + 0x14, s.l51a);
    PutWord(header + 0x18, s.l51b);
    PutWord(header + 0x1C, s.l54a);
    PutWord(header + 0x24, s.l52);
    PutWord(header + 0x28, s.l53);
    PutWord(header + 0x2C, s.l54b);
    PutWord(header + 0x30, s.l50);
    PutWord(header + 0x34, s.type);
    PutWord(header + 0x48, trailer);

    const std::uint64_t total = 256ull + s.l50 + s.l51a + s.l51b + s.l52 + s.l53 + s.l54a + s.l54b + trailer;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path.string());
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    constexpr std::uint64_t kEdge = 4096;
    std::vector<std::uint8_t> piece(1 << 16);
    std::uint64_t at = 256;
    while (at < total) {
        const std::uint64_t n = std::min<std::uint64_t>(piece.size(), total - at);
        if (sparse && at >= 256 + kEdge && at + n + kEdge <= total) {
            // Leave a hole: the file system reads it back as zeros.
            out.seekp(static_cast<std::streamoff>(at + n));
        } else {
            for (std::uint64_t i = 0; i < n; ++i) piece[i] = PatternByte(at + i);
            out.seekp(static_cast<std::streamoff>(at));
            out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(n));
        }
        at += n;
    }
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::pair<int, UnitSpan>> ExpectedUnits(const SectionSizes& s) {
    const std::uint64_t at50 = 256, at51 = at50 + s.l50, at52 = at51 + s.l51a + s.l51b;
    const std::uint64_t at53 = at52 + s.l52, at54 = at53 + s.l53;
    const std::uint64_t l54 = static_cast<std::uint64_t>(s.l54a) + s.l54b;
    std::vector<std::pair<int, UnitSpan>> units;
    if (s.l51a + s.l51b != 0) units.push_back({51, {at51, static_cast<std::uint64_t>(s.l51a) + s.l51b}});
    if (l54 > kSplit) {
        units.push_back({56, {at54, kSplit}});
        units.push_back({57, {at54 + kSplit, l54 - kSplit}});
    } else if (l54 != 0) {
        units.push_back({54, {at54, l54}});
    }
    if (s.l52 != 0) units.push_back({52, {at52, s.l52}});
    if (s.l50 != 0) units.push_back({50, {at50, s.l50}});
    if (s.l53 != 0) units.push_back({53, {at53, s.l53}});
    return units;
}

std::vector<std::uint8_t> ReadSpan(const std::filesystem::path& path, const UnitSpan& span) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(span.length));
    in.seekg(static_cast<std::streamoff>(span.offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::uint64_t>(in.gcount()) != span.length) throw std::runtime_error("short image");
    return bytes;
}

std::uint32_t Crc32OfSpan(const std::filesystem::path& path, const UnitSpan& span) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(span.offset));
    std::vector<char> piece(1 << 20);
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t left = span.length;
    while (left > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), left));
        in.read(piece.data(), static_cast<std::streamsize>(n));
        if (static_cast<std::size_t>(in.gcount()) != n) throw std::runtime_error("short image");
        crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(n));
        left -= n;
    }
    return static_cast<std::uint32_t>(crc);
}

}  // namespace flashwise::e2e
