// The image object, the data ranges of the units and the section headers built for them.

#include <gtest/gtest.h>

#include "image/DataSums.h"
#include "image/FirmwareImage.h"
#include "image/SectionHeaderBuilder.h"
#include "image/TransferUnits.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"

namespace flashwise {
namespace {

using test::GetWord;
using test::MakeHeader;
using test::PutWord;
using test::ScratchFolder;

std::array<std::uint8_t, 256> Build(SectionHeaderBuilder& builder, int code, int expect = 1) {
    std::array<std::uint8_t, 256> header{};
    EXPECT_EQ(builder.BuildSectionHeader(header.data(), code), expect) << "code " << code;
    return header;
}

std::uint32_t WordSumOfHeader(const std::array<std::uint8_t, 256>& h) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0x10; at < 0x100; at += 4) sum += GetWord(h.data() + at);
    return sum;
}

TEST(ImageObject, WorkedExampleHeaderAndChecksum) {
    ScratchFolder dir;
    test::MakeWorkedExample(dir / "ex.abi");
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(dir / "ex.abi"));
    SectionHeaderBuilder builder(image);
    const auto h = Build(builder, 50);

    EXPECT_EQ(GetWord(h.data() + 0x00), 0x13151301u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data() + 4), 8), "3GIMAGE ");
    EXPECT_EQ(GetWord(h.data() + 0x10), 0x409u);
    EXPECT_EQ(GetWord(h.data() + 0x30), 4u);
    EXPECT_EQ(GetWord(h.data() + 0x34), 4u);
    EXPECT_EQ(GetWord(h.data() + 0x40), 4u);
    EXPECT_EQ(GetWord(h.data() + 0x0C), 0x04030616u);
    for (std::size_t at : {0x14, 0x18, 0x1C, 0x20, 0x24, 0x28, 0x2C, 0x38, 0x3C, 0x44, 0x48, 0x4C}) {
        EXPECT_EQ(GetWord(h.data() + at), 0u) << "word " << at;
    }
}

TEST(ImageObject, PackagedShapeSizesAndUnit51Range) {
    ScratchFolder dir;
    test::MakePackagedImage(dir / "Tarn_G4.abi");
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(dir / "Tarn_G4.abi"));
    EXPECT_EQ(image.L51a(), 780156u);
    EXPECT_EQ(image.L51b(), 4259840u);
    for (std::uint32_t size : {image.L50(), image.L52(), image.L53(), image.L54a(), image.L54b()}) EXPECT_EQ(size, 0u);
    UnitRange r;
    ASSERT_TRUE(UnitDataRange(image, 51, &r));
    EXPECT_EQ(r.offset, 256u);
    EXPECT_EQ(r.length, 5039996u);
    EXPECT_EQ(r.offset + r.length - 1, 5040251u);  // last byte of section 51
    // Word 0x44 is 0: the extension table is the file's first 2048 bytes, sizes all 0.
    EXPECT_EQ(image.ExtensionTable()[0], 0x01);
    EXPECT_EQ(image.ExtendedRomSize(0), 0u);
    EXPECT_EQ(image.ExtendedRomSelection(), CFirmwareImage::kNoExtendedRom);
}

TEST(ImageObject, SectionsFollowFileOrderNotHeaderOrder) {
    ScratchFolder dir;
    auto bytes = MakeHeader();
    PutWord(bytes, 0x30, 0x10);   // L50
    PutWord(bytes, 0x14, 0x20);   // L51a
    PutWord(bytes, 0x18, 0x30);   // L51b
    PutWord(bytes, 0x24, 0x40);   // L52
    PutWord(bytes, 0x28, 0x50);   // L53
    PutWord(bytes, 0x1C, 0x60);   // L54a
    PutWord(bytes, 0x2C, 0x70);   // L54b
    test::WriteFile(dir / "i.abi", bytes);
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(dir / "i.abi"));
    const std::pair<int, std::uint64_t> expected[] = {
        {50, 256}, {51, 256 + 0x10}, {52, 256 + 0x60}, {53, 256 + 0xA0}, {54, 256 + 0xF0}};
    for (auto [code, offset] : expected) {
        UnitRange r;
        ASSERT_TRUE(UnitDataRange(image, code, &r));
        EXPECT_EQ(r.offset, offset) << "code " << code;
    }
    UnitRange r;
    EXPECT_FALSE(UnitDataRange(image, 49, &r));
    EXPECT_FALSE(UnitDataRange(image, 58, &r));
    // Entry 0 of the extended ROM lies right after section 54.
    EXPECT_EQ(image.ExtendedRomOffset(), 256u + 0x1C0u);
}

