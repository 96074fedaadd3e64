#include "tests/image/ImageFiles.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace flashwise::test {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() /
            ("flashwise-image-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<std::uint8_t> MakeHeader() {
    std::vector<std::uint8_t> h(256, 0);
    const std::uint8_t magic[] = {0x01, 0x13, 0x15, 0x13};
    std::copy(std::begin(magic), std::end(magic), h.begin());
    const std::string tag = "3GIMAGE ";
    std::copy(tag.begin(), tag.end(), h.begin() + 4);
    PutWord(h, 0x10, 0x409);
    return h;
}

void PutWord(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    if (bytes.size() < offset + 4) bytes.resize(offset + 4, 0);
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetWord(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
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
    if (::truncate(path.c_str(), static_cast<off_t>(length)) != 0) {
        throw std::runtime_error("cannot size " + path.string());
    }
}

void WriteAt(const fs::path& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write into " + path.string());
}

void MakePackagedImage(const fs::path& path) {
    std::vector<std::uint8_t> image = MakeHeader();
    PutWord(image, 0x14, kPackagedL51a);
    PutWord(image, 0x18, kPackagedL51b);
    PutWord(image, 0x34, 4);
    PutWord(image, 0x48, 2048);
    const std::vector<std::uint8_t> body = SampleData(kPackagedL51a + kPackagedL51b, 51);
    image.insert(image.end(), body.begin(), body.end());
    std::vector<std::uint8_t> tail(2048, 0);
    for (int i = 0; i < 3; ++i) {
        const std::string v = i == 0 ? "1.2.3" : i == 1 ? "1.2.3.4" : "1.2.3.4.5";
        std::copy(v.begin(), v.end(), tail.begin() + 64 * i);
    }
    image.insert(image.end(), tail.begin(), tail.end());
    WriteFile(path, image);
}

void MakeWorkedExample(const fs::path& path) {
    std::vector<std::uint8_t> image = MakeHeader();
    PutWord(image, 0x30, 4);
    PutWord(image, 0x34, 4);
    image.insert(image.end(), {0x01, 0x02, 0x03, 0x04});
    WriteFile(path, image);
}

std::vector<std::uint8_t> GzipWithTool(const std::vector<std::uint8_t>& data, const std::string& options,
                                       const std::string& fileName) {
    ScratchFolder folder;
    const fs::path plain = folder / fileName;
    const fs::path packed = folder / (fileName + ".gz");
    WriteFile(plain, data);
    const std::string command = std::string(FLASHWISE_GZIP) + " -c " + options + " '" + plain.string() + "' > '" +
                                packed.string() + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("gzip failed: " + command);
    return ReadFile(packed);
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

}  // namespace flashwise::test
