// The WinUSB link against the simulated boot loader, through the simulator's WinUSB.

#include <gtest/gtest.h>

#include <memory>

#include "link/ConnManagerVista.h"
#include "link/LinkBounds.h"
#include "sim/BootLoaderSim.h"
#include "sim/SimWinUsb.h"
#include "tests/link/SimLinkSupport.h"

namespace flashwise::test {
namespace {

using sim::BootLoaderSim;
using sim::Misbehaviour;
using sim::Step;

class WinUsbAgainstSim : public ::testing::Test {
protected:
    WinUsbAgainstSim() : device(sim::Transport::WinUsb) {
        auto usb = std::make_unique<sim::SimWinUsb>(device);
        simUsb = usb.get();
        link = std::make_unique<CConnManagerVista>(std::move(usb), time.Pause(), time.Clock());
        source.Write("Tarn_G4.abi");
        EXPECT_TRUE(image.OpenImage(folder.Path() / "Tarn_G4.abi"));
    }

    ScratchFolder folder{ScratchFolder::Use::AsCurrentFolder};
    FakeTime time;
    BootLoaderSim device;
    sim::SimWinUsb* simUsb = nullptr;
    std::unique_ptr<CConnManagerVista> link;
    SimImage source;
    CFirmwareImage image;
    std::vector<std::uint8_t> request = std::vector<std::uint8_t>(72, 0);
};

TEST_F(WinUsbAgainstSim, WholeImageArrivesByteForByte) {
    simUsb->SetPresent(false);
    EXPECT_FALSE(link->Open());
    EXPECT_EQ(simUsb->OpenHandles(), 0);
    simUsb->SetPresent(true);
    ASSERT_TRUE(link->Open());
    ASSERT_TRUE(link->Open());   // a second pass opens afresh

    for (int code : {51, 54, 52, 50, 53}) EXPECT_EQ(SendUnit(*link, image, request, code), "") << code;
    link->EndTransfer();

    EXPECT_TRUE(device.ProtocolErrors().empty()) << device.ProtocolErrors().front();
    EXPECT_EQ(simUsb->RefusedRequests(), 0);
    EXPECT_EQ(device.EndTransfers(), 1);
    for (int code : {50, 51, 53, 54}) {
        const sim::StoredUnit* unit = device.Store().Find(code);
        ASSERT_NE(unit, nullptr) << code;
        EXPECT_EQ(unit->data, source.Unit(code)) << code;
        EXPECT_EQ(unit->fileName, "Tarn_G4.abi");
    }
    EXPECT_EQ(link->DeviceProgress(), 400u);
    EXPECT_EQ(time.PausedFor(kAnnouncePauseMs), 4u);
    EXPECT_EQ(time.PausedFor(kEndOfTransferPauseMs), 1u);
}

TEST_F(WinUsbAgainstSim, DeviceMisbehaviourEndsTheUnitAsTheLinkPromises) {
    ASSERT_TRUE(link->Open());
    device.AddFault({Misbehaviour::ShiftRecord, Step::Data, 1, 0x00, 5});
    device.AddFault({Misbehaviour::ZeroLengthPackets, Step::Data, 1, 0, 40});
    EXPECT_EQ(SendUnit(*link, image, request, 50), "");

    device.AddFault({Misbehaviour::ResultCode, Step::Data, 2, 0x88, 1});
    EXPECT_EQ(SendUnit(*link, image, request, 53), "send");

    // A silent announcement: the read gives up and the boot loader is taken as ready,
    // so it is SendSection that goes on; the device then judges the unit.
    device.AddFault({Misbehaviour::Silent, Step::Announce, 3, 0, 1});
    EXPECT_EQ(SendUnit(*link, image, request, 53), "");

    // More zero-length packets than a read allows: the status read fails the unit.
    device.AddFault({Misbehaviour::ZeroLengthPackets, Step::Data, 4, 0, 150});
    EXPECT_EQ(SendUnit(*link, image, request, 53), "send");
    link->EndTransfer();
}

TEST_F(WinUsbAgainstSim, AVanishedDeviceFailsTheUnitPromptly) {
    ASSERT_TRUE(link->Open());
    device.AddFault({Misbehaviour::Vanish, Step::Data, 1, 0, 9000});
    EXPECT_EQ(SendUnit(*link, image, request, 51), "send");
    link->EndTransfer();
    EXPECT_LT(time.now, 60u * 1000);
    EXPECT_FALSE(link->Open());   // releases what it held, then finds nothing
    EXPECT_EQ(simUsb->OpenHandles(), 0);
}

}  // namespace
}  // namespace flashwise::test