TEST(ImageObject, NoFileAndShortFiles) {
    ScratchFolder dir;
    CFirmwareImage image;
    EXPECT_EQ(image.L50(), 0xFFFFFFFFu);
    EXPECT_EQ(image.L54b(), 0xFFFFFFFFu);
    EXPECT_FALSE(image.OpenImage(dir / "missing.abi"));
    EXPECT_FALSE(image.IsOpen());

    test::MakePackagedImage(dir / "full.abi");
    test::WriteFile(dir / "four.abi", {1, 2, 3, 4});
    ASSERT_TRUE(image.OpenImage(dir / "full.abi"));
    EXPECT_EQ(image.L51a(), test::kPackagedL51a);
    // A 4-byte file opened after a full one must not keep the full one's sizes.
    ASSERT_TRUE(image.OpenImage(dir / "four.abi"));
    for (std::uint32_t size : {image.L50(), image.L51a(), image.L51b(), image.L52(), image.L53(), image.L54a(),
                               image.L54b()}) {
        EXPECT_EQ(size, 0u);
    }
    EXPECT_EQ(image.HeaderWord(0), 0x04030201u);
    image.CloseImage();
    EXPECT_EQ(image.L51a(), 0xFFFFFFFFu);
}

TEST(DataSums, PiecesOfAnySizeAndAddressGiveTheSumsOfTheWhole) {
    // Long enough for the 16-bit lanes to be flushed many times; 0xFF runs are the
    // worst case for their overflow.
    std::vector<std::uint8_t> data(20011);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
    std::fill(data.begin() + 3000, data.begin() + 12000, 0xFF);
    std::uint32_t bytes = 0, words = 0;
    for (std::uint8_t b : data) bytes += b;
    for (std::size_t i = 0; i + 4 <= data.size(); i += 4) words += GetWord(data.data() + i);   // 3 left over

    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{8}, std::size_t{13}, std::size_t{1030},
                              std::size_t{20011}}) {
        SCOPED_TRACE(piece);
        DataSummer summer;
        for (std::size_t at = 0; at < data.size(); at += piece)
            summer.Add(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(summer.Sums().bytes, bytes);
        EXPECT_EQ(summer.Sums().words, words);
        EXPECT_EQ(summer.Length(), data.size());
    }
    // Whole words from an odd address, with and without vector instructions.
    std::uint32_t oddBytes = 0, oddWords = 0;
    for (std::size_t i = 1; i < 1 + 4 * 4001; ++i) oddBytes += data[i];
    for (std::size_t i = 1; i < 1 + 4 * 4001; i += 4) oddWords += GetWord(data.data() + i);
    for (const auto add : {&AddWholeWords, &AddWholeWordsPortable}) {
        DataSums fromOdd;
        add(data.data() + 1, 4 * 4001, &fromOdd);
        EXPECT_EQ(fromOdd.bytes, oddBytes);
        EXPECT_EQ(fromOdd.words, oddWords);
    }
}

