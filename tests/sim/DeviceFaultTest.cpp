// Each way the simulated boot loader can be told to misbehave, seen from the host.

#include <gtest/gtest.h>

#include "sim/BootLoaderSim.h"
#include "sim/CommEvents.h"
#include "tests/sim/HostBlocks.h"

namespace flashwise::sim {
namespace {

using namespace flashwise::sim::testing;

const Bytes kReference = {0x01, 0x02, 0x03, 0x04};

DeviceFault Fault(Misbehaviour what, Step step, std::uint32_t value = 0, std::uint32_t count = 1, int unit = 0) {
    DeviceFault f;
    f.what = what;
    f.step = step;
    f.value = value;
    f.count = count;
    f.unit = unit;
    return f;
}

// Announces and sends the reference unit; returns what the device queued after the data.
Bytes RunUnit(BootLoaderSim& sim, Bytes* readiness = nullptr) {
    const HostUnit unit = Unit50(kReference);
    Announce(sim, unit, 0x27F);
    const Bytes ready = ReadAll(sim);
    if (readiness) *readiness = ready;
    Send(sim, unit, 0x27F);
    return ReadAll(sim);
}

Bytes LastRecord(const Bytes& replies) {
    return replies.size() < kRecordSize ? Bytes() : Bytes(replies.end() - kRecordSize, replies.end());
}

TEST(DeviceFault, SilentLeavesNothingToReadAndNoEvent) {
    for (Step step : {Step::Announce, Step::Data}) {
        BootLoaderSim sim(Transport::Serial);
        sim.AddFault(Fault(Misbehaviour::Silent, step));
        const HostUnit unit = Unit50(kReference);
        ASSERT_TRUE(Announce(sim, unit, 0x27F));
        if (step == Step::Announce) {
            EXPECT_EQ(sim.TakeCommEvents().mask, 0u);
            EXPECT_TRUE(ReadAll(sim).empty());
            continue;
        }
        ReadAll(sim);
        sim.TakeCommEvents();
        ASSERT_TRUE(Send(sim, unit, 0x27F));
        EXPECT_EQ(sim.TakeCommEvents().mask, kEventCts);  // header and data were still taken
        EXPECT_TRUE(ReadAll(sim).empty());
    }
    // Silent where the serial host waits for the header and the data: no CTS change.
    for (Step step : {Step::Request, Step::Header}) {
        BootLoaderSim sim(Transport::Serial);
        sim.AddFault(Fault(Misbehaviour::Silent, step));
        const HostUnit unit = Unit50(kReference);
        ASSERT_TRUE(Announce(sim, unit, 0x27F));
        ReadAll(sim);
        sim.TakeCommEvents();
        ASSERT_TRUE(sim.LineState(false));
        ASSERT_TRUE(WriteBytes(sim, RequestBlock(260, 0, 0x27F)));
        ASSERT_TRUE(sim.LineState(true));
        EXPECT_EQ(sim.TakeCommEvents().mask, step == Step::Request ? 0u : kEventCts);
        ASSERT_TRUE(sim.HostWrite(unit.header.data(), kHeaderSize));
        EXPECT_EQ(sim.TakeCommEvents().mask, step == Step::Header ? 0u : kEventCts);
    }
}

TEST(DeviceFault, ShiftPutsStrayBytesBeforeTheFirstRecordOnly) {
    BootLoaderSim sim(Transport::WinUsb);
    sim.AddFault(Fault(Misbehaviour::ShiftRecord, Step::Announce, 0x00, 3));
    sim.AddFault(Fault(Misbehaviour::ShiftRecord, Step::Data, 0x11, 19));
    Bytes ready;
    const Bytes replies = RunUnit(sim, &ready);
    Bytes expected(3, 0x00);
    const Bytes r = Record(kResultKind, kReady, 1);
    expected.insert(expected.end(), r.begin(), r.end());
    EXPECT_EQ(ready, expected);
    // The first packet is 19 stray bytes and the first progress record; the rest are clean.
    ASSERT_EQ(replies.size(), 19 + 4 * kRecordSize);
    EXPECT_EQ(Bytes(replies.begin(), replies.begin() + 19), Bytes(19, 0x11));
    EXPECT_EQ(Bytes(replies.begin() + 19, replies.begin() + 39), Record(kProgressKind, 25));
    EXPECT_EQ(LastRecord(replies), Record(kResultKind, kWritten));
    // A bulk read of 20 bytes splits the shifted packet; the rest comes with the next read.
    BootLoaderSim usb(Transport::WinUsb);
    usb.AddFault(Fault(Misbehaviour::ShiftRecord, Step::Announce, 0x00, 3));
    Announce(usb, Unit50(kReference), 0x27F);
    std::uint8_t buf[20];
    EXPECT_EQ(usb.HostRead(buf, 20).count, 20u);
    EXPECT_EQ(usb.HostRead(buf, 20).count, 3u);
}

TEST(DeviceFault, ForcedResultCodesAndReadinessWord) {
    for (std::uint32_t code : {0x22u, 0x88u, 0x99u, 0x05u}) {
        SCOPED_TRACE(code);
        BootLoaderSim sim(Transport::WinUsb);
        sim.AddFault(Fault(Misbehaviour::ResultCode, Step::Data, code));
        EXPECT_EQ(LastRecord(RunUnit(sim)), Record(kResultKind, code));
        // The device's own verdict was good; what it said is what counts for the store.
        EXPECT_EQ(sim.Verdicts()[0].result, kWritten);
        EXPECT_EQ(sim.Store().Find(50), nullptr);
    }
    BootLoaderSim announce(Transport::WinUsb);
    announce.AddFault(Fault(Misbehaviour::ResultCode, Step::Announce, 0x99));
    Bytes ready;
    RunUnit(announce, &ready);
    EXPECT_EQ(ready, Record(kResultKind, 0x99, 1));

    BootLoaderSim word(Transport::WinUsb);
    word.AddFault(Fault(Misbehaviour::ReadinessWord, Step::Announce, 0));
    RunUnit(word, &ready);
    EXPECT_EQ(ready, Record(kResultKind, kReady, 0));
}

TEST(DeviceFault, UnknownResultsComeBeforeTheVerdict) {
    BootLoaderSim sim(Transport::WinUsb);
    sim.SetProgressRecords(0);
    sim.AddFault(Fault(Misbehaviour::UnknownResults, Step::Data, 0x05, 2));
    const Bytes replies = RunUnit(sim);
    Bytes expected = Record(kResultKind, 5);
    expected.insert(expected.end(), expected.begin(), expected.end());
    const Bytes good = Record(kResultKind, kWritten);
    expected.insert(expected.end(), good.begin(), good.end());
    EXPECT_EQ(replies, expected);
    EXPECT_NE(sim.Store().Find(50), nullptr);
}

TEST(DeviceFault, ZeroLengthPacketsOnWinUsbAreEmptyReadsOnSerial) {
    for (Transport t : {Transport::WinUsb, Transport::Serial}) {
        BootLoaderSim sim(t);
        sim.AddFault(Fault(Misbehaviour::ZeroLengthPackets, Step::Announce, 0, 2));
        Announce(sim, Unit50(kReference), 0x27F);
        std::uint8_t buf[20];
        const ReadKind empty = t == Transport::WinUsb ? ReadKind::ZeroLengthPacket : ReadKind::Nothing;
        EXPECT_EQ(sim.HostRead(buf, 20).kind, empty);
        EXPECT_EQ(sim.HostRead(buf, 20).kind, empty);
        const ReadResult r = sim.HostRead(buf, 20);
        EXPECT_EQ(r.kind, ReadKind::Data);
        EXPECT_EQ(Bytes(buf, buf + r.count), Record(kResultKind, kReady, 1));
    }
}

TEST(DeviceFault, RejectChecksumRefusesAGoodUnit) {
    BootLoaderSim sim(Transport::Serial);
    sim.AddFault(Fault(Misbehaviour::RejectChecksum, Step::Data));
    EXPECT_EQ(LastRecord(RunUnit(sim)), Record(kResultKind, kRejectByteChecksum));
    EXPECT_EQ(sim.Store().Size(), 0u);
    // Spent after one unit: the next one goes through.
    EXPECT_EQ(LastRecord(RunUnit(sim)), Record(kResultKind, kWritten));
    EXPECT_NE(sim.Store().Find(50), nullptr);
}

TEST(DeviceFault, FaultsAimedAtALaterUnitLeaveEarlierOnesAlone) {
    BootLoaderSim sim(Transport::WinUsb);
    sim.AddFault(Fault(Misbehaviour::ResultCode, Step::Data, 0x88, 1, 2));
    EXPECT_EQ(LastRecord(RunUnit(sim)), Record(kResultKind, kWritten));
    EXPECT_EQ(LastRecord(RunUnit(sim)), Record(kResultKind, 0x88));
    EXPECT_EQ(sim.Announcements(), 2);
}

TEST(DeviceFault, VanishAtEachStepFailsEverythingAfter) {
    for (Step step : {Step::Announce, Step::Request, Step::Header, Step::Data, Step::EndOfTransfer}) {
        SCOPED_TRACE(static_cast<int>(step));
        BootLoaderSim sim(Transport::Serial);
        sim.AddFault(Fault(Misbehaviour::Vanish, step, 0, 1000));
        const HostUnit unit = Unit50(kReference);
        bool ok = Announce(sim, unit, 0x27F);
        ReadAll(sim);
        ok = ok && Send(sim, unit, 0x27F);
        ReadAll(sim);
        ok = ok && EndTransfer(sim);
        EXPECT_FALSE(ok);
        EXPECT_TRUE(sim.IsGone());
        EXPECT_FALSE(sim.LineState(true));
        EXPECT_FALSE(WriteBytes(sim, EndBlock()));
        std::uint8_t buf[20];
        EXPECT_EQ(sim.HostRead(buf, 20).kind, ReadKind::Gone);
        EXPECT_TRUE(sim.TakeCommEvents().gone);
        // Only a device that vanishes after the end block has kept its unit.
        EXPECT_EQ(sim.Store().Size(), step == Step::EndOfTransfer ? 1u : 0u);
        EXPECT_EQ(sim.EndTransfers(), step == Step::EndOfTransfer ? 1 : 0);
    }
}

TEST(DeviceFault, VanishPartWayThroughTheData) {
    Bytes data(10000, 0x42);
    const HostUnit unit = Unit52(data);
    BootLoaderSim sim(Transport::WinUsb);
    sim.AddFault(Fault(Misbehaviour::Vanish, Step::Data, 0, 5000));
    ASSERT_TRUE(Announce(sim, unit, ByteChecksum(unit)));
    ReadAll(sim);
    ASSERT_TRUE(sim.LineState(false));
    ASSERT_TRUE(WriteBytes(sim, RequestBlock(10256, 0, ByteChecksum(unit))));
    ASSERT_TRUE(sim.LineState(true));
    ASSERT_TRUE(sim.HostWrite(unit.header.data(), kHeaderSize));
    EXPECT_TRUE(sim.HostWrite(data.data(), 4096));
    EXPECT_FALSE(sim.HostWrite(data.data() + 4096, 4096));  // crosses byte 5000
    EXPECT_TRUE(sim.IsGone());
    EXPECT_TRUE(sim.Verdicts().empty());
    EXPECT_EQ(sim.Store().Size(), 0u);
}

}  // namespace
}  // namespace flashwise::sim
