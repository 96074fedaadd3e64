#include "link/Blocks.h"

#include <gtest/gtest.h>

#include <cstring>

#include "image/FirmwareImage.h"
#include "image/SectionHeaderBuilder.h"
#include "link/UnitData.h"
#include "tests/link/LinkTestSupport.h"

namespace flashwise::test {
namespace {

std::vector<std::uint8_t> Fill(CFirmwareImage& image, int code, std::uint8_t flag,
                               const std::vector<std::uint8_t>& header, RequestFill* result,
                               std::uint8_t initial = 0) {
    std::vector<std::uint8_t> request(72, initial);
    *result = FillRequestBlock(image, code, flag, header.data(), request.data());
    return request;
}

std::uint32_t ByteSum(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t sum = 0;
    for (auto b : bytes) sum += b;
    return sum;
}

TEST(RequestBlock, WorkedExampleHasTheExactLayout) {
    ScratchFolder folder{ScratchFolder::Use::AsCurrentFolder};
    ImageSizes sizes;
    sizes.l50 = 4;
    WriteFile("Tarn_G4.abi", ImageFile(sizes, Bytes({1, 2, 3, 4})));
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(folder.Path() / "Tarn_G4.abi"));

    RequestFill result;
    const auto request = Fill(image, 50, kAnnounceFlag, WorkedExampleSectionHeader(), &result);
    ASSERT_EQ(result, RequestFill::Built);

    std::vector<std::uint8_t> expected(72, 0);
    StoreLe32(&expected[0x00], 0x5566);
    StoreLe32(&expected[0x04], 0x9988);
    StoreLe32(&expected[0x08], 0x9AA80000);
    StoreLe32(&expected[0x0C], 260);
    std::memcpy(&expected[0x10], "Tarn_G4.abi", 11);
    expected[0x2E] = 1;
    expected[0x30] = 4;
    StoreLe32(&expected[0x44], 639);
    EXPECT_EQ(request, expected);

    const auto again = Fill(image, 50, kSendFlag, WorkedExampleSectionHeader(), &result);
    expected[0x2E] = 0;
    EXPECT_EQ(again, expected);

    // The tool's way in builds the section header itself and arrives at the same block.
    std::vector<std::uint8_t> built(72, 0xEE);
    ASSERT_EQ(BuildRequestBlock(image, 50, kSendFlag, built.data()), RequestFill::Built);
    EXPECT_EQ(built, expected);
}

TEST(RequestBlock, RewritesOnlyItsFieldsAndTheWholeNameField) {
    ScratchFolder folder{ScratchFolder::Use::AsCurrentFolder};
    ImageSizes sizes;
    sizes.l50 = 4;
    const std::string longName = "A_firmware_image_with_a_very_long_name_é.abi";
    WriteFile(longName, ImageFile(sizes, Bytes({1, 2, 3, 4}), 0x12345678));
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(folder.Path() / longName));

    RequestFill result;
    const auto request = Fill(image, 50, kAnnounceFlag, WorkedExampleSectionHeader(), &result, 0xEE);
    ASSERT_EQ(result, RequestFill::Built);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&request[0x10]), 29),
              longName.substr(0, 29));
    EXPECT_EQ(request[0x10 + 29], 0);   // terminated within the 30-byte field
    EXPECT_EQ(request[0x2F], 0xEE);     // untouched fields keep what the caller put there
    EXPECT_EQ(request[0x30], 0x78);     // low 16 bits of the image type
    EXPECT_EQ(request[0x31], 0x56);
    for (int i = 0x32; i < 0x44; ++i) EXPECT_EQ(request[i], 0xEE) << i;

    std::u16string accented = u"Tarn_\u00e9.abi";
    std::vector<std::uint8_t> block(72, 0xEE);
    PutRequestFileName(block.data(), accented);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[0x10])), "Tarn_?.abi");
    for (int i = 0x10 + 10; i < 0x2E; ++i) EXPECT_EQ(block[i], 0) << i;
}

