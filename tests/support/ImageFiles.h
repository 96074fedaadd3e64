#pragma once
// Image files for tests: headers with chosen words, section data, the packaged image's
// shape, patterned and sparse images for the long-section cases, and what the driver
// should send for given sizes, worked out here on its own rather than by the code
// under test.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace flashwise::test {

std::uint32_t GetWord(const std::uint8_t* p);
// Grows `bytes` as needed.
void PutWord(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);
// A file of `length` bytes that takes no disk space beyond the pieces written into it.
void MakeSparseFile(const std::filesystem::path& path, std::uint64_t length);
void WriteAt(const std::filesystem::path& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes);

// A 256-byte image header with the magic, the tag and header word 0x10 = 0x409.
std::vector<std::uint8_t> MakeHeader();

struct ImageSizes {
    std::uint32_t l50 = 0, l51a = 0, l51b = 0, l52 = 0, l53 = 0, l54a = 0, l54b = 0;
};
// MakeHeader() with the size words and the type.
std::vector<std::uint8_t> ImageHeader(const ImageSizes& sizes, std::uint32_t type = 4);
// The header followed by `data` (the sections in file order).
std::vector<std::uint8_t> ImageFile(const ImageSizes& sizes, const std::vector<std::uint8_t>& data,
                                    std::uint32_t type = 4);

// The packaged image's shape: type 4, L51a 780,156, L51b 4,259,840, 5,042,300 bytes.
constexpr std::uint32_t kPackagedL51a = 780156;
constexpr std::uint32_t kPackagedL51b = 4259840;
constexpr std::uint64_t kPackagedLength = 5042300;
void MakePackagedImage(const std::filesystem::path& path);

// The worked example: L50 = 4, type 4, section 50 data 01 02 03 04.
void MakeWorkedExample(const std::filesystem::path& path);

// Pseudo-random but compressible bytes.
std::vector<std::uint8_t> SampleData(std::size_t length, std::uint32_t seed = 1);

// The byte the pattern of WriteImage puts at file offset `at` (never all zeros over a word).
std::uint8_t PatternByte(std::uint64_t at);

// Writes the header (with `trailer` in the word at 0x48), the sections in the pattern
// and `trailer` further bytes. With `sparse`, the sections are left as holes (zeros)
// except their first and last 4 KiB.
void WriteImage(const std::filesystem::path& path, const ImageSizes& sizes, std::uint32_t trailer = 0,
                bool sparse = false);

struct UnitSpan {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};
// The units the driver should send for `sizes`, in the order it sends them.
std::vector<std::pair<int, UnitSpan>> ExpectedUnits(const ImageSizes& sizes);

std::vector<std::uint8_t> ReadSpan(const std::filesystem::path& path, const UnitSpan& span);
std::uint32_t Crc32OfSpan(const std::filesystem::path& path, const UnitSpan& span);

// Runs the system's gzip on `data` (with `options`, e.g. "-n") and returns the stream.
// Host build only.
std::vector<std::uint8_t> GzipWithTool(const std::vector<std::uint8_t>& data, const std::string& options,
                                       const std::string& fileName = "entry.bin");

}  // namespace flashwise::test
