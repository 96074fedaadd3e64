#pragma once
// The transfer units (section codes 50 to 57) of an image: one table says which
// section of the file each code carries and which part of it, and from that table
// come the unit's data range, the size words of its section header and what it adds
// to the progress.

#include <cstddef>
#include <cstdint>

#include "image/FirmwareImage.h"

namespace flashwise {

constexpr int kFirstSectionCode = 50;
constexpr int kLastSectionCode = 57;
constexpr int kExtendedRomCode = 55;
// Section 54 longer than this goes out as units 56 and 57.
constexpr std::uint32_t kSplitOffset = 0x3B00000u;

// Which part of its section a unit carries.
enum class UnitPart {
    Whole,
    BeforeSplit,   // 56: the first kSplitOffset bytes of section 54
    AfterSplit,    // 57: the rest of section 54
    ExtendedRom    // 55: ExtRom.tmp, not a section of the image file
};

struct UnitShape {
    int code = 0;
    // The section of the file whose bytes the unit carries (0 for unit 55). Sections
    // lie in the file in the order of their codes, 50 first, right after the header.
    int section = 0;
    // Offsets of the section's size words, the same in the image header and the
    // section header (0: no second word). Unit 55's length goes where L50 goes.
    std::size_t sizeWords[2] = {0, 0};
    UnitPart part = UnitPart::Whole;
};

// The row of `code`, or null for a code outside 50 to 57.
const UnitShape* FindUnitShape(int code);

// The length of `section` (50 to 54): the sum of its size words in 32 bits, each
// kNoFile when no file is open.
std::uint32_t SectionLength(const CFirmwareImage& image, int section);

struct UnitRange {
    std::uint64_t offset = 0;   // in the image file (0 for unit 55: ExtRom.tmp from its start)
    std::uint32_t length = 0;   // data length in bytes
    bool fromExtRomFile = false;
};

// The data range of `code` in the open image. For unit 55 only fromExtRomFile is set:
// its length is that of the image's ExtRom.tmp, which the caller measures. False for a code
// outside 50 to 57.
bool UnitDataRange(const CFirmwareImage& image, int code, UnitRange* range);

// The size words the section header of `code` carries, at their offsets, in the
// order of the row. `extRomLength` is unit 55's measured length. Returns how many
// (0 for a code outside 50 to 57).
struct SizeWord {
    std::size_t at = 0;
    std::uint32_t value = 0;
};
std::size_t UnitSizeWords(const CFirmwareImage& image, int code, std::uint32_t extRomLength, SizeWord (&words)[2]);

// What a written unit adds to the completed byte count: its section's length from the
// image header in 32 bits; nothing for 56, the whole of section 54 for 57. Unit 55
// has no header word of its own and is counted by the caller from ExtRom.tmp.
std::uint32_t UnitProgressBytes(const CFirmwareImage& image, int code);

}  // namespace flashwise
