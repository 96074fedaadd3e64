#pragma once
// Image files for the end-to-end runs: a header with chosen section sizes and section
// data from a fixed pattern, written to a folder that is removed afterwards, and the
// data range of each transfer unit worked out here on its own, not by the code under test.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace flashwise::e2e {

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

struct SectionSizes {
    std::uint32_t l50 = 0, l51a = 0, l51b = 0, l52 = 0, l53 = 0, l54a = 0, l54b = 0;
    std::uint32_t type = 4;
};

struct UnitSpan {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// The byte the pattern puts at file offset `at` (never all zeros over a word).
std::uint8_t PatternByte(std::uint64_t at);

// Writes header and sections (and `trailer` bytes after them). With `sparse`, the
// sections are left as holes (zeros) except their first and last 4 KiB.
void WriteImage(const std::filesystem::path& path, const SectionSizes& sizes, std::uint32_t trailer = 0,
                bool sparse = false);

// The units the driver should send for `sizes`, in the order it sends them.
std::vector<std::pair<int, UnitSpan>> ExpectedUnits(const SectionSizes& sizes);

std::vector<std::uint8_t> ReadSpan(const std::filesystem::path& path, const UnitSpan& span);
std::uint32_t Crc32OfSpan(const std::filesystem::path& path, const UnitSpan& span);

}  // namespace flashwise::e2e
