// The simulated boot loader driven by hand-built blocks: readiness, progress and
// result, the checks it makes on what it really received, serial events, the line
// rules and the capture.

#include <gtest/gtest.h>

#include "sim/BootLoaderSim.h"
#include "sim/CommEvents.h"
#include "tests/sim/HostBlocks.h"

namespace flashwise::sim {
namespace {

using namespace flashwise::sim::testing;

const Bytes kReference = {0x01, 0x02, 0x03, 0x04};

TEST(BootLoaderSim, ReferenceUnitIsAnnouncedSentAndStored) {
    const HostUnit unit = Unit50(kReference);
    // The encoder reproduces the known figures, so the device is judged against them.
    ASSERT_EQ(LoadWord(unit.header.data() + 0x0C), 0x04030616u);
    ASSERT_EQ(ByteChecksum(unit), 0x27Fu);

    BootLoaderSim sim(Transport::WinUsb);
    ASSERT_TRUE(Announce(sim, unit, 0x27F));
    EXPECT_EQ(ReadAll(sim), Record(kResultKind, kReady, 1));

    ASSERT_TRUE(Send(sim, unit, 0x27F));
    Bytes expected;
    for (std::uint32_t p : {25u, 50u, 75u}) {
        const Bytes r = Record(kProgressKind, p);
        expected.insert(expected.end(), r.begin(), r.end());
    }
    const Bytes result = Record(kResultKind, kWritten);
    expected.insert(expected.end(), result.begin(), result.end());
    EXPECT_EQ(ReadAll(sim), expected);

    ASSERT_TRUE(EndTransfer(sim));
    EXPECT_EQ(sim.EndTransfers(), 1);
    const StoredUnit* stored = sim.Store().Find(50);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->data, kReference);
    EXPECT_EQ(stored->length, 4u);
    EXPECT_EQ(stored->fileName, "Tarn_G4.abi");
    EXPECT_EQ(stored->imageType, 4);
    EXPECT_EQ(stored->crc32, Crc32Of(kReference.data(), kReference.size()));
    EXPECT_TRUE(sim.ProtocolErrors().empty());
}

TEST(BootLoaderSim, JudgesChecksumsAndLengthAgainstWhatArrived) {
    struct Case {
        const char* what;
        std::uint32_t byteChecksum;
        bool breakWordChecksum;
        bool lengthDisagrees;
        std::uint32_t verdict;
    } cases[] = {
        {"good", 0x27F, false, false, kWritten},
        {"byte checksum off by one", 0x280, false, false, kRejectByteChecksum},
        {"word checksum off by one", 0x27F, true, false, kRejectWordChecksum},
        {"header length disagrees", 0x27F, false, true, kRejectUnit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostUnit unit = Unit50(kReference);
        if (c.breakWordChecksum) {
            StoreWord(unit.header.data() + 0x0C, 0x04030617u);  // the byte checksum follows the header as sent
        }
        if (c.lengthDisagrees) {
            // Header says 8 bytes, request block says 4: the device takes the 4 it was told.
            StoreWord(unit.header.data() + 0x30, 8);
            StoreWord(unit.header.data() + 0x40, 8);
            StoreWord(unit.header.data() + 0x0C, LoadWord(unit.header.data() + 0x0C) + 8);
        }
        const std::uint32_t sum = c.byteChecksum + (ByteChecksum(unit) - 0x27F);
        BootLoaderSim sim(Transport::WinUsb);
        ASSERT_TRUE(Announce(sim, unit, sum));
        ReadAll(sim);
        ASSERT_TRUE(Send(sim, unit, sum));
        const Bytes replies = ReadAll(sim);
        ASSERT_EQ(replies.size(), 4 * kRecordSize);
        EXPECT_EQ(Bytes(replies.end() - kRecordSize, replies.end()), Record(kResultKind, c.verdict));
        EXPECT_EQ(sim.Store().Find(50) != nullptr, c.verdict == kWritten);
        ASSERT_EQ(sim.Verdicts().size(), 1u);
        EXPECT_EQ(sim.Verdicts()[0].result, c.verdict);
    }
}

TEST(BootLoaderSim, TakesExactlyTheAnnouncedDataWhateverThePieces) {
    Bytes data(20003);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const HostUnit unit = Unit52(data);
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{8192}}) {
        SCOPED_TRACE(piece);
        BootLoaderSim sim(Transport::Serial);
        ASSERT_TRUE(Announce(sim, unit, ByteChecksum(unit)));
        ReadAll(sim);
        ASSERT_TRUE(Send(sim, unit, ByteChecksum(unit), piece));
        ASSERT_EQ(sim.Verdicts().size(), 1u);
        EXPECT_EQ(sim.Verdicts()[0].code, 52);
        EXPECT_EQ(sim.Verdicts()[0].result, kWritten);
        ASSERT_NE(sim.Store().Find(52), nullptr);
        EXPECT_EQ(sim.Store().Find(52)->data, data);
        // What follows the data is a new block, not more data.
        ASSERT_TRUE(EndTransfer(sim));
        EXPECT_EQ(sim.EndTransfers(), 1);
        EXPECT_TRUE(sim.ProtocolErrors().empty());
    }
}

