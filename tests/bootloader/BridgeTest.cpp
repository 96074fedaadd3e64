// The bridge to the simulated boot loader: its framing, its answers, and the process's
// loop over a real loopback connection with the result files a test reads.

#include <gtest/gtest.h>

#include <algorithm>
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

// One host over the service, doing what the links do.
struct ServiceHost {
    explicit ServiceHost(BridgeService& s) : service(s) {}
    BridgeService& service;
    ConnectionState state;

    MsgType Call(MsgType type, Bytes payload = {}) { return Last(type, std::move(payload)).type; }
    Message Last(MsgType type, Bytes payload = {}) { return service.Handle(Msg(type, std::move(payload)), &state); }
    bool Greet(std::uint8_t transport = kTransportSerial) {
        return Call(MsgType::Hello, HelloPayload(transport)) == MsgType::Ok;
    }
    // Line 0, the request block, line 1: the announcement (flag 1) or the send (flag 0).
    bool Block(const sim::testing::HostUnit& unit, std::uint8_t flag) {
        const auto length = static_cast<std::uint32_t>(unit.data.size() + sim::kHeaderSize);
        return Call(MsgType::Line, {0}) == MsgType::Ok &&
               Call(MsgType::Write, sim::testing::RequestBlock(length, flag, ByteChecksum(unit))) == MsgType::Ok &&
               Call(MsgType::Line, {1}) == MsgType::Ok;
    }
    Bytes ReadAll() {
        Bytes all;
        for (Message m = Last(MsgType::Read, EncodeWord(1000)); m.type == MsgType::Data;
             m = Last(MsgType::Read, EncodeWord(1000))) {
            all.insert(all.end(), m.payload.begin(), m.payload.end());
        }
        return all;
    }
    // A whole unit: the readiness record must be the first thing read, the verdict the last.
    void Store(const sim::testing::HostUnit& unit, const std::string& row) {
        ASSERT_TRUE(Block(unit, 1)) << row;
        EXPECT_EQ(ReadAll(), sim::testing::Record(sim::kResultKind, 0x77, 1)) << row << ": the readiness record";
        ASSERT_TRUE(Block(unit, 0)) << row;
        EXPECT_EQ(Call(MsgType::Write, Bytes(unit.header.begin(), unit.header.end())), MsgType::Ok) << row;
        EXPECT_EQ(Call(MsgType::Write, unit.data), MsgType::Ok) << row;
        const Bytes replies = ReadAll();
        ASSERT_EQ(replies.size(), 4 * sim::kRecordSize) << row << ": three progress records and the result";
        EXPECT_EQ(Bytes(replies.end() - 20, replies.end()), sim::testing::Record(sim::kResultKind, 0)) << row;
    }
    void Leave(bool bye) {
        if (bye) {
            EXPECT_EQ(Call(MsgType::Bye), MsgType::Ok);
        } else {
            state.closing = true;  // the connection broke: the host was killed
        }
        service.Forget(&state);
    }
};

TEST(BridgeService, ANewOpenStartsAFreshSessionAndKeepsTheStore) {
    const auto first = sim::testing::Unit50({1, 2, 3, 4, 5, 6, 7, 8});
    const auto second = sim::testing::Unit52(Bytes(3000, 0x5A));
    struct Row {
        const char* left;  // what the host that went away left behind
        void (*leave)(ServiceHost&, sim::BootLoaderSim&, const sim::testing::HostUnit&);
        bool bye;
        const char* noted;
        int writes;  // of unit 52 at the end
    };
    const Row rows[] = {
        {"a device that vanished", [](ServiceHost&, sim::BootLoaderSim& d, const sim::testing::HostUnit&) { d.Vanish(); },
         true, "new session: the device is back", 1},
        {"half a request block",
         [](ServiceHost& h, sim::BootLoaderSim&, const sim::testing::HostUnit& u) {
             const Bytes block = sim::testing::RequestBlock(4000, 1, ByteChecksum(u));
             h.Call(MsgType::Line, {0});
             h.Call(MsgType::Write, Bytes(block.begin(), block.begin() + 30));
         },
         false, "new session: a partial block of 30 bytes dropped", 1},
        {"a unit whose result nobody read",
         [](ServiceHost& h, sim::BootLoaderSim&, const sim::testing::HostUnit& u) {
             h.Block(u, 1);
             h.ReadAll();
             h.Block(u, 0);
             h.Call(MsgType::Write, Bytes(u.header.begin(), u.header.end()));
             h.Call(MsgType::Write, u.data);
         },
         false, "new session: replies for the old host dropped (80 bytes)", 2},
    };
    for (const Row& row : rows) {
        sim::BootLoaderSim device(sim::Transport::Serial);
        device.Capture().Enable(true);
        BridgeService service(device, sim::Transport::Serial);
        {
            ServiceHost old(service);
            ASSERT_TRUE(old.Greet());
            old.Store(first, row.left);
            row.leave(old, device, second);
            old.Leave(row.bye);
        }
        ServiceHost next(service);
        ASSERT_TRUE(next.Greet()) << row.left;
        next.Store(second, row.left);
        EXPECT_TRUE(device.ProtocolErrors().empty())
            << row.left << ": " << (device.ProtocolErrors().empty() ? "" : device.ProtocolErrors()[0]);
        const sim::StoredUnit* kept = device.Store().Find(50);
        EXPECT_TRUE(kept != nullptr && kept->data == first.data) << row.left << ": the old host's unit stays";
        const sim::StoredUnit* written = device.Store().Find(52);
        EXPECT_TRUE(written != nullptr && written->data == second.data) << row.left << ": the new host's unit";
        EXPECT_EQ(written != nullptr ? written->writes : 0, row.writes) << row.left << ": a half unit is never kept";
        EXPECT_FALSE(device.IsGone()) << row.left;
        const auto lines = device.Capture().Lines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.find(row.noted) != std::string::npos; }),
                  1)
            << row.left << ": the capture notes it";
    }
}

