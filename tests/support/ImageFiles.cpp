#include "tests/support/ImageFiles.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace flashwise::test {

namespace fs = std::filesystem;

namespace {
constexpr std::uint32_t kSplit = 0x3B00000u;
}  // namespace

std::uint32_t GetWord(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutWord(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    if (bytes.size() < offset + 4) bytes.resize(offset + 4, 0);
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void MakeSparseFile(const fs::path& path, std::uint64_t length) {
    { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
    fs::resize_file(path, length);
}

void WriteAt(const fs::path& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write into " + path.string());
}

std::vector<std::uint8_t> MakeHeader() {
    std::vector<std::uint8_t> h(256, 0);
    const std::uint8_t lead[12] = {0x01, 0x13, 0x15, 0x13, '3', 'G', 'I', 'M', 'A', 'G', 'E', ' '};
    std::copy(std::begin(lead), std::end(lead), h.begin());
    PutWord(h, 0x10, 0x409);
    return h;
}

std::vector<std::uint8_t> ImageHeader(const ImageSizes& s, std::uint32_t type) {
    std::vector<std::uint8_t> h = MakeHeader();
    PutWord(h, 0x14, s.l51a);
    PutWord(h, 0x18, s.l51b);
    PutWord(h, 0x1C, s.l54a);
    PutWord(h, 0x24, s.l52);
    PutWord(h, 0x28, s.l53);
    PutWord(h, 0x2C, s.l54b);
    PutWord(h, 0x30, s.l50);
    PutWord(h, 0x34, type);
    return h;
}

std::vector<std::uint8_t> ImageFile(const ImageSizes& sizes, const std::vector<std::uint8_t>& data,
                                    std::uint32_t type) {
    std::vector<std::uint8_t> file = ImageHeader(sizes, type);
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

void MakePackagedImage(const fs::path& path) {
    ImageSizes sizes;
    sizes.l51a = kPackagedL51a;
    sizes.l51b = kPackagedL51b;
    std::vector<std::uint8_t> image = ImageFile(sizes, SampleData(kPackagedL51a + kPackagedL51b, 51));
    PutWord(image, 0x48, 2048);
    std::vector<std::uint8_t> tail(2048, 0);
    for (int i = 0; i < 3; ++i) {
        const std::string v = i == 0 ? "1.2.3" : i == 1 ? "1.2.3.4" : "1.2.3.4.5";
        std::copy(v.begin(), v.end(), tail.begin() + 64 * i);
    }
    image.insert(image.end(), tail.begin(), tail.end());
    WriteFile(path, image);
}

void MakeWorkedExample(const fs::path& path) {
    ImageSizes sizes;
    sizes.l50 = 4;
    WriteFile(path, ImageFile(sizes, {0x01, 0x02, 0x03, 0x04}));
}

std::vector<std::uint8_t> SampleData(std::size_t length, std::uint32_t seed) {
    std::vector<std::uint8_t> out(length);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        // Mostly a small alphabet, so the stream compresses like firmware does.
        const std::uint8_t r = static_cast<std::uint8_t>(x >> 24);
        out[i] = r < 200 ? static_cast<std::uint8_t>('a' + r % 8) : r;
    }
    return out;
}

std::uint8_t PatternByte(std::uint64_t at) {
    return static_cast<std::uint8_t>(((at * 0x9E3779B1u) >> 11) ^ (at >> 3) ^ 0x5A);
}

void WriteImage(const fs::path& path, const ImageSizes& s, std::uint32_t trailer, bool sparse) {
    std::vector<std::uint8_t> header = ImageHeader(s);
    PutWord(header, 0x48, trailer);

    const std::uint64_t total = 256ull + s.l50 + s.l51a + s.l51b + s.l52 + s.l53 + s.l54a + s.l54b + trailer;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path.string());
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
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

std::vector<std::pair<int, UnitSpan>> ExpectedUnits(const ImageSizes& s) {
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

std::vector<std::uint8_t> ReadSpan(const fs::path& path, const UnitSpan& span) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(span.length));
    in.seekg(static_cast<std::streamoff>(span.offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::uint64_t>(in.gcount()) != span.length) throw std::runtime_error("short image");
    return bytes;
}

std::uint32_t Crc32OfSpan(const fs::path& path, const UnitSpan& span) {
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

}  // namespace flashwise::test
