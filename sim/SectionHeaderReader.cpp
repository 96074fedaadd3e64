#include "sim/SectionHeaderReader.h"

namespace flashwise::sim {

std::uint32_t LoadWord(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void StoreWord(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

HeaderUnit UnitFromHeader(const std::uint8_t* header) {
    const std::uint32_t l51a = LoadWord(header + 0x14), l51b = LoadWord(header + 0x18);
    const std::uint32_t l54a = LoadWord(header + 0x1C), l54b = LoadWord(header + 0x2C);
    const std::uint32_t l52 = LoadWord(header + 0x24), l53 = LoadWord(header + 0x28);
    const std::uint32_t own50 = LoadWord(header + 0x30);
    const std::uint32_t imageL54b = LoadWord(header + 0x3C), imageL50 = LoadWord(header + 0x40);
    const std::uint32_t splitPart = LoadWord(header + 0x4C);

    HeaderUnit unit;
    if (l51a != 0 || l51b != 0) {
        unit.code = 51;
        unit.dataLength = static_cast<std::uint32_t>(l51a + l51b);
    } else if (splitPart == 1) {
        // The second transfer: 0x2C holds L54b less the split.
        unit.code = 57;
        unit.dataLength = static_cast<std::uint32_t>(l54a + l54b);
    } else if (l54a != 0 || l54b != 0) {
        // The first transfer carries the split length at 0x2C while the image's own
        // L54b (copied to 0x3C) makes the whole section longer than the split.
        const bool first = l54b == kSplitLength &&
                           static_cast<std::uint64_t>(l54a) + imageL54b > kSplitLength;
        unit.code = first ? 56 : 54;
        unit.dataLength = first ? kSplitLength : static_cast<std::uint32_t>(l54a + l54b);
    } else if (l52 != 0) {
        unit.code = 52;
        unit.dataLength = l52;
    } else if (l53 != 0) {
        unit.code = 53;
        unit.dataLength = l53;
    } else if (own50 != 0) {
        // Unit 50 repeats L50 at 0x40; the extended ROM puts its own length at 0x30.
        unit.code = own50 == imageL50 ? 50 : 55;
        unit.dataLength = own50;
    }
    return unit;
}

std::uint32_t HeaderWordSum(const std::uint8_t* header) {
    std::uint32_t sum = 0;
    for (unsigned offset = 0x10; offset < 0x100; offset += 4) sum += LoadWord(header + offset);
    return sum;
}

}  // namespace flashwise::sim
