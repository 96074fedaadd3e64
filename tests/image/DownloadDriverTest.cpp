// The download driver against a recording link: unit order, early and failure exits,
// the finished flag, the completed fraction and the extended-ROM unit.

#include <gtest/gtest.h>

#include <filesystem>

#include "image/DownloadDriver.h"
#include "image/TransferUnits.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/image/RecordingLink.h"

namespace flashwise {
namespace {

using test::GetWord;
using test::MakeHeader;
using test::PutWord;
using test::RecordingLink;
using test::ScratchFolder;

class Driver : public ::testing::Test {
protected:
    void Open(const std::filesystem::path& path) {
        ASSERT_TRUE(image_.OpenImage(path));
        state_.BeginPass(std::filesystem::file_size(path));
    }
    bool Run() {
        return RunDownload(state_, link_, image_, [this](std::uint32_t ms) {
            pauses_.push_back(ms);
            link_.calls.push_back(RecordingLink::Call{"pause"});
        });
    }
    // Header with every section present: each 8 bytes except as given.
    void MakeAllSections(std::uint32_t each = 8) {
        auto bytes = MakeHeader();
        for (std::size_t at : {0x30, 0x14, 0x18, 0x24, 0x28, 0x1C, 0x2C}) PutWord(bytes, at, each);
        bytes.resize(256 + 7 * each, 0x22);
        test::WriteFile(dir_ / "all.abi", bytes);
        Open(dir_ / "all.abi");
    }

