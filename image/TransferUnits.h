#pragma once
// The transfer units (section codes 50 to 57) of an image and the data range of each.

#include <cstdint>

#include "image/FirmwareImage.h"

namespace flashwise {

constexpr int kFirstSectionCode = 50;
constexpr int kLastSectionCode = 57;
constexpr int kExtendedRomCode = 55;
// Section 54 longer than this goes out as units 56 and 57.
constexpr std::uint32_t kSplitOffset = 0x3B00000u;

struct UnitRange {
    std::uint64_t offset = 0;   // in the image file (0 for unit 55: ExtRom.tmp from its start)
    std::uint32_t length = 0;   // data length in bytes
    bool fromExtRomFile = false;
};

// The data range of `code` in the open image. For unit 55 only fromExtRomFile is set:
// its length is that of the image's ExtRom.tmp, which the caller measures. False for a code
// outside 50 to 57.
bool UnitDataRange(const CFirmwareImage& image, int code, UnitRange* range);

}  // namespace flashwise
