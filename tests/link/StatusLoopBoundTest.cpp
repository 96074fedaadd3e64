// The wait for a unit's result on both links: only progress records keep a unit alive,
// so a boot loader that talks for ever without getting anywhere fails its unit in time.

#include <gtest/gtest.h>

#include <memory>

#include "link/Blocks.h"
#include "link/ConnManager.h"
#include "link/ConnManagerVista.h"
#include "link/LinkBounds.h"
#include "tests/link/FakeSerialPort.h"
#include "tests/link/FakeWinUsbApi.h"
#include "tests/link/LinkTestSupport.h"

namespace flashwise::test {
namespace {

enum class LinkKind { Serial, WinUsb };

constexpr std::uint64_t kMsPerRead = 1000;

// One link of either kind on its fake, fed the device's transfers one by one; every
// read that delivers bytes lets a second pass.
class LinkRig {
public:
    explicit LinkRig(LinkKind kind) : kind_(kind) {
        if (kind == LinkKind::Serial) {
            serial_.clock = &time.now;
            serial_.msPerDataRead = kMsPerRead;
            serial_.present = {L"\\\\.\\wceusbsh001"};
            link_ = std::make_unique<CConnManager>(std::make_unique<FakeSerialPort>(&serial_, &serialCalls_),
                                                   time.Pause(), time.Clock());
        } else {
            usb_.clock = &time.now;
            usb_.msPerRead = kMsPerRead;
            usb_.interfaces = {{u"\\\\?\\usb#vid_0bb4&pid_0a51#a#{25dbce51-6c8f-4a72-8a6d-b54c2b4fc835}", false}};
            link_ = std::make_unique<CConnManagerVista>(std::make_unique<FakeWinUsbApi>(&usb_, &usbCalls_),
                                                        time.Pause(), time.Clock());
        }
    }

    void Feed(const std::vector<std::uint8_t>& transfer) {
        if (kind_ == LinkKind::Serial) {
            serial_.reads.push_back(transfer);
        } else {
            TransferStep step;
            step.bytes = transfer;
            usb_.reads.push_back(step);
        }
    }
    // Transfers the link has not read yet.
    std::size_t Unread() const { return kind_ == LinkKind::Serial ? serial_.reads.size() : usb_.reads.size(); }
    CConnManager& Link() { return *link_; }

    FakeTime time;

private:
    LinkKind kind_;
    SerialScript serial_;
    std::vector<SerialCall> serialCalls_;
    UsbScript usb_;
    std::vector<UsbCall> usbCalls_;
    std::unique_ptr<CConnManager> link_;
};

class StatusLoopBound : public ::testing::TestWithParam<LinkKind> {
protected:
    // Unit 50 of the worked example, ready to send over a freshly opened link.
    void Prepare(LinkRig& rig) {
        ImageSizes sizes;
        sizes.l50 = 4;
        WriteFile("Tarn_G4.abi", ImageFile(sizes, Bytes({1, 2, 3, 4})));
        ASSERT_TRUE(image.OpenImage(folder.Path() / "Tarn_G4.abi"));
        ASSERT_TRUE(rig.Link().Open());
    }
    bool Send(LinkRig& rig) {
        std::vector<std::uint8_t> request(72, 0);
        const auto header = WorkedExampleSectionHeader();
        return rig.Link().SendSection(&image, request.data(), header.data(), 50);
    }

    ScratchFolder folder{ScratchFolder::Use::AsCurrentFolder};
    CFirmwareImage image;
};

std::vector<std::uint8_t> Shifted(std::uint32_t kind, std::uint32_t value) {
    std::vector<std::uint8_t> bytes = {0x00, 0x00, 0x00};
    const auto record = Record(kind, value);
    bytes.insert(bytes.end(), record.begin(), record.begin() + 17);
    return bytes;
}

TEST_P(StatusLoopBound, RecordsWithoutProgressFailTheUnitWithinTheBound) {
    struct Row {
        const char* what;
        std::vector<std::vector<std::uint8_t>> lead;    // sent once, first
        std::vector<std::vector<std::uint8_t>> cycle;   // then sent over and over
    } rows[] = {
        {"unknown result values", {}, {Record(kResultKind, 5)}},
        {"records without a start mark", {}, {std::vector<std::uint8_t>(20, 0x11)}},
        {"shifted records with an unknown result", {}, {Shifted(kResultKind, 0x42), Bytes({0, 0, 0})}},
        {"a readiness record repeated after the data", {}, {Record(kResultKind, 0x77, 1)}},
        {"progress once, then unknown results", {Record(kProgressKind, 40)}, {Record(kResultKind, 5)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LinkRig rig(GetParam());
        Prepare(rig);
        for (const auto& transfer : row.lead) rig.Feed(transfer);
        // Enough for twice the bound: a link that never gave up would read them all.
        const std::uint64_t records = 2 * kStatusProgressLimitMs / kMsPerRead;
        for (std::uint64_t i = 0; i < records; ++i)
            for (const auto& transfer : row.cycle) rig.Feed(transfer);

        EXPECT_FALSE(Send(rig));
        const std::uint64_t lastProgressAt = row.lead.empty() ? 0 : kMsPerRead;
        EXPECT_GE(rig.time.now - lastProgressAt, kStatusProgressLimitMs);
        EXPECT_LE(rig.time.now - lastProgressAt, kStatusProgressLimitMs + 2 * kMsPerRead);
        EXPECT_GT(rig.Unread(), 0u) << "the stream ran dry before the bound ended the unit";
    }
}

TEST_P(StatusLoopBound, GenuineProgressKeepsALongUnitGoing) {
    LinkRig rig(GetParam());
    Prepare(rig);
    // Thirty minutes of a flash write: a progress record each minute among other records.
    for (std::uint32_t minute = 1; minute <= 30; ++minute) {
        for (int i = 0; i < 59; ++i) rig.Feed(i % 2 ? Record(kResultKind, 5) : std::vector<std::uint8_t>(20, 0x11));
        rig.Feed(Record(kProgressKind, minute * 3));
    }
    rig.Feed(Record(kResultKind, 0));
    EXPECT_TRUE(Send(rig));
    EXPECT_EQ(rig.Unread(), 0u);
    EXPECT_GE(rig.time.now, 30u * 60 * 1000);
    EXPECT_EQ(rig.Link().DeviceProgress(), 100u);
}

INSTANTIATE_TEST_SUITE_P(BothLinks, StatusLoopBound, ::testing::Values(LinkKind::Serial, LinkKind::WinUsb),
                         [](const ::testing::TestParamInfo<LinkKind>& info) {
                             return info.param == LinkKind::Serial ? "Serial" : "WinUsb";
                         });

}  // namespace
}  // namespace flashwise::test
