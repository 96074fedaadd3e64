#include <gtest/gtest.h>

#include <vector>

#include "image/ImageCheck.h"
#include "tests/support/ImageFiles.h"

namespace flashwise::test {
namespace {

struct CheckRow {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool needsUnit;
    ImageFault expected;
};

std::vector<std::uint8_t> With(std::vector<std::uint8_t> bytes, std::size_t at, std::uint32_t word) {
    PutWord(bytes, at, word);
    return bytes;
}

TEST(ImageCheck, JudgesTheWholeFileBeforeAnythingIsSent) {
    ImageSizes one;
    one.l50 = 4;
    const std::vector<std::uint8_t> good = ImageFile(one, {1, 2, 3, 4});
    ImageSizes both51;
    both51.l51a = 3;
    both51.l51b = 5;
    ImageSizes wraps;  // 0xFFFFFF00 + 0x104 is 4 in 32 bits: a 260-byte file would seem to hold it
    wraps.l50 = 0xFFFFFF00u;
    wraps.l52 = 0x104;
    ImageSizes none;
    std::vector<std::uint8_t> shortFile = good;
    shortFile.resize(255);
    std::vector<std::uint8_t> badTag = good;
    badTag[11] = '_';

    const CheckRow rows[] = {
        {"one unit, whole", good, true, ImageFault::None},
        {"two parts of 51 and a trailer", ImageFile(both51, std::vector<std::uint8_t>(8 + 2048, 7)), true,
         ImageFault::None},
        {"short of a header", shortFile, false, ImageFault::Short},
        {"four bytes", {'f', 'a', 'k', 'e'}, false, ImageFault::Short},
        {"bad magic", With(good, 0, 0x13151302u), true, ImageFault::Magic},
        {"bad tag", badTag, true, ImageFault::Tag},
        {"type 0", ImageFile(one, {1, 2, 3, 4}, 0), true, ImageFault::Type},
        {"type wider than 16 bits", ImageFile(one, {1, 2, 3, 4}, 0x10004), true, ImageFault::Type},
        {"a unit one byte past the end", ImageFile(one, {1, 2, 3}), true, ImageFault::UnitPastEnd},
        {"the last part of 54 past the end", With(good, 0x2C, 1), true, ImageFault::UnitPastEnd},
        {"sizes that wrap in 32 bits", ImageFile(wraps, {1, 2, 3, 4}), true, ImageFault::UnitPastEnd},
        {"no unit, one needed", ImageFile(none, {}), true, ImageFault::NoUnit},
        {"no unit, none needed", ImageFile(none, {}), false, ImageFault::None},
    };
    for (const CheckRow& row : rows) {
        EXPECT_EQ(CheckImage(row.bytes.data(), row.bytes.size(), row.needsUnit), row.expected) << row.name;
    }
}

}  // namespace
}  // namespace flashwise::test
