#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "link/Blocks.h"
#include "link/ConnManager.h"
#include "link/LinkBounds.h"
#include "tests/link/FakeSerialPort.h"
#include "tests/link/LinkTestSupport.h"

namespace flashwise::test {
namespace {

const std::wstring kPort1 = L"\\\\.\\wceusbsh001";

class SerialLink : public ::testing::Test {
protected:
    SerialLink() {
        script.clock = &time.now;
        auto fake = std::make_unique<FakeSerialPort>(&script, &calls);
        port = fake.get();
        link = std::make_unique<CConnManager>(std::move(fake), time.Pause(), time.Clock());
    }

    // An image with unit 50 of the worked example, opened, and the link opened on port 1.
    void OpenWorkedExample() {
        ImageSizes sizes;
        sizes.l50 = 4;
        WriteFile("Tarn_G4.abi", ImageFile(sizes, Bytes({1, 2, 3, 4})));
        ASSERT_TRUE(image.OpenImage(folder.Path() / "Tarn_G4.abi"));
        header = WorkedExampleSectionHeader();
        OpenLink();
    }
    void OpenLink() {
        script.present = {kPort1};
        ASSERT_TRUE(link->Open());
        calls.clear();
        time.pauses.clear();
    }

    std::vector<std::string> Ops() const {
        std::vector<std::string> ops;
        for (const auto& c : calls) ops.push_back(c.op);
        return ops;
    }
    std::vector<std::vector<std::uint8_t>> Writes() const {
        std::vector<std::vector<std::uint8_t>> w;
        for (const auto& c : calls)
            if (c.op == "write") w.push_back(c.bytes);
        return w;
    }
    bool Prepare(int code = 50) { return link->PrepareSection(&image, request.data(), header.data(), code); }
    bool Send(int code = 50) { return link->SendSection(&image, request.data(), header.data(), code); }

    ScratchFolder folder{ScratchFolder::Use::AsCurrentFolder};
    FakeTime time;
    SerialScript script;
    std::vector<SerialCall> calls;
    FakeSerialPort* port = nullptr;
    std::unique_ptr<CConnManager> link;
    CFirmwareImage image;
    std::vector<std::uint8_t> header = std::vector<std::uint8_t>(256, 0);
    std::vector<std::uint8_t> request = std::vector<std::uint8_t>(72, 0);
};

TEST_F(SerialLink, OpenTriesNumbersOneToNineteenThenWholePassesWithPauses) {
    EXPECT_FALSE(link->Open());
    std::vector<std::wstring> names;
    for (const auto& c : calls) names.push_back(c.name);
    ASSERT_EQ(names.size(), 499u);
    EXPECT_EQ(names[0], L"\\\\.\\wceusbsh001");
    EXPECT_EQ(names[18], L"\\\\.\\wceusbsh019");
    EXPECT_EQ(names[19], L"\\\\.\\wceusbsh000");
    EXPECT_EQ(names[38], L"\\\\.\\wceusbsh019");
    EXPECT_EQ(names[39], L"\\\\.\\wceusbsh000");
    EXPECT_EQ(names[498], L"\\\\.\\wceusbsh019");
    EXPECT_EQ(time.pauses, std::vector<std::uint32_t>(24, 1000));
}

TEST_F(SerialLink, OpenAppliesTheLineSettingsInOrder) {
    script.present = {L"\\\\.\\wceusbsh000"};
    ASSERT_TRUE(link->Open());
    EXPECT_EQ(port->opens, 1);
    EXPECT_EQ(calls.size(), 20u + 3u);   // 19 misses, one open, three settings
    EXPECT_EQ(time.pauses, std::vector<std::uint32_t>{1000});
    EXPECT_EQ(calls[20].op, "settings");
    EXPECT_EQ(calls[21].op, "mask");
    EXPECT_EQ(calls[22].op, "timeouts");

    const SerialLineSettings& s = port->lastSettings;
    EXPECT_EQ(s.length, 28u);
    EXPECT_EQ(s.baudRate, 115200u);
    EXPECT_EQ(s.flags, 0x0000000Cu);
    EXPECT_EQ(s.byteSize, 0);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(s.xonLimit + s.xoffLimit + s.xonChar + s.xoffChar + s.errorChar + s.eofChar + s.evtChar, 0);
    EXPECT_EQ(port->lastMask, 0xDBu);
    EXPECT_EQ(port->lastTimeouts.readInterval, 0xFFFFFFFFu);
    EXPECT_EQ(port->lastTimeouts.readTotalMultiplier, 0xFFFFFFFFu);
    EXPECT_EQ(port->lastTimeouts.readTotalConstant, 5000u);
    EXPECT_EQ(port->lastTimeouts.writeTotalMultiplier, 0u);
    EXPECT_EQ(port->lastTimeouts.writeTotalConstant, 0u);
}

TEST_F(SerialLink, RefusedSettingFailsOpenAndTheNextOpenClosesFirst) {
    script.present = {kPort1};
    script.failMask = true;
    EXPECT_FALSE(link->Open());
    EXPECT_TRUE(port->IsOpen());
    EXPECT_EQ(port->closes, 0);
    script.failMask = false;
    calls.clear();
    EXPECT_TRUE(link->Open());
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].op, "close");
    EXPECT_EQ(calls[1].name, kPort1);
    link.reset();
    EXPECT_EQ(calls.back().op, "close");   // destruction closes the port
}

