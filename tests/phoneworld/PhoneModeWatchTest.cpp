// The bridge following the simulated phone: the boot-loader device is unplugged until
// the phone's state says it runs its boot loader, and stays present from then on.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "sim/BootLoaderSim.h"
#include "sim/bridge/BridgeOptions.h"
#include "sim/bridge/BridgeService.h"
#include "sim/bridge/Framing.h"
#include "sim/bridge/PhoneModeWatch.h"

namespace flashwise::bridge {
namespace {

class PhoneFolder : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("flashwise-phonemode-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // Written as the phone's processes write it: a whole new file renamed over the old.
    void WriteState(const std::string& text) {
        const auto temporary = folder_ / "phone.ini.new";
        std::ofstream(temporary, std::ios::binary) << text;
        std::filesystem::rename(temporary, folder_ / "phone.ini");
    }

    std::filesystem::path folder_;
};

TEST(PhoneStateText, OnlyAReadableStateInItsBootLoaderCounts) {
    EXPECT_TRUE(PhoneStateSaysBootLoader("[phone]\nmode=bootloader\n"));
    EXPECT_TRUE(PhoneStateSaysBootLoader("[Phone]\nbattery=40\nMODE=bootloader\nrestarts=1\n"));
    EXPECT_FALSE(PhoneStateSaysBootLoader(""));
    EXPECT_FALSE(PhoneStateSaysBootLoader("[phone]\nmode=normal\nboot_next=bootloader\n"));
    // Another section's mode is not the phone's.
    EXPECT_FALSE(PhoneStateSaysBootLoader("[other]\nmode=bootloader\n"));
    // A state the phone itself could not read is no boot loader either.
    EXPECT_FALSE(PhoneStateSaysBootLoader("[phone]\nmode=bootloader\nbattery=lots\n"));
    EXPECT_FALSE(PhoneStateSaysBootLoader("mode=bootloader\n"));
    EXPECT_FALSE(PhoneStateSaysBootLoader("[phone]\nmode=Bootloader-ish\n"));
}

TEST_F(PhoneFolder, TheDeviceAppearsWithTheBootLoaderAndStays) {
    PhoneModeWatch watch(folder_.string());
    EXPECT_FALSE(watch.BootLoaderPresent()) << "no state file yet: a phone with every default runs normally";
    WriteState("[phone]\nmode=normal\nboot_next=bootloader\n");
    EXPECT_FALSE(watch.BootLoaderPresent());
    WriteState("[phone]\nmode=bootloader\nrestarts=1\n");
    EXPECT_TRUE(watch.BootLoaderPresent());
    // The state going back (or away) does not unplug a device a host may be using.
    WriteState("[phone]\nmode=normal\n");
    EXPECT_TRUE(watch.BootLoaderPresent());
    std::filesystem::remove(folder_ / "phone.ini");
    EXPECT_TRUE(watch.BootLoaderPresent());
}

Message Hello(std::uint8_t transport) {
    Message m;
    m.type = MsgType::Hello;
    m.payload = HelloPayload(transport);
    return m;
}

Message Plain(MsgType type) {
    Message m;
    m.type = type;
    return m;
}

TEST(BridgePresence, AnAbsentDeviceRefusesEveryOpenUntilItIsThere) {
    sim::BootLoaderSim device(sim::Transport::WinUsb);
    BridgeService service(device, sim::Transport::WinUsb);
    bool present = false;
    int looks = 0;
    service.SetPresence([&] {
        ++looks;
        return present;
    });

    ConnectionState first;
    const Message refused = service.Handle(Hello(kTransportWinUsb), &first);
    EXPECT_EQ(refused.type, MsgType::Refused);
    EXPECT_NE(std::string(refused.payload.begin(), refused.payload.end()).find("boot loader"), std::string::npos);
    EXPECT_FALSE(first.greeted);
    EXPECT_TRUE(first.closing) << "a refused greeting ends the connection, so the host's open fails";
    EXPECT_EQ(looks, 1);

    // Nothing reaches the device without a greeting.
    ConnectionState second;
    EXPECT_EQ(service.Handle(Plain(MsgType::Line), &second).type, MsgType::Refused);
    EXPECT_EQ(looks, 1) << "only an open looks at the phone";

    // The test still ends the bridge while the phone runs normally.
    ConnectionState control;
    EXPECT_EQ(service.Handle(Plain(MsgType::Quit), &control).type, MsgType::Ok);
    EXPECT_TRUE(service.QuitRequested());

    present = true;
    ConnectionState third;
    EXPECT_EQ(service.Handle(Hello(kTransportWinUsb), &third).type, MsgType::Ok);
    EXPECT_TRUE(third.greeted);
    Message line = Plain(MsgType::Line);
    line.payload = {1};
    EXPECT_EQ(service.Handle(line, &third).type, MsgType::Ok);
    // The wrong transport is still refused for what it is.
    ConnectionState fourth;
    const Message wrong = service.Handle(Hello(kTransportSerial), &fourth);
    EXPECT_EQ(wrong.type, MsgType::Refused);
    EXPECT_NE(std::string(wrong.payload.begin(), wrong.payload.end()).find("WinUSB"), std::string::npos);
}

TEST(BridgePresence, ThePhoneFolderIsAnOption) {
    BridgeOptions options;
    std::string error;
    ASSERT_TRUE(ParseBridgeOptions({"--out", "results"}, &options, &error)) << error;
    EXPECT_TRUE(options.phoneFolder.empty()) << "without --phone the device is there from the start";
    ASSERT_TRUE(ParseBridgeOptions({"--out", "results", "--phone", "C:\\phone"}, &options, &error)) << error;
    EXPECT_EQ(options.phoneFolder, "C:\\phone");
    EXPECT_FALSE(ParseBridgeOptions({"--out", "results", "--phone"}, &options, &error));
    EXPECT_FALSE(ParseBridgeOptions({"--out", "results", "--phone", ""}, &options, &error));
}

}  // namespace
}  // namespace flashwise::bridge
