// The bridge to the simulated boot loader: its framing, its answers, and the process's
// loop over a real loopback connection with the result files a test reads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim/CommEvents.h"
#include "sim/bridge/BridgeClient.h"
#include "sim/bridge/BridgeOptions.h"
#include "sim/bridge/BridgeServer.h"
#include "sim/bridge/BridgeService.h"
#include "sim/bridge/Framing.h"
#include "tests/sim/HostBlocks.h"
#include "tests/support/ScratchFolder.h"

namespace flashwise::bridge {
namespace {

using sim::testing::Bytes;

Message Msg(MsgType type, Bytes payload = {}) {
    Message m;
    m.type = type;
    m.payload = std::move(payload);
    return m;
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(BridgeFraming, FramesSurviveAnyCutAndBadLengthsBreakTheStream) {
    Bytes stream;
    const Bytes a = EncodeFrame(MsgType::Write, Bytes{1, 2, 3}.data(), 3);
    const Bytes b = EncodeFrame(MsgType::Line, Bytes{1}.data(), 1);
    const Bytes c = EncodeFrame(MsgType::Bye);
    for (const auto* f : {&a, &b, &c}) stream.insert(stream.end(), f->begin(), f->end());
    EXPECT_EQ(a, (Bytes{4, 0, 0, 0, 0x03, 1, 2, 3}));

    FrameReader reader;
    std::vector<Message> got;
    for (std::uint8_t byte : stream) {
        reader.Feed(&byte, 1);
        Message m;
        while (reader.Next(&m)) got.push_back(m);
    }
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].type, MsgType::Write);
    EXPECT_EQ(got[0].payload, (Bytes{1, 2, 3}));
    EXPECT_EQ(got[1].payload, (Bytes{1}));
    EXPECT_EQ(got[2].type, MsgType::Bye);
    EXPECT_TRUE(got[2].payload.empty());
    EXPECT_EQ(reader.Buffered(), 0u);

