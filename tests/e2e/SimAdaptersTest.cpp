// The in-process adapters as the links use them: what opens, what a vanished device
// does to each call, and that the WinUSB link gives back every handle it took.

#include <gtest/gtest.h>

#include "tests/e2e/SimRig.h"

namespace flashwise::e2e {
namespace {

TEST(SimSerialPort, OpensOnlyItsOwnNameAndFailsOnceTheDeviceIsGone) {
    sim::BootLoaderSim device(sim::Transport::Serial);
    sim::SimSerialPort port(device);
    EXPECT_FALSE(port.Open(L"\\\\.\\wceusbsh002"));
    ASSERT_TRUE(port.Open(L"\\\\.\\wceusbsh001"));
    ASSERT_TRUE(port.SetEventMask(0xDB));
    std::uint32_t events = 0;
    EXPECT_FALSE(port.WaitEvent(&events));  // nothing pending: a real wait would never return
    ASSERT_TRUE(port.ClearDtr());
    std::uint8_t block[72] = {0x34, 0x12};
    std::uint32_t done = 0;
    ASSERT_TRUE(port.WriteBytes(block, 72, &done));
    EXPECT_EQ(done, 72u);
    EXPECT_EQ(device.EndTransfers(), 1);
    std::uint8_t buf[20];
    ASSERT_TRUE(port.ReadBytes(buf, 20, &done));
    EXPECT_EQ(done, 0u);  // an empty read, not a failure

    device.Vanish();
    EXPECT_FALSE(port.SetDtr());
    EXPECT_FALSE(port.WriteBytes(block, 72, &done));
    EXPECT_FALSE(port.ReadBytes(buf, 20, &done));
    EXPECT_FALSE(port.WaitEvent(&events));
    port.Close();
    EXPECT_FALSE(port.Open(L"\\\\.\\wceusbsh001"));
}

TEST(SimSerialPort, TheSerialLinkFindsItAndAppliesItsSettings) {
    sim::BootLoaderSim device(sim::Transport::Serial);
    auto owned = std::make_unique<sim::SimSerialPort>(device, L"\\\\.\\wceusbsh007");
    sim::SimSerialPort* port = owned.get();
    CConnManager link(std::move(owned), [](std::uint32_t) {});
    ASSERT_TRUE(link.Open());
    EXPECT_EQ(port->OpenAttempts(), 7);  // 1 to 7
    EXPECT_EQ(port->EventMask(), 0xDBu);
    EXPECT_EQ(port->LineSettings().baudRate, 115200u);
    EXPECT_EQ(port->Timeouts().readTotalConstant, 5000u);
}

#ifdef FLASHWISE_E2E_WINUSB
TEST(SimWinUsb, TheWinUsbLinkOpensItAndGivesBackEveryHandle) {
    sim::BootLoaderSim device(sim::Transport::WinUsb);
    auto owned = std::make_unique<sim::SimWinUsb>(device);
    sim::SimWinUsb* api = owned.get();
    {  // `api` lives as long as the link that owns it
        api->SetPresent(false);
        CConnManagerVista link(std::move(owned), [](std::uint32_t) {});
        EXPECT_FALSE(link.Open());
        EXPECT_EQ(api->OpenHandles(), 0);
        api->SetPresent(true);
        ASSERT_TRUE(link.Open());
        ASSERT_TRUE(link.Open());  // the second open lets go of the first
        EXPECT_EQ(api->OpenHandles(), 4);  // device, interface, two events
        EXPECT_EQ(link.BulkInPipe(), 0x81);
        EXPECT_EQ(link.BulkOutPipe(), 0x01);
        link.EndTransfer();
        EXPECT_EQ(device.EndTransfers(), 1);
        EXPECT_EQ(api->RefusedRequests(), 0);
        // A read with nothing to read times out and is cancelled, not left pending.
        std::uint8_t buf[20];
        EXPECT_FALSE(link.Read(20, buf));
        device.Vanish();
        EXPECT_FALSE(link.Read(20, buf));
        EXPECT_FALSE(link.SetLineState(1));
    }
}
#endif

}  // namespace
}  // namespace flashwise::e2e