TEST(SectionHeader, ChecksumLeavesTrailingBytesOutAcrossChunks) {
    ScratchFolder dir;
    // 8192 + 7 bytes: two chunks, a last word of 3 bytes that must not count.
    const std::uint32_t l50 = 8192 + 7;
    auto bytes = MakeHeader();
    PutWord(bytes, 0x30, l50);
    const auto data = test::SampleData(l50, 9);
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.insert(bytes.end(), {0xEE, 0xEE, 0xEE, 0xEE});  // beyond the unit: never summed
    test::WriteFile(dir / "i.abi", bytes);
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(dir / "i.abi"));
    SectionHeaderBuilder builder(image);

    std::uint32_t words = 0;
    for (std::size_t i = 0; i + 4 <= l50; i += 4) words += GetWord(data.data() + i);
    EXPECT_EQ(builder.SumDataWords(256, l50, 50), l50 + words);
    const auto h = Build(builder, 50);
    EXPECT_EQ(GetWord(h.data() + 0x0C), WordSumOfHeader(h) + words);
    // Lengths 1 to 3 add no data word at all.
    EXPECT_EQ(builder.SumDataWords(256, 3, 50), l50);
    // Zero length: only the size words.
    EXPECT_EQ(builder.SumDataWords(256, 0, 50), l50);
}

TEST(SectionHeader, RangePastEndOfFileStopsAtTheEnd) {
    ScratchFolder dir;
    auto bytes = MakeHeader();
    PutWord(bytes, 0x30, 1000);  // claims 1000 bytes, has 6
    bytes.insert(bytes.end(), {1, 0, 0, 0, 9, 9});
    test::WriteFile(dir / "i.abi", bytes);
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(dir / "i.abi"));
    SectionHeaderBuilder builder(image);
    EXPECT_EQ(builder.SumDataWords(256, 1000, 50), 1000u + 1u);
}

TEST(SectionHeader, UnitWordsForEveryCode) {
    ScratchFolder dir;
    auto bytes = MakeHeader();
    PutWord(bytes, 0x30, 4);  // L50
    PutWord(bytes, 0x14, 8);  // L51a
    PutWord(bytes, 0x18, 4);  // L51b
    PutWord(bytes, 0x24, 4);  // L52
    PutWord(bytes, 0x28, 8);  // L53
    PutWord(bytes, 0x1C, 4);  // L54a
    PutWord(bytes, 0x2C, 4);  // L54b
    PutWord(bytes, 0x34, 0x12345);
    bytes.resize(256 + 40, 0x11);
    test::WriteFile(dir / "i.abi", bytes);
    CFirmwareImage image{WorkFolder(dir.Path())};
    ASSERT_TRUE(image.OpenImage(dir / "i.abi"));
    SectionHeaderBuilder builder(image);

    struct Expect { int code; std::size_t at; std::uint32_t value; };
    const Expect own[] = {{51, 0x14, 8}, {51, 0x18, 4}, {52, 0x24, 4}, {53, 0x28, 8},
                          {54, 0x1C, 4}, {54, 0x2C, 4}, {50, 0x30, 4}};
    for (const Expect& e : own) {
        const auto h = Build(builder, e.code);
        EXPECT_EQ(GetWord(h.data() + e.at), e.value) << "code " << e.code << " word " << e.at;
        // Every unit carries L53, L54b, L50 and the type, whatever its own words.
        EXPECT_EQ(GetWord(h.data() + 0x38), 8u);
        EXPECT_EQ(GetWord(h.data() + 0x3C), 4u);
        EXPECT_EQ(GetWord(h.data() + 0x40), 4u);
        EXPECT_EQ(GetWord(h.data() + 0x34), 0x12345u);
        EXPECT_EQ(GetWord(h.data() + 0x4C), 0u);
        UnitRange r;
        ASSERT_TRUE(UnitDataRange(image, e.code, &r));
        const std::uint32_t data = 0x11111111u * (r.length / 4);
        EXPECT_EQ(GetWord(h.data() + 0x0C), WordSumOfHeader(h) + data) << "code " << e.code;
    }
    // Words a unit does not own stay zero (unit 52 owns only 0x24).
    const auto h52 = Build(builder, 52);
    for (std::size_t at : {0x14, 0x18, 0x1C, 0x28, 0x2C, 0x30}) EXPECT_EQ(GetWord(h52.data() + at), 0u);

    std::array<std::uint8_t, 256> header{};
    EXPECT_EQ(builder.BuildSectionHeader(header.data(), 49), SectionHeaderBuilder::kUnknownCode);
    EXPECT_EQ(builder.BuildSectionHeader(header.data(), 58), SectionHeaderBuilder::kUnknownCode);
    // Unit 55 without its unpacked file cannot be described.
    EXPECT_EQ(builder.BuildSectionHeader(header.data(), 55), SectionHeaderBuilder::kExtRomUnavailable);

    test::WriteFile(dir / "ExtRom.tmp", {2, 0, 0, 0, 3, 0, 0, 0, 7});
    const auto h55 = Build(builder, 55);
    EXPECT_EQ(GetWord(h55.data() + 0x30), 9u);
    EXPECT_EQ(GetWord(h55.data() + 0x0C), WordSumOfHeader(h55) + 5u);
    // Built twice in a row: the file is read from its start each time.
    EXPECT_EQ(Build(builder, 55), h55);
}

