// Whole downloads: the download driver and each link's protocol logic against the
// simulated boot loader, compared with the image byte for byte.

#include <gtest/gtest.h>

#include "image/DownloadDriver.h"
#include "image/DownloadState.h"
#include "image/FirmwareImage.h"
#include "tests/support/DeviceFaults.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/e2e/SimRig.h"

namespace flashwise::e2e {
namespace {

using namespace flashwise::test;

using sim::DeviceFault;
using sim::Misbehaviour;
using sim::Step;

// Longer than any bound of the links with their pauses counted: a run that passes it
// has been waiting on a device that will never answer.
constexpr std::uint64_t kPauseBudgetMs = 20ull * 60 * 1000;

const ImageSizes kAllSections = [] {
    ImageSizes s;
    s.l50 = 1001;
    s.l51a = 3333;
    s.l51b = 77;
    s.l52 = 8193;
    s.l53 = 3;
    s.l54a = 12345;
    s.l54b = 6789;
    return s;
}();

const ImageSizes kPackagedShape = [] {
    ImageSizes s;
    s.l51a = 780156;
    s.l51b = 4259840;
    return s;
}();


class DownloadOverSim : public ::testing::TestWithParam<LinkKind> {
protected:
    void SetUp() override {
        rig_ = std::make_unique<SimRig>(GetParam());
        if (!rig_->link) GTEST_SKIP() << "this build has no WinUSB link";
    }

    std::filesystem::path MakeImage(const ImageSizes& sizes, std::uint32_t trailer = 0) {
        const auto path = folder_.Path() / "Tarn_G4.abi";
        WriteImage(path, sizes, trailer);
        return path;
    }

    // Opens the link and the image and runs the driver as the download thread does.
    bool Download(const std::filesystem::path& path) {
        if (!rig_->link->Open()) {
            ADD_FAILURE() << "the link did not open";
            return false;
        }
        if (!image_.OpenImage(path)) {
            ADD_FAILURE() << "the image did not open";
            return false;
        }
        state_.BeginPass(std::filesystem::file_size(path));
        const bool ok = RunDownload(state_, *rig_->link, image_, [this](std::uint32_t ms) { rig_->pausedMs += ms; });
        EXPECT_LT(rig_->pausedMs, kPauseBudgetMs);
        return ok;
    }

    void ExpectStoreHolds(const std::filesystem::path& path, const std::vector<std::pair<int, UnitSpan>>& units) {
        ASSERT_EQ(rig_->device.Store().Size(), units.size());
        for (const auto& unit : units) {
            SCOPED_TRACE(unit.first);
            const sim::StoredUnit* stored = rig_->device.Store().Find(unit.first);
            ASSERT_NE(stored, nullptr);
            EXPECT_EQ(stored->writes, 1);
            EXPECT_EQ(stored->data.size(), unit.second.length);
            EXPECT_TRUE(stored->data == ReadSpan(path, unit.second)) << "data differ from the image";
        }
    }

    std::vector<int> VerdictCodes() const {
        std::vector<int> codes;
        for (const auto& v : rig_->device.Verdicts()) codes.push_back(v.code);
        return codes;
    }

