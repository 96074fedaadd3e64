#pragma once
// Builds the 256-byte section header that goes ahead of every transfer unit, with
// its word checksum. Unit data is read in chunks of a fixed size, so memory stays the
// same whatever the size of the image. The same pass takes the unit's byte sum and
// leaves both sums with the image object, where the link's section operations find
// them instead of reading the data again.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "image/FirmwareImage.h"
#include "image/RandomAccessFile.h"

namespace flashwise {

class SectionHeaderBuilder {
public:
    static constexpr int kBuilt = 1;
    static constexpr int kExtRomUnavailable = 0;  // unit 55: ExtRom.tmp cannot be opened
    static constexpr int kUnknownCode = -3;
    // The checksum pass reads more at a time than the transfer's 8192 bytes: fewer
    // reads of the file, and the chunk still fits the processor's cache.
    static constexpr std::size_t kChunkSize = 128 * 1024;

    // Unit 55 is read from the image object's ExtRom.tmp.
    explicit SectionHeaderBuilder(CFirmwareImage& image);

    // Fills the 256-byte header for `code` (the caller zero-fills it first).
    int BuildSectionHeader(std::uint8_t* header, int code);

    // The unit's size words as placed in its header plus every whole little-endian data
    // word of `length` bytes from `offset`; 1 to 3 trailing bytes are not summed.
    // Unit 55 reads the builder's open ExtRom.tmp from its current position.
    std::uint32_t SumDataWords(std::uint64_t offset, std::uint32_t length, int code);

private:
    CFirmwareImage& image_;
    RandomAccessFile extRomFile_;
    std::vector<std::uint8_t> chunk_;
};

}  // namespace flashwise