TEST(BridgeService, ASecondOpenWhileAHostIsConnectedJoinsItsSession) {
    sim::BootLoaderSim device(sim::Transport::WinUsb);
    BridgeService service(device, sim::Transport::WinUsb);
    ServiceHost first(service);
    ASSERT_TRUE(first.Greet(kTransportWinUsb));
    device.Vanish();
    ServiceHost second(service);
    ASSERT_TRUE(second.Greet(kTransportWinUsb));
    EXPECT_EQ(second.Call(MsgType::Line, {0}), MsgType::Gone) << "the first host's session goes on";
    EXPECT_EQ(first.Call(MsgType::Line, {0}), MsgType::Gone);
    first.Leave(true);
    second.Leave(false);
    ServiceHost third(service);
    ASSERT_TRUE(third.Greet(kTransportWinUsb));
    EXPECT_EQ(third.Call(MsgType::Line, {0}), MsgType::Ok) << "with nobody connected, a new open brings it back";
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

TEST_F(BridgeProcess, AHostKilledHalfWayThroughAUnitLeavesNothingForTheNext) {
    Start();
    const auto unit = sim::testing::Unit52(Bytes(5000, 0x33));
    const std::uint32_t length = 5256;
    std::vector<Bytes> requests = {HelloPayload(kTransportWinUsb), {0},
                                   sim::testing::RequestBlock(length, 1, ByteChecksum(unit)), {1}, {0},
                                   sim::testing::RequestBlock(length, 0, ByteChecksum(unit)), {1},
                                   Bytes(unit.header.begin(), unit.header.end()),
                                   Bytes(unit.data.begin(), unit.data.begin() + 2000)};
    const MsgType types[] = {MsgType::Hello, MsgType::Line, MsgType::Write, MsgType::Line, MsgType::Line,
                             MsgType::Write, MsgType::Line, MsgType::Write, MsgType::Write};
    const net::Socket killed = net::ConnectLoopback(server_->Port());
    ASSERT_NE(killed, net::kNoSocket);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const Bytes frame = EncodeFrame(types[i], requests[i].data(), requests[i].size());
        ASSERT_TRUE(net::SendAll(killed, frame.data(), frame.size()));
    }
    // Every answer is taken before the connection breaks, as a host killed between two calls.
    FrameReader answers;
    std::size_t answered = 0;
    std::uint8_t buffer[256];
    std::vector<bool> ready;
    while (answered < requests.size() && net::WaitReadable({killed}, 5000, &ready) == 1) {
        const long n = net::Receive(killed, buffer, sizeof buffer);
        if (n <= 0) break;
        answers.Feed(buffer, static_cast<std::size_t>(n));
        for (Message m; answers.Next(&m); ++answered) EXPECT_EQ(m.type, MsgType::Ok) << answered;
    }
    ASSERT_EQ(answered, requests.size());
    net::Close(killed);

    BridgeClient next;
    ASSERT_TRUE(next.Connect(server_->Port(), kTransportWinUsb));
    const auto other = sim::testing::Unit50({9, 8, 7, 6});
    Message a;
    for (const auto& [type, payload] : std::vector<std::pair<MsgType, Bytes>>{
             {MsgType::Line, {0}}, {MsgType::Write, sim::testing::RequestBlock(260, 1, ByteChecksum(other))},
             {MsgType::Line, {1}}}) {
        ASSERT_TRUE(next.Request(type, payload, &a));
        EXPECT_EQ(a.type, MsgType::Ok);
    }
    ASSERT_TRUE(next.Request(MsgType::Read, EncodeWord(20), &a));
    EXPECT_EQ(a.payload, sim::testing::Record(sim::kResultKind, 0x77, 1)) << "the announcement is answered";
    ASSERT_TRUE(next.Request(MsgType::Read, EncodeWord(20), &a));
    EXPECT_EQ(a.type, MsgType::Nothing) << "nothing queued for the killed host is delivered";
    ASSERT_TRUE(next.Request(MsgType::Quit, {}, &a));
    thread_.join();
    EXPECT_EQ(ReadText(Out("errors.txt")), "");
    EXPECT_NE(ReadText(Out("capture.txt")).find("SIM note new session: unit 1 dropped after 2000 of 5000 data bytes"),
              std::string::npos);
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