TEST_F(SerialLink, WorkedExampleOnTheWire) {
    OpenWorkedExample();
    script.reads = {Record(kResultKind, 0x77, 1)};
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(Ops(), (std::vector<std::string>{"dtr-", "write", "dtr+", "wait", "dtr+", "read"}));
    EXPECT_EQ(time.pauses, std::vector<std::uint32_t>{1000});

    std::vector<std::uint8_t> block(72, 0);
    StoreLe32(&block[0x00], 0x5566);
    StoreLe32(&block[0x04], 0x9988);
    StoreLe32(&block[0x08], 0x9AA80000);
    StoreLe32(&block[0x0C], 260);
    std::memcpy(&block[0x10], "Tarn_G4.abi", 11);
    block[0x2E] = 1;
    block[0x30] = 4;
    StoreLe32(&block[0x44], 0x27F);
    EXPECT_EQ(Writes(), std::vector<std::vector<std::uint8_t>>{block});

    calls.clear();
    time.pauses.clear();
    script.reads = {Record(kProgressKind, 50), Record(kResultKind, 0)};
    ASSERT_TRUE(Send());
    EXPECT_EQ(Ops(), (std::vector<std::string>{"dtr-", "write", "dtr+", "wait", "write", "wait", "write",
                                               "wait", "dtr+", "read", "read"}));
    block[0x2E] = 0;
    EXPECT_EQ(Writes(), (std::vector<std::vector<std::uint8_t>>{block, header, Bytes({1, 2, 3, 4})}));
    EXPECT_TRUE(time.pauses.empty());   // no pause after the announcement in SendSection
    EXPECT_EQ(link->DeviceProgress(), 100u);

    calls.clear();
    EXPECT_TRUE(link->EndTransfer());
    std::vector<std::uint8_t> end(72, 0);
    end[0] = 0x34;
    end[1] = 0x12;
    EXPECT_EQ(Ops(), (std::vector<std::string>{"dtr-", "write", "dtr+"}));
    EXPECT_EQ(Writes(), std::vector<std::vector<std::uint8_t>>{end});
}

TEST_F(SerialLink, EmptyUnitsAndClosedPortsSendNothing) {
    OpenWorkedExample();
    EXPECT_TRUE(Prepare(52));
    EXPECT_TRUE(Send(52));
    WriteFile("ExtRom.tmp", {});
    EXPECT_TRUE(Prepare(55));
    EXPECT_TRUE(Send(55));
    std::remove("ExtRom.tmp");
    EXPECT_FALSE(Prepare(55));
    EXPECT_FALSE(Send(55));
    EXPECT_TRUE(calls.empty());

    port->Close();
    calls.clear();
    EXPECT_FALSE(Prepare());
    EXPECT_FALSE(Send());
    EXPECT_FALSE(link->EndTransfer());
    EXPECT_TRUE(calls.empty());
}

TEST_F(SerialLink, ReadinessIsJudgedOnOneRecord) {
    OpenWorkedExample();
    script.reads = {Record(kResultKind, 0x77, 0)};
    EXPECT_FALSE(Prepare());
    script.reads = {Record(kProgressKind, 0x77, 1), Record(kResultKind, 0x77, 1)};
    EXPECT_FALSE(Prepare());   // only the first record counts
    EXPECT_EQ(script.reads.size(), 1u);

    // Three stray bytes first: found by its mark, completed with the next three.
    script.reads = {Bytes({0, 0, 0, 0xAA, 0x55, 0, 0, 0x77, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}), Bytes({0, 0, 0})};
    EXPECT_TRUE(Prepare());
    EXPECT_TRUE(script.reads.empty());
}

TEST_F(SerialLink, SilentBootLoaderIsNotReadyAfterTheEmptyReadAllowance) {
    OpenWorkedExample();
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(time.PausedFor(500), 101u);
    EXPECT_EQ(port->writes, 1);
}