TEST(BootLoaderSim, SerialEventsMarkEachPlaceTheHostWaits) {
    const HostUnit unit = Unit50(kReference);
    BootLoaderSim sim(Transport::Serial);
    EXPECT_EQ(sim.TakeCommEvents().mask, 0u);

    ASSERT_TRUE(Announce(sim, unit, 0x27F));
    EXPECT_EQ(sim.TakeCommEvents().mask, kEventRxChar);
    EXPECT_EQ(sim.TakeCommEvents().mask, 0u);  // taken once
    ReadAll(sim);

    ASSERT_TRUE(sim.LineState(false));
    ASSERT_TRUE(WriteBytes(sim, RequestBlock(260, 0, 0x27F)));
    ASSERT_TRUE(sim.LineState(true));
    EXPECT_EQ(sim.TakeCommEvents().mask, kEventCts);  // ready for the header
    ASSERT_TRUE(sim.HostWrite(unit.header.data(), kHeaderSize));
    EXPECT_EQ(sim.TakeCommEvents().mask, kEventCts);  // ready for the data
    EXPECT_EQ(sim.PendingReplyBytes(), 0u);
    ASSERT_TRUE(WriteBytes(sim, unit.data));
    EXPECT_EQ(sim.TakeCommEvents().mask, kEventRxChar);
    EXPECT_EQ(sim.PendingReplyBytes(), 4 * kRecordSize);

    // A serial read takes whatever is waiting, across records.
    std::uint8_t buf[80];
    const ReadResult r = sim.HostRead(buf, sizeof buf);
    EXPECT_EQ(r.kind, ReadKind::Data);
    EXPECT_EQ(r.count, 80u);
}

TEST(BootLoaderSim, EventsAccumulateUntilTakenAndWinUsbHasNone) {
    const HostUnit unit = Unit50(kReference);
    BootLoaderSim serial(Transport::Serial);
    ASSERT_TRUE(Announce(serial, unit, 0x27F));
    ReadAll(serial);
    ASSERT_TRUE(Send(serial, unit, 0x27F));  // no waits in between
    EXPECT_EQ(serial.TakeCommEvents().mask, kEventCts | kEventRxChar);

    BootLoaderSim usb(Transport::WinUsb);
    ASSERT_TRUE(Announce(usb, unit, 0x27F));
    ASSERT_TRUE(Send(usb, unit, 0x27F));
    EXPECT_EQ(usb.TakeCommEvents().mask, 0u);
    // A bulk IN transfer ends with each record: a 40-byte read gets one.
    std::uint8_t buf[40];
    EXPECT_EQ(usb.HostRead(buf, sizeof buf).count, kRecordSize);
}

TEST(BootLoaderSim, ClearingTheLineAbandonsAUnitHalfWay) {
    Bytes data(100, 0x5A);
    const HostUnit unit = Unit52(data);
    BootLoaderSim sim(Transport::WinUsb);
    ASSERT_TRUE(Announce(sim, unit, ByteChecksum(unit)));
    ReadAll(sim);
    ASSERT_TRUE(sim.LineState(false));
    ASSERT_TRUE(WriteBytes(sim, RequestBlock(356, 0, ByteChecksum(unit))));
    ASSERT_TRUE(sim.LineState(true));
    ASSERT_TRUE(sim.HostWrite(unit.header.data(), kHeaderSize));
    ASSERT_TRUE(sim.HostWrite(data.data(), 40));
    // The host gives up and ends the transfer: the device must see a block, not data.
    ASSERT_TRUE(EndTransfer(sim));
    EXPECT_EQ(sim.EndTransfers(), 1);
    EXPECT_EQ(sim.Store().Size(), 0u);
    EXPECT_TRUE(sim.Verdicts().empty());
    EXPECT_TRUE(sim.ProtocolErrors().empty());
}

