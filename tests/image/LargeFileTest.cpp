// Offsets past 4 GiB, on whatever file system the build runs on (natively and under
// Wine): the file object and the split's second unit. The files are sparse: only a
// header and a few marker words are ever written, and only those few are read.

#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <string>

#include "image/FirmwareImage.h"
#include "image/RandomAccessFile.h"
#include "image/SectionHeaderBuilder.h"
#include "image/TransferUnits.h"
#include "tests/support/ScratchFolder.h"

namespace flashwise {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kPast4GiB = 0x100000010ull;

class LargeFile : public ::testing::Test {
protected:
    void WriteAt(RandomAccessFile& f, std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
        ASSERT_TRUE(f.Seek(offset));
        ASSERT_EQ(f.Write(bytes, n), n);
    }
    test::ScratchFolder folder_;
    fs::path path_ = folder_ / "large.abi";
};

TEST_F(LargeFile, SeekReadWriteAndLengthPast4GiB) {
    RandomAccessFile f;
    ASSERT_TRUE(f.Open(path_, RandomAccessFile::Mode::CreateReadWrite));
    const std::uint8_t marker[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    WriteAt(f, kPast4GiB, marker, sizeof marker);
    ASSERT_TRUE(f.Flush());
    EXPECT_EQ(f.Length(), kPast4GiB + 8);

    std::uint8_t back[8] = {};
    ASSERT_TRUE(f.Seek(kPast4GiB));
    EXPECT_EQ(f.Read(back, 8), 8u);
    EXPECT_EQ(std::memcmp(back, marker, 8), 0);
    // The same low 32 bits, 4 GiB earlier: still the hole.
    ASSERT_TRUE(f.Seek(kPast4GiB - 0x100000000ull));
    EXPECT_EQ(f.Read(back, 8), 8u);
    EXPECT_EQ(back[0], 0);
    // Length keeps the position.
    ASSERT_TRUE(f.Seek(kPast4GiB + 4));
    EXPECT_EQ(f.Length(), kPast4GiB + 8);
    EXPECT_EQ(f.Read(back, 8), 4u);
    EXPECT_EQ(back[0], 5);
}

TEST_F(LargeFile, SecondUnitOfTheSplitStartsPast4GiB) {
    // Section 50 nearly fills 4 GiB, so section 54 starts at 0xFFFF0100 and its
    // second transfer (unit 57) at 0xFFFF0100 + 0x3B00000, beyond 32 bits.
    const std::uint32_t l50 = 0xFFFF0000u;
    const std::uint32_t l54a = kSplitOffset + 8;
    std::uint8_t header[256] = {};
    StoreLe32(header + 0x10, 0x409);
    StoreLe32(header + 0x30, l50);
    StoreLe32(header + 0x1C, l54a);
    const std::uint64_t at57 = 256ull + l50 + kSplitOffset;
    const std::uint8_t data57[8] = {0x10, 0, 0, 0, 0x20, 0, 0, 0};
    {
        RandomAccessFile f;
        ASSERT_TRUE(f.Open(path_, RandomAccessFile::Mode::CreateReadWrite));
        WriteAt(f, 0, header, sizeof header);
        WriteAt(f, at57, data57, sizeof data57);
    }
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(path_));
    UnitRange r57;
    ASSERT_TRUE(UnitDataRange(image, 57, &r57));
    EXPECT_EQ(r57.offset, at57);
    EXPECT_EQ(r57.length, 8u);

    SectionHeaderBuilder builder(image);
    std::uint8_t h57[256] = {};
    ASSERT_EQ(builder.BuildSectionHeader(h57, 57), 1);
    std::uint32_t headerWords = 0;
    for (std::size_t at = 0x10; at < 0x100; at += 4) headerWords += LoadLe32(h57 + at);
    EXPECT_EQ(LoadLe32(h57 + 0x0C), headerWords + 0x30u);

}

}  // namespace
}  // namespace flashwise