TEST_F(SerialLink, ReadKeepsWhatArrivedAndReportsSuccess) {
    OpenLink();
    std::vector<std::uint8_t> buffer(8, 0xEE);
    script.reads = {Bytes({1, 2}), {}, Bytes({3})};
    EXPECT_TRUE(link->Read(8, buffer.data()));
    EXPECT_EQ(buffer, Bytes({1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(time.PausedFor(500), 101u);   // empty reads need not be consecutive
    EXPECT_TRUE(link->Read(0, buffer.data()));
    EXPECT_FALSE(link->Read(-1, buffer.data()));
    EXPECT_FALSE(link->Read(4, nullptr));
    script.readFails = {true};
    time.pauses.clear();
    EXPECT_TRUE(link->Read(4, buffer.data()));   // a failing read call ends the loop
    EXPECT_TRUE(time.pauses.empty());
}

TEST_F(SerialLink, ProgressThenResult) {
    OpenWorkedExample();
    script.reads = {Record(kProgressKind, 250), Record(kResultKind, 0)};
    ASSERT_TRUE(Send());
    EXPECT_EQ(link->DeviceProgress(), 300u);
    script.reads = {Record(kProgressKind, 300), Record(kResultKind, 0)};
    ASSERT_TRUE(Send());
    EXPECT_EQ(link->DeviceProgress(), 300u);
    script.reads = {Record(kProgressKind, 10), Record(kProgressKind, 55), Record(kProgressKind, 90),
                    Record(kResultKind, 5), Bytes({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}),
                    Record(kResultKind, 0)};
    ASSERT_TRUE(Send());   // 5 and a record with no mark are not final
    EXPECT_EQ(link->DeviceProgress(), 100u);
    EXPECT_TRUE(script.reads.empty());
}

TEST_F(SerialLink, RejectedUnitsStopReading) {
    OpenWorkedExample();
    for (std::uint32_t code : {0x22u, 0x88u, 0x99u}) {
        script.reads = {Record(kProgressKind, 40), Record(kResultKind, code), Record(kResultKind, 0)};
        EXPECT_FALSE(Send()) << code;
        EXPECT_EQ(script.reads.size(), 1u) << code;
    }
}

TEST_F(SerialLink, StatusReadThatStopsShortFailsTheUnit) {
    OpenWorkedExample();
    script.reads = {Record(kProgressKind, 40), Bytes({0xAA, 0x55, 0, 0})};
    EXPECT_FALSE(Send());
    EXPECT_EQ(time.PausedFor(500), 101u);
    EXPECT_EQ(link->DeviceProgress(), 40u);
}

TEST_F(SerialLink, TransportFailuresFailTheOperation) {
    OpenWorkedExample();
    script.failWriteAt = port->writes;   // the request block
    EXPECT_FALSE(Send());
    EXPECT_EQ(Ops(), (std::vector<std::string>{"dtr-", "write"}));

    calls.clear();
    script.shortWriteAt = port->writes + 2;   // the data piece
    EXPECT_FALSE(Send());
    EXPECT_EQ(Ops().back(), "write");

    calls.clear();
    script.failSetDtr = true;
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(Ops(), (std::vector<std::string>{"dtr-", "write", "dtr+"}));

    calls.clear();
    script.failSetDtr = false;
    script.failClearDtr = true;
    link->EndTransfer();
    EXPECT_EQ(Ops(), std::vector<std::string>{"dtr-"});
}

TEST_F(SerialLink, EventWaitThatKeepsFailingGivesUp) {
    OpenWorkedExample();
    script.waits = std::deque<bool>(1000, false);
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(script.waits.size(), 1000u - kEventWaitFailureLimit);
    EXPECT_EQ(time.PausedFor(kEventWaitRetryPauseMs), static_cast<std::uint64_t>(kEventWaitFailureLimit - 1));

    // A few failures in a row are ridden out.
    script.waits = {false, false, false};
    script.reads = {Record(kResultKind, 0x77, 1)};
    EXPECT_TRUE(Prepare());
}

TEST_F(SerialLink, DataGoesOutInPiecesFromTheUnitsOwnRange) {
    ImageSizes sizes;
    sizes.l50 = 3;
    sizes.l51a = 20000;
    std::vector<std::uint8_t> data = Bytes({7, 7, 7});
    for (int i = 0; i < 20000; ++i) data.push_back(static_cast<std::uint8_t>(i));
    data.push_back(0x55);   // after the unit
    WriteFile("image.abi", ImageFile(sizes, data));
    ASSERT_TRUE(image.OpenImage(folder.Path() / "image.abi"));
    OpenLink();
    script.reads = {Record(kResultKind, 0)};
    ASSERT_TRUE(Send(51));
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 5u);
    EXPECT_EQ(writes[2].size(), 8192u);
    EXPECT_EQ(writes[3].size(), 8192u);
    EXPECT_EQ(writes[4].size(), 3616u);
    std::vector<std::uint8_t> sent;
    for (int i = 2; i < 5; ++i) sent.insert(sent.end(), writes[i].begin(), writes[i].end());
    EXPECT_EQ(sent, std::vector<std::uint8_t>(data.begin() + 3, data.end() - 1));

    // Unit 55 streams ExtRom.tmp from its start.
    calls.clear();
    WriteFile("ExtRom.tmp", Bytes({0xE1, 0xE2}));
    script.reads = {Record(kResultKind, 0)};
    ASSERT_TRUE(Send(55));
    EXPECT_EQ(Writes().back(), Bytes({0xE1, 0xE2}));
}

}  // namespace
}  // namespace flashwise::test