TEST(RequestBlock, ChecksumStreamsLargeUnitsAndCountsZeroDataAsHeaderOnly) {
    ScratchFolder folder{ScratchFolder::Use::AsCurrentFolder};
    ImageSizes sizes;
    sizes.l50 = 3;
    sizes.l51a = 20000;
    sizes.l51b = 5;
    std::vector<std::uint8_t> data = Bytes({9, 9, 9});
    data.insert(data.end(), 20000, 0xFF);
    data.insert(data.end(), 5, 0);
    data.insert(data.end(), 7, 0x40);   // bytes after the unit are not summed
    WriteFile("image.abi", ImageFile(sizes, data));
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(folder.Path() / "image.abi"));
    const auto header = WorkedExampleSectionHeader();

    RequestFill result;
    auto request = Fill(image, 51, kSendFlag, header, &result);
    ASSERT_EQ(result, RequestFill::Built);
    EXPECT_EQ(LoadLe32(&request[0x0C]), 20005u + 256u);
    EXPECT_EQ(LoadLe32(&request[0x44]), 20000u * 0xFF + ByteSum(header));

    ImageSizes zeros;
    zeros.l52 = 100;
    WriteFile("zeros.abi", ImageFile(zeros, std::vector<std::uint8_t>(100, 0)));
    ASSERT_TRUE(image.OpenImage(folder.Path() / "zeros.abi"));
    request = Fill(image, 52, kSendFlag, header, &result);
    ASSERT_EQ(result, RequestFill::Built);
    EXPECT_EQ(LoadLe32(&request[0x44]), ByteSum(header));
}

TEST(RequestBlock, HeaderPassSumsAreReusedOnlyForTheSameRangeOfTheSameFile) {
    ScratchFolder folder{ScratchFolder::Use::AsCurrentFolder};
    ImageSizes sizes;
    sizes.l50 = 9;
    sizes.l51a = 70001;   // several of the builder's chunks, and a last word of 1 byte
    sizes.l52 = 6;
    std::vector<std::uint8_t> data(sizes.l50 + sizes.l51a + sizes.l52);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    WriteFile("a.abi", ImageFile(sizes, data));
    std::vector<std::uint8_t> other = data;
    for (auto& b : other) b = static_cast<std::uint8_t>(b ^ 0x5A);
    WriteFile("b.abi", ImageFile(sizes, other));

    // Each unit's block built by a link on its own (a fresh image object, so the link
    // reads the data itself) and after the header builder's pass are the same bytes.
    for (int code : {50, 51, 52}) {
        SCOPED_TRACE(code);
        std::vector<std::uint8_t> alone(72, 0), afterHeader(72, 0);
        CFirmwareImage first;
        ASSERT_TRUE(first.OpenImage(folder.Path() / "a.abi"));
        std::vector<std::uint8_t> header(256, 0);
        SectionHeaderBuilder builder(first);
        ASSERT_EQ(builder.BuildSectionHeader(header.data(), code), SectionHeaderBuilder::kBuilt);
        ASSERT_EQ(FillRequestBlock(first, code, kSendFlag, header.data(), afterHeader.data()), RequestFill::Built);
        CFirmwareImage second;
        ASSERT_TRUE(second.OpenImage(folder.Path() / "a.abi"));
        ASSERT_EQ(FillRequestBlock(second, code, kSendFlag, header.data(), alone.data()), RequestFill::Built);
        EXPECT_EQ(afterHeader, alone);
    }

    // Another file opened in the same image object is summed afresh, as is another range.
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(folder.Path() / "a.abi"));
    SectionHeaderBuilder builder(image);
    std::vector<std::uint8_t> header(256, 0);
    ASSERT_EQ(builder.BuildSectionHeader(header.data(), 51), SectionHeaderBuilder::kBuilt);
    const std::vector<std::uint8_t> unit51a(data.begin() + 9, data.begin() + 9 + 70001);
    const std::vector<std::uint8_t> unit51b(other.begin() + 9, other.begin() + 9 + 70001);
    RequestFill result;
    EXPECT_EQ(LoadLe32(&Fill(image, 51, kSendFlag, header, &result)[0x44]), ByteSum(unit51a) + ByteSum(header));
    ASSERT_TRUE(image.OpenImage(folder.Path() / "b.abi"));
    EXPECT_EQ(LoadLe32(&Fill(image, 51, kSendFlag, header, &result)[0x44]), ByteSum(unit51b) + ByteSum(header));
    const std::vector<std::uint8_t> unit52(other.end() - 6, other.end());
    EXPECT_EQ(LoadLe32(&Fill(image, 52, kSendFlag, header, &result)[0x44]), ByteSum(unit52) + ByteSum(header));
    image.CloseImage();
    DataSums sums;
    EXPECT_FALSE(image.RecallSums(256 + 9, 70001, &sums));
}