    ScratchFolder folder_;
    std::unique_ptr<SimRig> rig_;
    CFirmwareImage image_{WorkFolder(folder_.Path())};
    DownloadState state_;
};

TEST_P(DownloadOverSim, EverySectionArrivesInOrderByteForByte) {
    const auto path = MakeImage(kAllSections);
    ASSERT_TRUE(Download(path));
    const auto units = ExpectedUnits(kAllSections);
    ExpectStoreHolds(path, units);
    EXPECT_EQ(VerdictCodes(), (std::vector<int>{51, 54, 52, 50, 53}));
    for (const auto& v : rig_->device.Verdicts()) EXPECT_EQ(v.result, sim::kWritten);
    EXPECT_EQ(rig_->device.EndTransfers(), 1);
    EXPECT_TRUE(rig_->device.ProtocolErrors().empty()) << rig_->device.ProtocolErrors().front();
    EXPECT_TRUE(state_.IsFinished());
    const double sent = 1001 + 3333 + 77 + 8193 + 3 + 12345 + 6789;
    EXPECT_NEAR(state_.Completed(), sent / static_cast<double>(std::filesystem::file_size(path)), 1e-9);
    EXPECT_EQ(rig_->link->DeviceProgress(), 500u);
    // The stored request fields came through as the boot loader sees them.
    EXPECT_EQ(rig_->device.Store().Find(51)->fileName, "Tarn_G4.abi");
    EXPECT_EQ(rig_->device.Store().Find(51)->imageType, 4);
}

TEST_P(DownloadOverSim, PackagedImageShapeSendsSection51Only) {
    const auto path = MakeImage(kPackagedShape, 2048);
    ASSERT_EQ(std::filesystem::file_size(path), 5042300u);
    ASSERT_TRUE(Download(path));
    ExpectStoreHolds(path, {{51, {256, 5039996}}});
    EXPECT_EQ(rig_->device.EndTransfers(), 1);
    EXPECT_TRUE(rig_->device.ProtocolErrors().empty());
    EXPECT_NEAR(state_.Completed(), 5039996.0 / 5042300.0, 1e-12);
}

TEST_P(DownloadOverSim, AMessyButHonestDeviceIsUnderstood) {
    // Stray bytes, empty completions, unfinished results and several progress records:
    // all things the links must read through.
    rig_->device.SetProgressRecords(5);
    rig_->device.AddFault(Fault(Misbehaviour::ShiftRecord, Step::Announce, 1, 0x00, 3));
    rig_->device.AddFault(Fault(Misbehaviour::ShiftRecord, Step::Data, 2, 0x11, 7));
    rig_->device.AddFault(Fault(Misbehaviour::ZeroLengthPackets, Step::Announce, 3, 0, 4));
    rig_->device.AddFault(Fault(Misbehaviour::ZeroLengthPackets, Step::Data, 4, 0, 2));
    rig_->device.AddFault(Fault(Misbehaviour::UnknownResults, Step::Data, 5, 0x05, 3));
    const auto path = MakeImage(kAllSections);
    ASSERT_TRUE(Download(path));
    ExpectStoreHolds(path, ExpectedUnits(kAllSections));
    EXPECT_TRUE(rig_->device.ProtocolErrors().empty());
}

TEST_P(DownloadOverSim, AUnitThatFailsAfterAnotherWasWrittenEndsTheTransfer) {
    struct Case {
        const char* what;
        DeviceFault fault;
    } cases[] = {
        {"result 0x88 for the second unit", Fault(Misbehaviour::ResultCode, Step::Data, 2, 0x88)},
        {"result 0x22 for the second unit", Fault(Misbehaviour::ResultCode, Step::Data, 2, 0x22)},
        {"checksum refused for the second unit", Fault(Misbehaviour::RejectChecksum, Step::Data, 2)},
        {"second unit not ready", Fault(Misbehaviour::ResultCode, Step::Announce, 2, 0x99)},
        {"readiness word 0 for the second unit", Fault(Misbehaviour::ReadinessWord, Step::Announce, 2, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        rig_ = std::make_unique<SimRig>(GetParam());
        image_.CloseImage();
        rig_->device.AddFault(c.fault);
        const auto path = MakeImage(kAllSections);
        EXPECT_FALSE(Download(path));
        // 51 was written; 54 failed; 52, 50 and 53 were never announced.
        ExpectStoreHolds(path, {ExpectedUnits(kAllSections)[0]});
        EXPECT_EQ(rig_->device.Announcements(), 2);
        EXPECT_EQ(rig_->device.EndTransfers(), 1);
        EXPECT_TRUE(state_.IsFinished());
        EXPECT_TRUE(rig_->device.ProtocolErrors().empty());
    }
}

TEST_P(DownloadOverSim, AVanishingDeviceFailsTheDownloadWithinBounds) {
    struct Case {
        const char* what;
        DeviceFault fault;
    } cases[] = {
        {"at the first announcement", Fault(Misbehaviour::Vanish, Step::Announce, 1)},
        {"after the second request block", Fault(Misbehaviour::Vanish, Step::Request, 2)},
        {"after the second header", Fault(Misbehaviour::Vanish, Step::Header, 2)},
        {"part-way through the second unit's data", Fault(Misbehaviour::Vanish, Step::Data, 2, 0, 10000)},
        {"before the third unit's result", Fault(Misbehaviour::Vanish, Step::Data, 3, 0, 1u << 30)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        rig_ = std::make_unique<SimRig>(GetParam());
        image_.CloseImage();
        rig_->device.AddFault(c.fault);
        const auto path = MakeImage(kAllSections);
        EXPECT_FALSE(Download(path));
        EXPECT_TRUE(rig_->device.IsGone());
        EXPECT_TRUE(state_.IsFinished());
        EXPECT_LE(rig_->device.Store().Size(), 2u);
    }
}

TEST_P(DownloadOverSim, ASilentDeviceFailsTheDownloadWithinBounds) {
    for (Step step : {Step::Announce, Step::Request, Step::Header, Step::Data}) {
        SCOPED_TRACE(static_cast<int>(step));
        rig_ = std::make_unique<SimRig>(GetParam());
        image_.CloseImage();
        rig_->device.AddFault(Fault(Misbehaviour::Silent, step, 1));
        const auto path = MakeImage(kAllSections);
        const bool ok = Download(path);
        if (GetParam() == LinkKind::WinUsb && (step == Step::Request || step == Step::Header)) {
            // The WinUSB link waits for no signal there: silence costs it nothing.
            EXPECT_TRUE(ok);
            continue;
        }
        if (GetParam() == LinkKind::WinUsb && step == Step::Announce) {
            // A readiness read that gives up counts as ready on this link, so the unit
            // goes out unannounced; the device still judges and stores it.
            EXPECT_TRUE(ok);
            ASSERT_FALSE(rig_->device.ProtocolErrors().empty());
            EXPECT_EQ(rig_->device.ProtocolErrors().front(), "unit sent without a readiness reply");
            continue;
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(rig_->device.EndTransfers(), 1);
        EXPECT_EQ(rig_->device.Announcements(), 1);
    }
}

TEST_P(DownloadOverSim, ALongSection54GoesAsUnits56And57) {
    // Digest store: the data are checked by length and CRC-32.
    rig_ = std::make_unique<SimRig>(GetParam(), sim::FlashStore::Mode::DigestOnly);
    ImageSizes sizes;
    sizes.l51a = 5000;
    sizes.l54a = 1000;
    sizes.l54b = 0x3B00000u - 1000 + 4097;  // 4,097 bytes past the split
    const auto path = folder_.Path() / "long.abi";
    WriteImage(path, sizes, 0, true);
    ASSERT_TRUE(Download(path));
    const auto units = ExpectedUnits(sizes);
    ASSERT_EQ(rig_->device.Store().Size(), units.size());
    for (const auto& unit : units) {
        SCOPED_TRACE(unit.first);
        const sim::StoredUnit* stored = rig_->device.Store().Find(unit.first);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->length, unit.second.length);
        EXPECT_EQ(stored->crc32, Crc32OfSpan(path, unit.second));
    }
    EXPECT_EQ(VerdictCodes(), (std::vector<int>{51, 56, 57}));
    EXPECT_TRUE(rig_->device.ProtocolErrors().empty());
}

INSTANTIATE_TEST_SUITE_P(BothLinks, DownloadOverSim, ::testing::Values(LinkKind::Serial, LinkKind::WinUsb),
                         [](const ::testing::TestParamInfo<LinkKind>& info) { return Name(info.param); });

}  // namespace
}  // namespace flashwise::e2e
