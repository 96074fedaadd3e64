// The bridge following the simulated phone: the boot-loader device opens only while the
// phone's state says it runs its boot loader and its desktop does not hold it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "sim/BootLoaderSim.h"
#include "sim/bridge/BridgeOptions.h"
#include "sim/bridge/BridgeService.h"
#include "sim/bridge/Framing.h"
#include "sim/bridge/PhoneModeWatch.h"
#include "tests/support/ScratchFolder.h"

namespace flashwise::bridge {
namespace {

class PhoneFolder : public ::testing::Test {
protected:
    // Written as the phone's processes write it: a whole new file renamed over the old.
    void WriteState(const std::string& text) {
        const auto temporary = folder_ / "phone.ini.new";
        std::ofstream(temporary, std::ios::binary) << text;
        std::filesystem::rename(temporary, folder_ / "phone.ini");
    }

    test::ScratchFolder scratch_;
    std::filesystem::path folder_ = scratch_.Path();
};

TEST(PhoneStateText, OpensOnlyInTheBootLoaderAndOnlyWhenTheDesktopLetsGo) {
    struct Row {
        const char* state;
        const char* refusal;  // a part of the reason, or "" for an open that succeeds
    };
    const Row rows[] = {
        {"[phone]\nmode=bootloader\n", ""},
        {"[Phone]\nbattery=40\nMODE=bootloader\nrestarts=1\n", ""},
        {"", "not in its boot loader"},
        {"[phone]\nmode=normal\nboot_next=bootloader\n", "not in its boot loader"},
        // Another section's mode is not the phone's.
        {"[other]\nmode=bootloader\n", "not in its boot loader"},
        // A state the phone itself could not read is no boot loader either.
        {"[phone]\nmode=bootloader\nbattery=lots\n", "cannot be read"},
        {"mode=bootloader\n", "cannot be read"},
        {"[phone]\nmode=Bootloader-ish\n", "cannot be read"},
        // XP path: the connection manager holds the device while USB is enabled.
        {"[phone]\nmode=bootloader\n[desktop]\nconnection_types=10\n", "holds the device"},
        {"[phone]\nmode=bootloader\n[desktop]\nconnection_types=8\n", "holds the device"},
        {"[phone]\nmode=bootloader\n[desktop]\nconnection_types=0\n", ""},
        {"[phone]\nmode=bootloader\n[desktop]\nconnection_types=6\n", ""},
        // Vista path: either service holds it from its start until it has stopped.
        {"[phone]\nmode=bootloader\n[desktop]\nWcesComm=running\nRapiMgr=stopped\n", "holds the device"},
        {"[phone]\nmode=bootloader\n[desktop]\nWcesComm=stopped\nRapiMgr=stop-pending\n", "holds the device"},
        {"[phone]\nmode=bootloader\n[desktop]\nWcesComm=start-pending\nRapiMgr=stopped\n", "holds the device"},
        {"[phone]\nmode=bootloader\n[desktop]\nWcesComm=stopped\nRapiMgr=stopped\n", ""},
        {"[phone]\nmode=bootloader\n[desktop]\nWcesComm=paused\n", "cannot be read"},
    };
    for (const Row& row : rows) {
        const std::string refusal = PhoneStateRefusal(row.state);
        if (*row.refusal == '\0')
            EXPECT_EQ(refusal, "") << row.state;
        else
            EXPECT_NE(refusal.find(row.refusal), std::string::npos) << row.state << " -> " << refusal;
    }
}

TEST_F(PhoneFolder, EachOpenReadsThePhoneAgain) {
    PhoneModeWatch watch(folder_.string());
    EXPECT_NE(watch.OpenRefusal(), "") << "no state file yet: a phone with every default runs normally";
    WriteState("[phone]\nmode=bootloader\nrestarts=1\n[desktop]\nconnection_types=10\n");
    EXPECT_NE(watch.OpenRefusal(), "");
    WriteState("[phone]\nmode=bootloader\nrestarts=1\n[desktop]\nconnection_types=0\n");
    EXPECT_EQ(watch.OpenRefusal(), "");
    // The desktop taking the device back, or the phone restarting normally, ends later opens.
    WriteState("[phone]\nmode=bootloader\nrestarts=1\n[desktop]\nconnection_types=10\n");
    EXPECT_NE(watch.OpenRefusal(), "");
    WriteState("[phone]\nmode=normal\nrestarts=2\n[desktop]\nconnection_types=0\n");
    EXPECT_NE(watch.OpenRefusal(), "");
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
    std::string refusal = "no device: the phone is not in its boot loader";
    int looks = 0;
    service.SetOpenRefusal([&] {
        ++looks;
        return refusal;
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

    refusal.clear();
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