TEST(BootLoaderSim, ReportsInputItCannotPlace) {
    BootLoaderSim sim(Transport::Serial);
    // A block with the line set.
    ASSERT_TRUE(sim.LineState(true));
    ASSERT_TRUE(WriteBytes(sim, EndBlock()));
    EXPECT_EQ(sim.ProtocolErrors().size(), 1u);
    // An unknown block.
    ASSERT_TRUE(sim.LineState(false));
    ASSERT_TRUE(WriteBytes(sim, Bytes(kBlockSize, 0xEE)));
    EXPECT_EQ(sim.ProtocolErrors().size(), 2u);
    // An end block with rubbish after its word.
    Bytes end = EndBlock();
    end[40] = 1;
    ASSERT_TRUE(WriteBytes(sim, end));
    EXPECT_EQ(sim.ProtocolErrors().size(), 3u);
    // A send that was never announced.
    ASSERT_TRUE(WriteBytes(sim, RequestBlock(260, 0, 0x27F)));
    EXPECT_EQ(sim.ProtocolErrors().size(), 4u);
    // Half a block, then the line is cleared for the next one.
    ASSERT_TRUE(sim.LineState(false));
    ASSERT_TRUE(WriteBytes(sim, Bytes(10, 0)));
    ASSERT_TRUE(sim.LineState(false));
    EXPECT_EQ(sim.ProtocolErrors().size(), 5u);
    // A request block shorter than a section header is refused at once.
    BootLoaderSim other(Transport::WinUsb);
    ASSERT_TRUE(other.LineState(false));
    ASSERT_TRUE(WriteBytes(other, RequestBlock(200, 1, 0)));
    ReadAll(other);
    ASSERT_TRUE(WriteBytes(other, RequestBlock(200, 0, 0)));
    EXPECT_EQ(ReadAll(other), Record(kResultKind, kRejectUnit));
}

TEST(BootLoaderSim, DigestStoreKeepsLengthAndCrcOnly) {
    Bytes data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
    const HostUnit unit = Unit52(data);
    BootLoaderSim sim(Transport::WinUsb, FlashStore::Mode::DigestOnly);
    ASSERT_TRUE(Announce(sim, unit, ByteChecksum(unit)));
    ASSERT_TRUE(Send(sim, unit, ByteChecksum(unit), 999));
    const StoredUnit* stored = sim.Store().Find(52);
    ASSERT_NE(stored, nullptr);
    EXPECT_TRUE(stored->data.empty());
    EXPECT_EQ(stored->length, data.size());
    EXPECT_EQ(stored->crc32, Crc32Of(data.data(), data.size()));
}

TEST(BootLoaderSim, CaptureRecordsEveryCrossingOneLineEach) {
    const HostUnit unit = Unit50(kReference);
    BootLoaderSim sim(Transport::Serial);
    sim.SetProgressRecords(1);
    sim.Capture().Enable(true);
    sim.Capture().SetHexLimit(8);
    ASSERT_TRUE(Announce(sim, unit, 0x27F));
    sim.TakeCommEvents();
    std::uint8_t buf[20];
    sim.HostRead(buf, 20);
    sim.HostRead(buf, 20);
    const std::vector<std::string> expected = {
        "1 H>D line 0",
        "2 H>D write 72 6655000088990000...",
        "3 SIM note announce unit 1 length 260",
        "4 D>H event RXCHAR",
        "5 H>D line 1",
        "6 H>D wait RXCHAR",
        "7 D>H read 20 aa55000077000000...",
        "8 D>H empty",
    };
    EXPECT_EQ(sim.Capture().Lines(), expected);
    EXPECT_EQ(sim.Capture().Text().substr(0, 13), "1 H>D line 0\n");

    sim.Vanish();
    EXPECT_FALSE(sim.LineState(false));
    EXPECT_EQ(sim.Capture().Lines().back(), "11 H>D gone");  // 9 note, 10 line 0, 11 gone
    EXPECT_EQ(LinkCapture::EventNames(kEventCts | kEventDsr | 0x100), "CTS|DSR|0x100");
    EXPECT_EQ(LinkCapture::EventNames(0), "none");
}

}  // namespace
}  // namespace flashwise::sim