    ScratchFolder dir_;
    CFirmwareImage image_{WorkFolder(dir_.Path())};
    DownloadState state_;
    RecordingLink link_;
    std::vector<std::uint32_t> pauses_;
};

TEST_F(Driver, PackagedImageSendsUnit51Only) {
    test::MakePackagedImage(dir_ / "Tarn_G4.abi");
    Open(dir_ / "Tarn_G4.abi");
    EXPECT_TRUE(Run());
    EXPECT_EQ(link_.Trace(), "prepare 51, send 51, end");
    EXPECT_TRUE(state_.IsFinished());
    EXPECT_FALSE(image_.IsOpen());
    EXPECT_DOUBLE_EQ(state_.Completed(), 5039996.0 / 5042300.0);
    EXPECT_EQ(state_.HeaderBuilder(), nullptr);  // dropped after a success
    const auto& h = link_.calls[0].header;
    EXPECT_EQ(GetWord(h.data() + 0x14), test::kPackagedL51a);
    EXPECT_EQ(GetWord(h.data() + 0x18), test::kPackagedL51b);
    EXPECT_EQ(GetWord(h.data() + 0x34), 4u);
    EXPECT_EQ(link_.calls[0].image, &image_);
    EXPECT_TRUE(pauses_.empty());
}

TEST_F(Driver, FixedOrderAndOneRequestBlockForThePass) {
    MakeAllSections();
    EXPECT_TRUE(Run());
    EXPECT_EQ(link_.Trace(),
              "prepare 51, send 51, prepare 54, send 54, prepare 52, send 52, prepare 50, send 50, "
              "prepare 53, send 53, end");
    // One buffer, zero-filled once: later calls see what the link left in it.
    std::array<std::uint8_t, kRequestBlockSize> zeros{};
    EXPECT_EQ(link_.calls[0].requestOnEntry, zeros);
    for (std::size_t i = 1; i + 1 < link_.calls.size(); ++i) {
        EXPECT_EQ(link_.calls[i].request, link_.calls[0].request);
        EXPECT_EQ(link_.calls[i].requestOnEntry[0], 0x66);
    }
    // Both operations of a unit get the same header; each unit its own.
    EXPECT_EQ(link_.calls[2].header, link_.calls[3].header);
    EXPECT_EQ(GetWord(link_.calls[2].header.data() + 0x1C), 8u);
    EXPECT_EQ(GetWord(link_.calls[2].header.data() + 0x14), 0u);
    // 56 bytes of 312 sent.
    EXPECT_DOUBLE_EQ(state_.Completed(), 56.0 / 312.0);
    EXPECT_EQ(state_.UnitsWritten(), 5u);
}

TEST_F(Driver, EndOfTransferThatDoesNotGoFailsThePass) {
    MakeAllSections();
    link_.endFails = true;
    EXPECT_FALSE(Run());
    EXPECT_EQ(link_.calls.back().op, "end");
    EXPECT_TRUE(state_.IsFinished());
    EXPECT_FALSE(image_.IsOpen());
}

TEST_F(Driver, FourByteFileSendsNothingButEndsTheTransfer) {
    test::WriteFile(dir_ / "Tarn_G4_SPBL.abi", {0xDE, 0xAD, 0xBE, 0xEF});
    Open(dir_ / "Tarn_G4_SPBL.abi");
    EXPECT_TRUE(Run());
    EXPECT_EQ(link_.Trace(), "end");
    EXPECT_TRUE(state_.IsFinished());
    EXPECT_FALSE(image_.IsOpen());
    EXPECT_DOUBLE_EQ(state_.Completed(), 0.0);
    EXPECT_EQ(state_.UnitsWritten(), 0u);  // the caller decides whether an empty pass will do
}

TEST_F(Driver, ImageNotOpenIsAnEarlyExit) {
    EXPECT_FALSE(Run());
    EXPECT_TRUE(link_.calls.empty());
    EXPECT_FALSE(state_.IsFinished());
}

TEST_F(Driver, FailureInUnit52StopsTheRest) {
    MakeAllSections();
    for (const char* op : {"prepare", "send"}) {
        SCOPED_TRACE(op);
        link_.calls.clear();
        state_.BeginPass(256 + 56);
        link_.failOp = op;
        link_.failCode = 52;
        ASSERT_TRUE(image_.OpenImage(dir_ / "all.abi"));
        EXPECT_FALSE(Run());
        const std::string upTo52 = "prepare 51, send 51, prepare 54, send 54, prepare 52";
        EXPECT_EQ(link_.Trace(), std::string(op) == "prepare" ? upTo52 + ", end" : upTo52 + ", send 52, end");
        EXPECT_TRUE(state_.IsFinished());
        EXPECT_FALSE(image_.IsOpen());
        // 51 and 54 were written; 52 was not.
        EXPECT_DOUBLE_EQ(state_.Completed(), 32.0 / 312.0);
    }
}

TEST_F(Driver, EitherPartOfSection54IsEnough) {
    auto bytes = MakeHeader();
    PutWord(bytes, 0x2C, 0x100);  // L54a 0, L54b 0x100
    bytes.resize(256 + 0x100, 1);
    test::WriteFile(dir_ / "i.abi", bytes);
    Open(dir_ / "i.abi");
    EXPECT_TRUE(Run());
    EXPECT_EQ(link_.Trace(), "prepare 54, send 54, end");
}

TEST_F(Driver, UnitWhoseLengthWrapsToZeroStillGoesToTheLink) {
    // L51a + L51b is 0 in 32 bits: the unit is present by its words, and the link
    // decides that a unit of length 0 sends nothing.
    auto bytes = MakeHeader();
    PutWord(bytes, 0x14, 0xFFFFFFFFu);
    PutWord(bytes, 0x18, 1);
    PutWord(bytes, 0x28, 4);  // L53
    bytes.resize(256 + 4, 0);
    test::WriteFile(dir_ / "i.abi", bytes);
    Open(dir_ / "i.abi");
    EXPECT_TRUE(Run());
    EXPECT_EQ(link_.Trace(), "prepare 51, send 51, prepare 53, send 53, end");
    const auto& h = link_.calls[0].header;
    EXPECT_EQ(GetWord(h.data() + 0x14), 0xFFFFFFFFu);
    EXPECT_EQ(GetWord(h.data() + 0x18), 1u);
    std::uint32_t headerWords = 0;
    for (std::size_t at = 0x10; at < 0x100; at += 4) headerWords += GetWord(h.data() + at);
    EXPECT_EQ(GetWord(h.data() + 0x0C), headerWords);  // no data word read
    EXPECT_DOUBLE_EQ(state_.Completed(), 4.0 / 260.0);
}

TEST_F(Driver, LongSection54GoesOutInTwoUnits) {
    const std::uint32_t l54b = kSplitOffset + 1;
    auto header = MakeHeader();
    PutWord(header, 0x2C, l54b);
    const std::uint64_t length = 256 + static_cast<std::uint64_t>(l54b);
    test::MakeSparseFile(dir_ / "big.abi", length);
    test::WriteAt(dir_ / "big.abi", 0, header);
    Open(dir_ / "big.abi");

    std::vector<double> seen;
    link_.onSection = [&](const RecordingLink::Call&) { seen.push_back(state_.Completed()); };
    EXPECT_TRUE(Run());
    EXPECT_EQ(link_.Trace(), "prepare 56, send 56, prepare 57, send 57, end");
    // Nothing is counted after 56; 57 counts the whole section.
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_DOUBLE_EQ(seen[2], 0.0);
    EXPECT_DOUBLE_EQ(state_.Completed(), static_cast<double>(l54b) / static_cast<double>(length));
    EXPECT_EQ(GetWord(link_.calls[2].header.data() + 0x4C), 1u);
    EXPECT_EQ(GetWord(link_.calls[2].header.data() + 0x2C), 1u);
}

TEST_F(Driver, ExactlyTheSplitIsUnit54) {
    auto header = MakeHeader();
    PutWord(header, 0x1C, kSplitOffset);
    test::MakeSparseFile(dir_ / "big.abi", 256 + static_cast<std::uint64_t>(kSplitOffset));
    test::WriteAt(dir_ / "big.abi", 0, header);
    Open(dir_ / "big.abi");
    EXPECT_TRUE(Run());
    EXPECT_EQ(link_.Trace(), "prepare 54, send 54, end");
}

// An image with section 51 (8 bytes), section 52 (4 bytes) and one extended-ROM entry.
class DriverExtendedRom : public Driver {
protected:
    void MakeImageWithEntry(const std::vector<std::uint8_t>& entry) {
        auto bytes = MakeHeader();
        PutWord(bytes, 0x14, 8);
        PutWord(bytes, 0x24, 4);
        PutWord(bytes, 0x44, 256 + 12);  // extension table right after the sections
        bytes.resize(256 + 12, 0x33);
        bytes.resize(bytes.size() + 2048, 0);
        // Entry 0 would lie right after the sections, where the table sits: declare the
        // table as entry 0, put the stream in entry 1 and select that one.
        PutWord(bytes, 256 + 12 + 196, 2048);
        PutWord(bytes, 256 + 12 + 200, static_cast<std::uint32_t>(entry.size()));
        bytes.insert(bytes.end(), entry.begin(), entry.end());
        test::WriteFile(dir_ / "x.abi", bytes);
        Open(dir_ / "x.abi");
        image_.SelectExtendedRom(1);
    }
};

TEST_F(DriverExtendedRom, SelectedEntryIsUnpackedSentAndDeleted) {
    const auto plain = test::SampleData(100000, 5);
    MakeImageWithEntry(test::GzipWithTool(plain, "-n"));
    const auto extRom = dir_ / "ExtRom.tmp";
    std::vector<std::uint8_t> seenByLink;
    link_.onSection = [&](const RecordingLink::Call& call) {
        if (call.code == 55) seenByLink = test::ReadFile(extRom);
    };
    testing::internal::CaptureStdout();
    EXPECT_TRUE(Run());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Gzip decompress\n");
    EXPECT_EQ(link_.Trace(), "prepare 51, send 51, pause, prepare 55, send 55, prepare 52, send 52, end");
    EXPECT_EQ(pauses_, std::vector<std::uint32_t>{1000});
    EXPECT_EQ(seenByLink, plain);
    EXPECT_FALSE(std::filesystem::exists(extRom));
    const auto& h55 = link_.calls[4].header;
    EXPECT_EQ(GetWord(h55.data() + 0x30), 100000u);
    std::uint32_t words = 0;
    for (std::size_t i = 0; i < plain.size(); i += 4) words += GetWord(plain.data() + i);
    std::uint32_t headerWords = 0;
    for (std::size_t at = 0x10; at < 0x100; at += 4) headerWords += GetWord(h55.data() + at);
    EXPECT_EQ(GetWord(h55.data() + 0x0C), headerWords + words);
    // 51, 55 (its own length) and 52.
    const double length = static_cast<double>(std::filesystem::file_size(dir_ / "x.abi"));
    EXPECT_DOUBLE_EQ(state_.Completed(), (8.0 + 100000.0 + 4.0) / length);
}

TEST_F(DriverExtendedRom, FailedUnit55DeletesTheUnpackedFile) {
    MakeImageWithEntry(test::GzipWithTool(test::SampleData(5000, 6), "-n"));
    link_.failOp = "send";
    link_.failCode = 55;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Run());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(link_.Trace(), "prepare 51, send 51, pause, prepare 55, send 55, end");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "ExtRom.tmp"));
    EXPECT_TRUE(state_.IsFinished());
}

TEST_F(DriverExtendedRom, BrokenEntryIsAnEarlyExit) {
    auto entry = test::GzipWithTool(test::SampleData(5000, 7), "-n");
    entry[entry.size() - 8] ^= 0xFF;  // trailer CRC
    MakeImageWithEntry(entry);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Run());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Gzip decompress\ninvalid compressed data--crc error\n");
    // Unit 51 went out; then no end of transfer, no flag, the image stays open.
    EXPECT_EQ(link_.Trace(), "prepare 51, send 51");
    EXPECT_FALSE(state_.IsFinished());
    EXPECT_TRUE(image_.IsOpen());
    EXPECT_NE(state_.HeaderBuilder(), nullptr);
    // The file stays behind, empty and closed, for the clean-up to delete.
    EXPECT_EQ(std::filesystem::file_size(dir_ / "ExtRom.tmp"), 0u);
    EXPECT_TRUE(std::filesystem::remove(dir_ / "ExtRom.tmp"));
}

}  // namespace
}  // namespace flashwise
