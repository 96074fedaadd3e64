// The demo release's firmware image as the build generates it: the packaged-image
// shape, read back through the image object the download path uses.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "image/FirmwareImage.h"
#include "tests/support/ScratchFolder.h"

namespace fs = std::filesystem;
using flashwise::CFirmwareImage;
using flashwise::LoadLe32;

namespace {

class GeneratedImage : public testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<flashwise::test::ScratchFolder>();
        path_ = *folder_ / "demo-image.abi";
        const std::string command = std::string("\"") + FLASHWISE_PYTHON + "\" \"" + FLASHWISE_IMAGE_SCRIPT +
                                    "\" --output \"" + path_.string() + "\"";
        status_ = std::system(command.c_str());
        std::ifstream in(path_, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), {});
    }
    static void TearDownTestSuite() {
        folder_.reset();
    }
    static const std::uint8_t* At(std::size_t offset) {
        return reinterpret_cast<const std::uint8_t*>(bytes_.data()) + offset;
    }

    static std::unique_ptr<flashwise::test::ScratchFolder> folder_;
    static fs::path path_;
    static int status_;
    static std::vector<char> bytes_;
};

std::unique_ptr<flashwise::test::ScratchFolder> GeneratedImage::folder_;
fs::path GeneratedImage::path_;
int GeneratedImage::status_ = -1;
std::vector<char> GeneratedImage::bytes_;

constexpr std::uint32_t kL51a = 780156;
constexpr std::uint32_t kL51b = 4259840;
constexpr std::size_t kTail = 256 + kL51a + kL51b;

}  // namespace

TEST_F(GeneratedImage, HeaderAndSizesAsThePackagedImage) {
    ASSERT_EQ(status_, 0);
    ASSERT_EQ(bytes_.size(), 5042300u);

    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(path_));
    EXPECT_EQ(image.HeaderWord(0x00), 0x13151301u);
    EXPECT_EQ(std::string(bytes_.data() + 4, 8), "3GIMAGE ");
    EXPECT_EQ(image.HeaderWord(0x10), 0x409u);
    EXPECT_EQ(image.HeaderWord(0x34), 4u);
    EXPECT_EQ(image.HeaderWord(0x44), 0u);
    EXPECT_EQ(image.HeaderWord(0x48), 2048u);
    EXPECT_EQ(image.L51a(), kL51a);
    EXPECT_EQ(image.L51b(), kL51b);
    EXPECT_EQ(image.L50(), 0u);
    EXPECT_EQ(image.L52(), 0u);
    EXPECT_EQ(image.L53(), 0u);
    EXPECT_EQ(image.L54a(), 0u);
    EXPECT_EQ(image.L54b(), 0u);
    for (std::size_t offset = 0x4C; offset < 256; offset += 4) {
        EXPECT_EQ(image.HeaderWord(offset), 0u) << "header word " << offset;
    }
    // Table offset 0: the extension table is the file's start, and its size array
    // begins at header byte 196, which is zero, so no extended-ROM entry exists.
    EXPECT_EQ(image.ExtendedRomSize(0), 0u);
    image.CloseImage();
}

TEST_F(GeneratedImage, SectionContentsAndVersionBlock) {
    ASSERT_EQ(bytes_.size(), 5042300u);
    // Section 51a: a 32-bit little-endian ARM executable.
    EXPECT_EQ(std::string(bytes_.data() + 256, 4), "\x7f" "ELF");
    EXPECT_EQ(*At(256 + 4), 1);   // 32-bit
    EXPECT_EQ(*At(256 + 5), 1);   // little-endian
    EXPECT_EQ(At(256 + 16)[0] | At(256 + 16)[1] << 8, 2);   // executable
    EXPECT_EQ(At(256 + 18)[0] | At(256 + 18)[1] << 8, 40);  // ARM
    // Section 51b.
    EXPECT_EQ(std::string(bytes_.data() + 256 + kL51a, 9), "Intel_FBF");
    // Three NUL-padded 64-byte texts, then zeros.
    const char* tail = bytes_.data() + kTail;
    EXPECT_EQ(std::string(tail), "1.2.3");
    EXPECT_EQ(std::string(tail + 64), "1.2.3.4");
    EXPECT_EQ(std::string(tail + 128), "1.2.3.4.5");
    for (std::size_t i = 0; i < 2048; ++i) {
        const bool inText = (i < 5) || (i >= 64 && i < 71) || (i >= 128 && i < 137);
        if (!inText) {
            ASSERT_EQ(tail[i], 0) << "version block byte " << i;
        }
    }
}

TEST_F(GeneratedImage, SameBytesOnEveryRun) {
    ASSERT_EQ(status_, 0);
    const fs::path again = path_.string() + ".again";
    const std::string command = std::string("\"") + FLASHWISE_PYTHON + "\" \"" + FLASHWISE_IMAGE_SCRIPT +
                                "\" --output \"" + again.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(again, std::ios::binary);
    const std::vector<char> second(std::istreambuf_iterator<char>(in), {});
    fs::remove(again);
    EXPECT_TRUE(second == bytes_);
}

// The boot-loader image: the same header with section 50 alone, and nothing after it,
// so the download driver sends exactly one unit in the boot-loader pass.
TEST_F(GeneratedImage, BootLoaderImageHoldsSection50Only) {
    const fs::path boot = path_.string() + ".boot";
    const std::string command = std::string("\"") + FLASHWISE_PYTHON + "\" \"" + FLASHWISE_IMAGE_SCRIPT +
                                "\" --boot-loader --output \"" + boot.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_EQ(fs::file_size(boot), 256u + 196608u);

    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(boot));
    EXPECT_EQ(image.HeaderWord(0x00), 0x13151301u);
    EXPECT_EQ(image.HeaderWord(0x10), 0x409u);
    EXPECT_EQ(image.HeaderWord(0x34), 4u);
    EXPECT_EQ(image.HeaderWord(0x48), 0u);
    EXPECT_EQ(image.L50(), 196608u);
    EXPECT_EQ(image.L51a() + image.L51b() + image.L52() + image.L53() + image.L54a() + image.L54b(), 0u);
    image.CloseImage();
    fs::remove(boot);
}
