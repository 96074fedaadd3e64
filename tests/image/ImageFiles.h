#pragma once
// Test images on disk: a header with chosen words, section data, sparse files for the
// long-section cases, and a folder that is removed with everything in it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace flashwise::test {

// A fresh folder under the system's temporary folder, removed at destruction.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A 256-byte image header with the magic, the tag and header word 0x10 = 0x409.
std::vector<std::uint8_t> MakeHeader();
void PutWord(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);
std::uint32_t GetWord(const std::uint8_t* p);

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);

// A file of `length` bytes that takes no disk space beyond the pieces written into it.
void MakeSparseFile(const std::filesystem::path& path, std::uint64_t length);
void WriteAt(const std::filesystem::path& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes);

// The packaged image's shape: type 4, L51a 780,156, L51b 4,259,840, 5,042,300 bytes.
constexpr std::uint32_t kPackagedL51a = 780156;
constexpr std::uint32_t kPackagedL51b = 4259840;
constexpr std::uint64_t kPackagedLength = 5042300;
void MakePackagedImage(const std::filesystem::path& path);

// The worked example: L50 = 4, type 4, section 50 data 01 02 03 04.
void MakeWorkedExample(const std::filesystem::path& path);

// Runs the system's gzip on `data` (with `options`, e.g. "-n") and returns the stream.
std::vector<std::uint8_t> GzipWithTool(const std::vector<std::uint8_t>& data, const std::string& options,
                                       const std::string& fileName = "entry.bin");

// Pseudo-random but compressible bytes.
std::vector<std::uint8_t> SampleData(std::size_t length, std::uint32_t seed = 1);

}  // namespace flashwise::test