TEST(RequestBlock, RangeCutShortByTheFileIsNeverTakenFromTheHeaderPass) {
    ScratchFolder folder{ScratchFolder::Use::AsCurrentFolder};
    ImageSizes sizes;
    sizes.l53 = 1000;   // the file holds 5 of them
    WriteFile("short.abi", ImageFile(sizes, Bytes({1, 2, 3, 4, 5})));
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(folder.Path() / "short.abi"));
    SectionHeaderBuilder builder(image);
    std::vector<std::uint8_t> header(256, 0);
    ASSERT_EQ(builder.BuildSectionHeader(header.data(), 53), SectionHeaderBuilder::kBuilt);
    std::uint32_t headerWords = 0;
    for (std::size_t at = 0x10; at < 0x100; at += 4) headerWords += LoadLe32(&header[at]);
    EXPECT_EQ(LoadLe32(&header[0x0C]), headerWords + 0x04030201u);   // the one whole data word there is
    RequestFill result;
    Fill(image, 53, kAnnounceFlag, header, &result);
    EXPECT_EQ(result, RequestFill::Failed);
}

TEST(RequestBlock, EmptyMissingAndShortUnits) {
    ScratchFolder folder{ScratchFolder::Use::AsCurrentFolder};
    ImageSizes sizes;
    sizes.l50 = 4;
    sizes.l53 = 1000;   // longer than the file holds
    WriteFile("image.abi", ImageFile(sizes, Bytes({1, 2, 3, 4, 5})));
    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(folder.Path() / "image.abi"));
    const auto header = WorkedExampleSectionHeader();

    RequestFill result;
    auto request = Fill(image, 52, kAnnounceFlag, header, &result, 0xEE);
    EXPECT_EQ(result, RequestFill::Empty);
    EXPECT_EQ(request, std::vector<std::uint8_t>(72, 0xEE));   // nothing written

    Fill(image, 53, kAnnounceFlag, header, &result);
    EXPECT_EQ(result, RequestFill::Failed);
    Fill(image, 49, kAnnounceFlag, header, &result);
    EXPECT_EQ(result, RequestFill::Failed);

    // Unit 55 comes from ExtRom.tmp in the working folder.
    Fill(image, 55, kAnnounceFlag, header, &result);
    EXPECT_EQ(result, RequestFill::Failed);
    WriteFile("ExtRom.tmp", {});
    Fill(image, 55, kAnnounceFlag, header, &result);
    EXPECT_EQ(result, RequestFill::Empty);
    WriteFile("ExtRom.tmp", Bytes({0x10, 0x20}));
    request = Fill(image, 55, kAnnounceFlag, header, &result);
    ASSERT_EQ(result, RequestFill::Built);
    EXPECT_EQ(LoadLe32(&request[0x0C]), 258u);
    EXPECT_EQ(LoadLe32(&request[0x44]), 0x30u + ByteSum(header));

    // With no image file open the type reads 0xFFFF and the name is empty.
    image.CloseImage();
    request = Fill(image, 55, kAnnounceFlag, header, &result, 0xEE);
    ASSERT_EQ(result, RequestFill::Built);
    EXPECT_EQ(request[0x30], 0xFF);
    EXPECT_EQ(request[0x31], 0xFF);
    EXPECT_EQ(request[0x10], 0);
    Fill(image, 50, kAnnounceFlag, header, &result);
    EXPECT_EQ(result, RequestFill::Failed);
}

TEST(EndOfTransferBlock, IsTheMarkThenZeros) {
    std::vector<std::uint8_t> block(72, 0xEE);
    BuildEndOfTransferBlock(block.data());
    std::vector<std::uint8_t> expected(72, 0);
    expected[0] = 0x34;
    expected[1] = 0x12;
    EXPECT_EQ(block, expected);
}

struct MoreBytes {
    std::vector<std::uint8_t> bytes;
    bool ok = true;
    std::vector<int> asked;
    ReadMoreFn Fn() {
        return [this](int count, std::uint8_t* into) {
            asked.push_back(count);
            std::copy(bytes.begin(), bytes.begin() + std::min<std::size_t>(count, bytes.size()), into);
            return ok;
        };
    }
};