// Section 54 at the split and one byte past it, on sparse files of about 62 MB.
class SplitSection : public ::testing::Test {
protected:
    void Make(std::uint32_t l54a, std::uint32_t l54b) {
        auto header = MakeHeader();
        PutWord(header, 0x1C, l54a);
        PutWord(header, 0x2C, l54b);
        PutWord(header, 0x30, 4);  // L50, ahead of 54 in the file
        path_ = dir_ / "big.abi";
        test::MakeSparseFile(path_, 256 + 4 + static_cast<std::uint64_t>(l54a) + l54b);
        test::WriteAt(path_, 0, header);
        ASSERT_TRUE(image_.OpenImage(path_));
    }
    ScratchFolder dir_;
    std::filesystem::path path_;
    CFirmwareImage image_;
};

TEST_F(SplitSection, OneByteOverSplitsAt0x3B00000) {
    Make(0x100, kSplitOffset + 1 - 0x100);
    const std::uint64_t at54 = 256 + 4;
    // Marks: the last word of unit 56 and the only byte of unit 57.
    test::WriteAt(path_, at54 + kSplitOffset - 4, {5, 0, 0, 0});
    test::WriteAt(path_, at54 + kSplitOffset, {0x77});

    UnitRange r56, r57;
    ASSERT_TRUE(UnitDataRange(image_, 56, &r56));
    ASSERT_TRUE(UnitDataRange(image_, 57, &r57));
    EXPECT_EQ(r56.offset, at54);
    EXPECT_EQ(r56.length, kSplitOffset);
    EXPECT_EQ(r57.offset, at54 + kSplitOffset);
    EXPECT_EQ(r57.length, 1u);

    SectionHeaderBuilder builder(image_);
    const auto h56 = Build(builder, 56);
    EXPECT_EQ(GetWord(h56.data() + 0x1C), 0x100u);
    EXPECT_EQ(GetWord(h56.data() + 0x2C), kSplitOffset);
    EXPECT_EQ(GetWord(h56.data() + 0x4C), 0u);
    EXPECT_EQ(GetWord(h56.data() + 0x0C), WordSumOfHeader(h56) + 5u);

    const auto h57 = Build(builder, 57);
    EXPECT_EQ(GetWord(h57.data() + 0x1C), 0x100u);
    EXPECT_EQ(GetWord(h57.data() + 0x2C), kSplitOffset + 1 - 0x100 - kSplitOffset);  // wraps in 32 bits
    EXPECT_EQ(GetWord(h57.data() + 0x4C), 1u);
    // One byte is no whole word: only the header words count.
    EXPECT_EQ(GetWord(h57.data() + 0x0C), WordSumOfHeader(h57));
}

TEST_F(SplitSection, ExactlyTheSplitIsOneUnit) {
    Make(0, kSplitOffset);
    test::WriteAt(path_, 260 + kSplitOffset - 4, {1, 2, 0, 0});
    UnitRange r;
    ASSERT_TRUE(UnitDataRange(image_, 54, &r));
    EXPECT_EQ(r.length, kSplitOffset);
    SectionHeaderBuilder builder(image_);
    const auto h = Build(builder, 54);
    EXPECT_EQ(GetWord(h.data() + 0x2C), kSplitOffset);
    EXPECT_EQ(GetWord(h.data() + 0x0C), WordSumOfHeader(h) + 0x0201u);
}

}  // namespace
}  // namespace flashwise
