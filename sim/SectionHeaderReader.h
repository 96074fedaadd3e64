#pragma once
// What the boot loader learns from a 256-byte section header: which transfer unit it
// describes (the size words it carries) and how many data bytes that unit has.

#include <cstdint>

namespace flashwise::sim {

constexpr std::uint32_t kSplitLength = 0x3B00000u;  // the first transfer of a long section 54

struct HeaderUnit {
    int code = 0;                // 50 to 57, or 0 when no unit can be told
    std::uint64_t dataLength = 0;
};

HeaderUnit UnitFromHeader(const std::uint8_t* header);

// The word checksum the header should carry: words 0x10 to 0xFC of the header; the
// caller adds the data words.
std::uint32_t HeaderWordSum(const std::uint8_t* header);

std::uint32_t LoadWord(const std::uint8_t* p);
void StoreWord(std::uint8_t* p, std::uint32_t value);

}  // namespace flashwise::sim