TEST(StatusRecord, ShiftedRecordIsCompletedFromThePort) {
    auto record = Bytes({0, 0, 0, 0xAA, 0x55, 0, 0, 0x77, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0});
    MoreBytes more;
    more.bytes = Bytes({0xA1, 0xA2, 0xA3});
    ASSERT_TRUE(CompleteStatusRecord(record.data(), more.Fn()));
    EXPECT_EQ(more.asked, std::vector<int>{3});
    auto expected = Record(kResultKind, 0x77, 1);
    expected[17] = 0xA1;
    expected[18] = 0xA2;
    expected[19] = 0xA3;
    EXPECT_EQ(record, expected);
    EXPECT_TRUE(IsReady(DecodeStatusRecord(record.data())));

    more.ok = false;
    record = Bytes({0, 0x55, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(CompleteStatusRecord(record.data(), more.Fn()));
}

TEST(StatusRecord, MarkAtTheVeryStartOrNowhere) {
    MoreBytes more;
    auto record = Record(kProgressKind, 42);
    ASSERT_TRUE(CompleteStatusRecord(record.data(), more.Fn()));
    EXPECT_TRUE(more.asked.empty());
    EXPECT_EQ(record, Record(kProgressKind, 42));

    // A mark that would start at byte 19 is not a mark: the record reads as zeros.
    record = std::vector<std::uint8_t>(20, 0x11);
    record[19] = 0x55;
    ASSERT_TRUE(CompleteStatusRecord(record.data(), more.Fn()));
    EXPECT_TRUE(more.asked.empty());
    EXPECT_EQ(record, std::vector<std::uint8_t>(20, 0));

    // At byte 18 it is the last one found, completed with 18 more bytes.
    record = std::vector<std::uint8_t>(20, 0x11);
    record[18] = 0xAA;
    record[19] = 0x55;
    more.bytes = std::vector<std::uint8_t>(18, 0x22);
    ASSERT_TRUE(CompleteStatusRecord(record.data(), more.Fn()));
    EXPECT_EQ(more.asked, std::vector<int>{18});
    EXPECT_EQ(DecodeStatusRecord(record.data()).kind, 0x222255AAu);
}

TEST(StatusRecord, ReadinessNeedsAllThreeWords) {
    EXPECT_TRUE(IsReady({kResultKind, 0x77, 1}));
    EXPECT_FALSE(IsReady({kResultKind, 0x77, 0}));
    EXPECT_FALSE(IsReady({kResultKind, 0x76, 1}));
    EXPECT_FALSE(IsReady({kProgressKind, 0x77, 1}));
    EXPECT_FALSE(IsReady({0, 0, 0}));
}

TEST(StatusRecord, ResultsAreJudged) {
    EXPECT_EQ(JudgeResult({kResultKind, 0, 0}), UnitResult::Written);
    for (std::uint32_t code : {0x22u, 0x88u, 0x99u}) {
        EXPECT_EQ(JudgeResult({kResultKind, code, 0}), UnitResult::Rejected) << code;
    }
    for (std::uint32_t code : {1u, 5u, 0x77u, 0x23u, 0xFFFFFFFFu}) {
        EXPECT_EQ(JudgeResult({kResultKind, code, 0}), UnitResult::NotFinal) << code;
    }
    EXPECT_EQ(JudgeResult({kProgressKind, 0, 0}), UnitResult::Progress);
    EXPECT_EQ(JudgeResult({0, 0, 0}), UnitResult::NotFinal);
    EXPECT_EQ(JudgeResult({0x3412AA55u, 0, 0}), UnitResult::NotFinal);

    EXPECT_EQ(RoundUpProgress(250), 300u);
    EXPECT_EQ(RoundUpProgress(300), 300u);
    EXPECT_EQ(RoundUpProgress(0), 0u);
    EXPECT_EQ(RoundUpProgress(1), 100u);
    // A boot loader's figure near the top of 32 bits never wraps round to a small one.
    EXPECT_EQ(RoundUpProgress(4294967199u), 4294967200u);
    EXPECT_EQ(RoundUpProgress(4294967200u), 4294967200u);
    EXPECT_EQ(RoundUpProgress(4294967201u), 4294967201u);
    EXPECT_EQ(RoundUpProgress(0xFFFFFFFFu), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace flashwise::test
