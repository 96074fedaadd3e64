// The serial link against the simulated boot loader, through the simulator's serial port.

#include <gtest/gtest.h>

#include <memory>

#include "link/ConnManager.h"
#include "link/LinkBounds.h"
#include "sim/BootLoaderSim.h"
#include "sim/SimSerialPort.h"
#include "tests/link/SimLinkSupport.h"

namespace flashwise::test {
namespace {

using sim::BootLoaderSim;
using sim::DeviceFault;
using sim::Misbehaviour;
using sim::Step;

class SerialAgainstSim : public ::testing::Test {
protected:
    SerialAgainstSim() : device(sim::Transport::Serial) {
        auto port = std::make_unique<sim::SimSerialPort>(device);
        simPort = port.get();
        link = std::make_unique<CConnManager>(std::move(port), time.Pause(), time.Clock());
        source.Write("Tarn_G4.abi");
        EXPECT_TRUE(image.OpenImage(folder.Path() / "Tarn_G4.abi"));
    }

    ScratchFolder folder{ScratchFolder::Use::AsCurrentFolder};
    FakeTime time;
    BootLoaderSim device;
    sim::SimSerialPort* simPort = nullptr;
    std::unique_ptr<CConnManager> link;
    SimImage source;
    CFirmwareImage image;
    std::vector<std::uint8_t> request = std::vector<std::uint8_t>(72, 0);
};

TEST_F(SerialAgainstSim, WholeImageArrivesByteForByte) {
    ASSERT_TRUE(link->Open());
    EXPECT_EQ(simPort->OpenAttempts(), 1);
    WriteFile("ExtRom.tmp", Bytes({0xE0, 0xE1, 0xE2, 0xE3, 0xE4}));
    for (int code : {51, 54, 52, 50, 53, 55}) EXPECT_EQ(SendUnit(*link, image, request, code), "") << code;
    link->EndTransfer();

    EXPECT_TRUE(device.ProtocolErrors().empty()) << device.ProtocolErrors().front();
    EXPECT_EQ(device.EndTransfers(), 1);
    EXPECT_EQ(device.Announcements(), 5);   // unit 52 is empty: never announced
    for (int code : {50, 51, 53, 54}) {
        const sim::StoredUnit* unit = device.Store().Find(code);
        ASSERT_NE(unit, nullptr) << code;
        EXPECT_EQ(unit->data, source.Unit(code)) << code;
        EXPECT_EQ(unit->fileName, "Tarn_G4.abi");
        EXPECT_EQ(unit->imageType, 4);
    }
    ASSERT_NE(device.Store().Find(55), nullptr);
    EXPECT_EQ(device.Store().Find(55)->data, Bytes({0xE0, 0xE1, 0xE2, 0xE3, 0xE4}));
    EXPECT_EQ(device.Store().Find(52), nullptr);
    EXPECT_EQ(link->DeviceProgress(), 500u);
    EXPECT_EQ(time.PausedFor(kAnnouncePauseMs), 5u);
}

TEST_F(SerialAgainstSim, DeviceMisbehaviourEndsTheUnitAsTheLinkPromises) {
    ASSERT_TRUE(link->Open());
    device.AddFault({Misbehaviour::ShiftRecord, Step::Announce, 1, 0x00, 3});
    device.AddFault({Misbehaviour::UnknownResults, Step::Data, 1, 5, 2});
    device.AddFault({Misbehaviour::ZeroLengthPackets, Step::Data, 1, 0, 30});
    EXPECT_EQ(SendUnit(*link, image, request, 50), "");

    device.AddFault({Misbehaviour::RejectChecksum, Step::Data, 2, 0, 1});
    EXPECT_EQ(SendUnit(*link, image, request, 53), "send");

    device.AddFault({Misbehaviour::ReadinessWord, Step::Announce, 3, 0, 1});
    EXPECT_EQ(SendUnit(*link, image, request, 53), "prepare");

    // No reply and no event after the announcement: the event wait gives up.
    device.AddFault({Misbehaviour::Silent, Step::Announce, 4, 0, 1});
    time.pauses.clear();
    EXPECT_EQ(SendUnit(*link, image, request, 53), "prepare");
    EXPECT_EQ(time.PausedFor(kEventWaitRetryPauseMs), static_cast<std::uint64_t>(kEventWaitFailureLimit - 1));
    link->EndTransfer();
    EXPECT_TRUE(device.ProtocolErrors().empty());
}

TEST_F(SerialAgainstSim, AVanishedDeviceFailsTheUnitPromptly) {
    ASSERT_TRUE(link->Open());
    device.AddFault({Misbehaviour::Vanish, Step::Data, 1, 0, 9000});
    EXPECT_EQ(SendUnit(*link, image, request, 51), "send");
    link->EndTransfer();   // nothing reaches a vanished device, and nothing hangs
    EXPECT_LT(time.now, 60u * 1000);
    EXPECT_FALSE(link->Open());
}

}  // namespace
}  // namespace flashwise::test