    for (std::uint32_t bad : {0u, kMaxPayload + 2}) {
        FrameReader broken;
        const Bytes word = EncodeWord(bad);
        broken.Feed(word.data(), word.size());
        Message m;
        EXPECT_FALSE(broken.Next(&m));
        EXPECT_TRUE(broken.Broken()) << bad;
    }
}

TEST(BridgeService, GreetingDecidesWhoMayTalk) {
    sim::BootLoaderSim device(sim::Transport::WinUsb);
    BridgeService service(device, sim::Transport::WinUsb);

    ConnectionState early;
    EXPECT_EQ(service.Handle(Msg(MsgType::Line, {0}), &early).type, MsgType::Refused);
    EXPECT_TRUE(early.closing) << "an ungreeted stand-in is sent away";

    ConnectionState wrong;
    EXPECT_EQ(service.Handle(Msg(MsgType::Hello, HelloPayload(kTransportSerial)), &wrong).type, MsgType::Refused);
    EXPECT_FALSE(wrong.greeted);
    ConnectionState version;
    Bytes hello = HelloPayload(kTransportWinUsb);
    hello[4] = 9;
    EXPECT_EQ(service.Handle(Msg(MsgType::Hello, hello), &version).type, MsgType::Refused);

    ConnectionState good;
    EXPECT_EQ(service.Handle(Msg(MsgType::Hello, HelloPayload(kTransportWinUsb)), &good).type, MsgType::Ok);
    EXPECT_EQ(service.Handle(Msg(MsgType::Line, {2}), &good).type, MsgType::Refused);
    EXPECT_FALSE(good.closing) << "a bad request does not end a greeted connection";
    EXPECT_EQ(service.Handle(Msg(MsgType::Read, {1, 2}), &good).type, MsgType::Refused);
    EXPECT_EQ(service.Handle(Msg(MsgType::Read, EncodeWord(kMaxPayload + 1)), &good).type, MsgType::Refused);
    EXPECT_EQ(service.Handle(Msg(static_cast<MsgType>(0x42)), &good).type, MsgType::Refused);
    EXPECT_TRUE(device.ProtocolErrors().empty()) << "refused requests never reach the device";
}

TEST(BridgeService, AnnouncementOverWinUsbReadsOneRecordPerPacket) {
    sim::BootLoaderSim device(sim::Transport::WinUsb);
    device.AddFault({sim::Misbehaviour::ZeroLengthPackets, sim::Step::Announce, 1, 0, 1});
    BridgeService service(device, sim::Transport::WinUsb);
    ConnectionState c;
    ASSERT_EQ(service.Handle(Msg(MsgType::Hello, HelloPayload(kTransportWinUsb)), &c).type, MsgType::Ok);

    EXPECT_EQ(service.Handle(Msg(MsgType::Read, EncodeWord(20)), &c).type, MsgType::Nothing);
    const auto unit = sim::testing::Unit50({1, 2, 3, 4});
    EXPECT_EQ(service.Handle(Msg(MsgType::Line, {0}), &c).type, MsgType::Ok);
    EXPECT_EQ(service.Handle(Msg(MsgType::Write, sim::testing::RequestBlock(260, 1, ByteChecksum(unit))), &c).type,
              MsgType::Ok);
    EXPECT_EQ(service.Handle(Msg(MsgType::Line, {1}), &c).type, MsgType::Ok);
    EXPECT_EQ(service.Handle(Msg(MsgType::Read, EncodeWord(20)), &c).type, MsgType::Zlp);
    const Message first = service.Handle(Msg(MsgType::Read, EncodeWord(8)), &c);
    ASSERT_EQ(first.type, MsgType::Data);
    const Message rest = service.Handle(Msg(MsgType::Read, EncodeWord(64)), &c);
    ASSERT_EQ(rest.type, MsgType::Data);
    Bytes record = first.payload;
    record.insert(record.end(), rest.payload.begin(), rest.payload.end());
    EXPECT_EQ(record, sim::testing::Record(sim::kResultKind, sim::kReady, 1));
    EXPECT_EQ(service.Handle(Msg(MsgType::Read, EncodeWord(20)), &c).type, MsgType::Nothing);
}

TEST(BridgeService, SerialEventsAreMaskedAndAVanishedDeviceFailsEverything) {
    sim::BootLoaderSim device(sim::Transport::Serial);
    BridgeService service(device, sim::Transport::Serial);
    ConnectionState c;
    ASSERT_EQ(service.Handle(Msg(MsgType::Hello, HelloPayload(kTransportSerial)), &c).type, MsgType::Ok);
    const auto unit = sim::testing::Unit50({1, 2, 3, 4});
    service.Handle(Msg(MsgType::Line, {0}), &c);
    service.Handle(Msg(MsgType::Write, sim::testing::RequestBlock(260, 1, ByteChecksum(unit))), &c);
    service.Handle(Msg(MsgType::Line, {1}), &c);

    const Message events = service.Handle(Msg(MsgType::TakeEvents, EncodeWord(0xDB)), &c);
    ASSERT_EQ(events.type, MsgType::Events);
    std::uint32_t mask = 0;
    ASSERT_TRUE(DecodeWord(events.payload, &mask));
    EXPECT_EQ(mask, sim::kEventRxChar);
    const Message again = service.Handle(Msg(MsgType::TakeEvents, EncodeWord(0xDB)), &c);
    ASSERT_TRUE(DecodeWord(again.payload, &mask));
    EXPECT_EQ(mask, 0u) << "events are taken once";

    // A serial read takes everything waiting, across records.
    const Message read = service.Handle(Msg(MsgType::Read, EncodeWord(1000)), &c);
    ASSERT_EQ(read.type, MsgType::Data);
    EXPECT_EQ(read.payload.size(), 20u);

    device.Vanish();
    EXPECT_EQ(service.Handle(Msg(MsgType::Line, {0}), &c).type, MsgType::Gone);
    EXPECT_EQ(service.Handle(Msg(MsgType::Write, {1}), &c).type, MsgType::Gone);
    EXPECT_EQ(service.Handle(Msg(MsgType::Read, EncodeWord(20)), &c).type, MsgType::Gone);
    EXPECT_EQ(service.Handle(Msg(MsgType::TakeEvents, EncodeWord(0xDB)), &c).type, MsgType::Gone);
}

TEST(BridgeOptions, CommandLineAndFaults) {
    BridgeOptions o;
    std::string error;
    ASSERT_TRUE(ParseBridgeOptions({"--out", "x", "--transport", "serial", "--port", "0", "--fault",
                                    "result-code:data:2:0x88", "--fault", "vanish:data:1:0:5000", "--capture",
                                    "--idle-timeout-ms", "500"},
                                   &o, &error))
        << error;
    EXPECT_EQ(o.transport, sim::Transport::Serial);
    ASSERT_EQ(o.faults.size(), 2u);
    EXPECT_EQ(o.faults[0].what, sim::Misbehaviour::ResultCode);
    EXPECT_EQ(o.faults[0].step, sim::Step::Data);
    EXPECT_EQ(o.faults[0].unit, 2);
    EXPECT_EQ(o.faults[0].value, 0x88u);
    EXPECT_EQ(o.faults[1].count, 5000u);
    EXPECT_TRUE(o.capture);
    EXPECT_EQ(o.idleTimeoutMs, 500u);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {},                                          // no results folder
             {"--out", "x", "--transport", "usb"},
             {"--out", "x", "--port", "70000"},
             {"--out", "x", "--idle-timeout-ms", "0"},  // it must always end by itself
             {"--out", "x", "--fault", "silent"},
             {"--out", "x", "--fault", "loud:data"},
             {"--out", "x", "--fault", "silent:never"},
             {"--out", "x", "--fault", "silent:data:-1"},
             {"--out", "x", "--port"},
             {"--out", "x", "--what"}}) {
        BridgeOptions unchanged;
        EXPECT_FALSE(ParseBridgeOptions(bad, &unchanged, &error)) << (bad.empty() ? "" : bad.back());
        EXPECT_FALSE(error.empty());
    }
    std::uint16_t port = 0;
    EXPECT_TRUE(ParseBridgeAddress("127.0.0.1:4242", &port));
    EXPECT_EQ(port, 4242);
    EXPECT_TRUE(ParseBridgeAddress("80", &port));
    for (const char* bad : {"", "0", "65536", "10.0.0.1:80", "12a", "127.0.0.1:"}) {
        EXPECT_FALSE(ParseBridgeAddress(bad, &port)) << bad;
    }
}

