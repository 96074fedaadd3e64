// The whole-image check a tool makes before it touches a phone: each row breaks one
// thing about an otherwise whole image and names the check that must say so.

#include <gtest/gtest.h>

#include "image/FirmwareImage.h"
#include "image/ImageCheck.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"

namespace flashwise::test {
namespace {

TEST(ImageCheck, EachBrokenCheckIsNamed) {
    struct Row {
        const char* what;
        std::size_t at;          // header word to overwrite (0x100: none)
        std::uint32_t value;
        std::size_t trim;        // bytes cut from the end of the file
        const char* says;        // empty: the image is whole
    } rows[] = {
        {"whole", 0x100, 0, 0, ""},
        {"magic", 0x00, 0x13151302, 0, "magic word"},
        {"tag", 0x08, 0x21454741, 0, "tag"},
        {"type 0", 0x34, 0, 0, "type 0"},
        {"type past 16 bits", 0x34, 0x10004, 0, "type 65540"},
        {"no section", 0x30, 0, 0, "no section"},
        {"last section one byte short", 0x100, 0, 1, "section 52 runs from byte 1272 to byte 1281 but the image ends at 1280"},
        // 0xFFFFFFFF + 0x10 wraps in 32 bits to a length that would fit.
        {"section 51 over 32 bits", 0x18, 0xFFFFFFFFu, 0, "section 51 is 4294967311 bytes"},
    };
    ScratchFolder folder;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ImageSizes sizes;
        sizes.l50 = 1000;
        sizes.l51a = 4;
        sizes.l51b = 12;
        sizes.l52 = 9;
        auto bytes = ImageFile(sizes, SampleData(1000 + 0x10 + 9));
        if (row.at != 0x100) PutWord(bytes, row.at, row.value);
        if (row.at == 0x18) PutWord(bytes, 0x14, 0x10);
        if (row.at == 0x30) {
            PutWord(bytes, 0x14, 0);
            PutWord(bytes, 0x18, 0);
            PutWord(bytes, 0x24, 0);
        }
        bytes.resize(bytes.size() - row.trim);
        const auto path = folder / "image.abi";
        WriteFile(path, bytes);
        CFirmwareImage image;
        ASSERT_TRUE(image.OpenImage(path));
        const ImageCheck check = CheckWholeImage(image, bytes.size());
        EXPECT_EQ(check.whole, *row.says == '\0');
        EXPECT_NE(check.failure.find(row.says), std::string::npos) << check.failure;
    }
}

}  // namespace
}  // namespace flashwise::test