class BridgeProcess : public ::testing::Test {
protected:
    void SetUp() override {
        options_.outFolder = (folder_ / "out").string();
        options_.portFile = (folder_ / "port").string();
        options_.capture = true;
        options_.hexLimit = 8;
        options_.idleTimeoutMs = 30000;
    }
    void TearDown() override {
        if (thread_.joinable()) {
            stop_ = true;
            thread_.join();
        }
    }
    void Start() {
        server_ = std::make_unique<BridgeServer>(options_);
        std::string error;
        ASSERT_TRUE(server_->Start(&error)) << error;
        thread_ = std::thread([this] { end_ = server_->Run(&stop_); });
    }
    std::filesystem::path Out(const char* name) const { return std::filesystem::path(options_.outFolder) / name; }

    test::ScratchFolder scratch_;
    std::filesystem::path folder_ = scratch_.Path();
    BridgeOptions options_;
    std::unique_ptr<BridgeServer> server_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    ServerEnd end_ = ServerEnd::Failed;
};

TEST_F(BridgeProcess, AUnitOverLoopbackLandsInTheStoreBeforeItsResultIsRead) {
    Start();
    EXPECT_EQ(ReadText(options_.portFile), std::to_string(server_->Port()) + "\n");

    BridgeClient refused;
    std::string why;
    EXPECT_FALSE(refused.Connect(server_->Port(), kTransportSerial, &why));
    EXPECT_NE(why.find("WinUSB"), std::string::npos) << why;

    BridgeClient client;
    ASSERT_TRUE(client.Connect(server_->Port(), kTransportWinUsb, &why)) << why;
    Bytes data(20000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const auto unit = sim::testing::Unit52(data);
    const std::uint32_t sum = ByteChecksum(unit);
    const auto length = static_cast<std::uint32_t>(data.size() + 256);
    Message a;
    auto call = [&](MsgType type, Bytes payload) {
        EXPECT_TRUE(client.Request(type, payload, &a));
        return a.type;
    };
    EXPECT_EQ(call(MsgType::Line, {0}), MsgType::Ok);
    EXPECT_EQ(call(MsgType::Write, sim::testing::RequestBlock(length, 1, sum)), MsgType::Ok);
    EXPECT_EQ(call(MsgType::Line, {1}), MsgType::Ok);
    EXPECT_EQ(call(MsgType::Read, EncodeWord(20)), MsgType::Data);
    EXPECT_EQ(call(MsgType::Line, {0}), MsgType::Ok);
    EXPECT_EQ(call(MsgType::Write, sim::testing::RequestBlock(length, 0, sum)), MsgType::Ok);
    EXPECT_EQ(call(MsgType::Line, {1}), MsgType::Ok);
    EXPECT_EQ(call(MsgType::Write, Bytes(unit.header.begin(), unit.header.end())), MsgType::Ok);
    for (std::size_t at = 0; at < data.size(); at += 8192) {
        const std::size_t n = std::min<std::size_t>(8192, data.size() - at);
        EXPECT_EQ(call(MsgType::Write, Bytes(data.begin() + at, data.begin() + at + n)), MsgType::Ok);
    }
    // The unit is judged with its last byte: the store is on disk before this answer.
    EXPECT_EQ(ReadText(Out("store.txt")).substr(0, 9), "52 20000 ");
    const std::string stored = ReadText(Out("unit-52.bin"));
    EXPECT_EQ(Bytes(stored.begin(), stored.end()), data);
    EXPECT_EQ(ReadText(Out("verdicts.txt")), "1 52 0 20000\n");
    EXPECT_EQ(ReadText(Out("errors.txt")), "");

    // A second connection reaches the same device.
    BridgeClient other;
    ASSERT_TRUE(other.Connect(server_->Port(), kTransportWinUsb));
    int records = 0;
    while (other.Request(MsgType::Read, EncodeWord(20), &a) && a.type == MsgType::Data) ++records;
    EXPECT_EQ(records, 4) << "three progress records and the result";
    other.Disconnect();

    ASSERT_TRUE(client.Request(MsgType::Quit, {}, &a));
    EXPECT_EQ(a.type, MsgType::Ok);
    thread_.join();
    EXPECT_EQ(end_, ServerEnd::Quit);
    const std::string capture = ReadText(Out("capture.txt"));
    EXPECT_EQ(capture.rfind("1 H>D line 0\n", 0), 0u) << capture.substr(0, 200);
    EXPECT_NE(capture.find("H>D write 72 6655000088990000..."), std::string::npos);
    EXPECT_EQ(ReadText(Out("summary.txt")), "announcements=1\nend-transfers=0\ngone=0\n");
}

TEST_F(BridgeProcess, EndsWhenIdleAndDropsABrokenStream) {
    options_.idleTimeoutMs = 300;
    Start();
    const net::Socket raw = net::ConnectLoopback(server_->Port());
    ASSERT_NE(raw, net::kNoSocket);
    const Bytes garbage = EncodeWord(0);  // a zero length: nothing after it can be trusted
    ASSERT_TRUE(net::SendAll(raw, garbage.data(), garbage.size()));
    std::uint8_t byte = 0;
    std::vector<bool> ready;
    ASSERT_EQ(net::WaitReadable({raw}, 5000, &ready), 1);
    EXPECT_EQ(net::Receive(raw, &byte, 1), 0) << "the bridge closed the connection";
    net::Close(raw);
    const auto started = std::chrono::steady_clock::now();
    thread_.join();
    EXPECT_EQ(end_, ServerEnd::Idle);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(std::filesystem::exists(Out("store.txt"))) << "an empty store is still written";
}

}  // namespace
}  // namespace flashwise::bridge
