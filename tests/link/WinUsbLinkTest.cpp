#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "link/Blocks.h"
#include "link/ConnManagerVista.h"
#include "link/LinkBounds.h"
#include "tests/link/FakeWinUsbApi.h"
#include "tests/link/LinkTestSupport.h"

namespace flashwise::test {
namespace {

const std::u16string kPathA = u"\\\\?\\usb#vid_0bb4&pid_0a51#a#{25dbce51-6c8f-4a72-8a6d-b54c2b4fc835}";
const std::u16string kPathB = u"\\\\?\\usb#vid_0bb4&pid_0a51#b#{25dbce51-6c8f-4a72-8a6d-b54c2b4fc835}";

TransferStep In(std::vector<std::uint8_t> bytes, Completion how = Completion::Pending) {
    TransferStep s;
    s.how = how;
    s.bytes = std::move(bytes);
    return s;
}

class WinUsbLink : public ::testing::Test {
protected:
    WinUsbLink() {
        script.clock = &time.now;
        script.interfaces = {{kPathA, false}};
        auto fake = std::make_unique<FakeWinUsbApi>(&script, &calls);
        api = fake.get();
        link = std::make_unique<CConnManagerVista>(std::move(fake), time.Pause(), time.Clock());
    }

    void OpenWorkedExample() {
        ImageSizes sizes;
        sizes.l50 = 4;
        WriteFile("Tarn_G4.abi", ImageFile(sizes, Bytes({1, 2, 3, 4})));
        ASSERT_TRUE(image.OpenImage(folder.Path() / "Tarn_G4.abi"));
        header = WorkedExampleSectionHeader();
        OpenLink();
    }
    void OpenLink() {
        ASSERT_TRUE(link->Open());
        calls.clear();
        time.pauses.clear();
    }

    // The traffic on the bus: line-state values, OUT transfers and IN requests.
    std::vector<std::string> Bus() const {
        std::vector<std::string> bus;
        for (const auto& c : calls) {
            if (c.op == "line") bus.push_back("line" + std::to_string(c.value));
            if (c.op == "out") bus.push_back("out" + std::to_string(c.bytes.size()));
            if (c.op == "in") bus.push_back("in" + std::to_string(c.value));
        }
        return bus;
    }
    std::vector<std::vector<std::uint8_t>> Outs() const {
        std::vector<std::vector<std::uint8_t>> w;
        for (const auto& c : calls)
            if (c.op == "out") w.push_back(c.bytes);
        return w;
    }
    std::vector<std::string> Ops(const std::set<std::string>& only) const {
        std::vector<std::string> ops;
        for (const auto& c : calls)
            if (only.count(c.op)) ops.push_back(c.op == "close" ? "close " + c.kind : c.op);
        return ops;
    }
    bool Prepare(int code = 50) { return link->PrepareSection(&image, request.data(), header.data(), code); }
    bool Send(int code = 50) { return link->SendSection(&image, request.data(), header.data(), code); }

    ScratchFolder folder{ScratchFolder::Use::AsCurrentFolder};
    FakeTime time;
    UsbScript script;
    std::vector<UsbCall> calls;
    FakeWinUsbApi* api = nullptr;
    std::unique_ptr<CConnManagerVista> link;
    CFirmwareImage image;
    std::vector<std::uint8_t> header = std::vector<std::uint8_t>(256, 0);
    std::vector<std::uint8_t> request = std::vector<std::uint8_t>(72, 0);
};

TEST_F(WinUsbLink, FindsTheFirstInterfaceWhoseDetailCanBeRead) {
    char16_t path[kDevicePathUnits] = {};
    script.interfaces = {{kPathA, false}, {kPathB, false}};
    ASSERT_TRUE(link->FindDevicePath(path));
    EXPECT_EQ(std::u16string(path), kPathA);
    EXPECT_EQ(calls[0].op, "classdevs");
    EXPECT_EQ(calls[0].value, 0x12u);
    EXPECT_EQ(std::memcmp(&api->lastGuid, &kBootLoaderInterfaceClass, sizeof(DeviceGuid)), 0);
    EXPECT_EQ(api->lastGuid.data1, 0x25DBCE51u);
    EXPECT_EQ(api->interfaceDataSize, 28u);
    EXPECT_EQ(api->detailFixedSize, 6u);
    EXPECT_EQ(api->devInfoSize, 28u);
    EXPECT_EQ(calls.back().op, "destroy");
    EXPECT_EQ(api->Held("set"), 0);

    calls.clear();
    script.interfaces[0].detailFails = true;
    ASSERT_TRUE(link->FindDevicePath(path));
    EXPECT_EQ(std::u16string(path), kPathB);

    // A path that does not fit the 260-unit buffer is skipped, not cut.
    script.interfaces = {{std::u16string(260, u'x'), false}, {std::u16string(259, u'y'), false}};
    ASSERT_TRUE(link->FindDevicePath(path));
    EXPECT_EQ(std::u16string(path), std::u16string(259, u'y'));
    script.interfaces.pop_back();
    EXPECT_FALSE(link->FindDevicePath(path));

    script.interfaces = {};
    EXPECT_FALSE(link->FindDevicePath(path));
    EXPECT_EQ(api->Held("set"), 0);
    script.classDevsFails = true;
    calls.clear();
    EXPECT_FALSE(link->FindDevicePath(path));
    EXPECT_EQ(Ops({"enum", "destroy"}), std::vector<std::string>{});
}

TEST_F(WinUsbLink, OpenHoldsOneHandleSetAndReleasesInOrder) {
    ASSERT_TRUE(link->Open());
    EXPECT_EQ(api->openedPath, kPathA);
    EXPECT_EQ(Ops({"bind", "createfile", "init", "settings", "pipe", "event"}),
              (std::vector<std::string>{"bind", "createfile", "init", "settings", "pipe", "pipe", "event", "event"}));
    EXPECT_EQ(link->BulkInPipe(), 0x81);
    EXPECT_EQ(link->BulkOutPipe(), 0x02);
    ASSERT_TRUE(link->Open());
    EXPECT_EQ(api->Held("device"), 1);
    EXPECT_EQ(api->Held("interface"), 1);
    EXPECT_EQ(api->Held("event"), 2);

    calls.clear();
    link.reset();
    EXPECT_EQ(Ops({"free", "close"}),
              (std::vector<std::string>{"free", "close device", "close event", "close event"}));
}

TEST_F(WinUsbLink, FailedOpenHoldsNothingAndALaterOneSucceeds) {
    script.interfaces = {};
    EXPECT_FALSE(link->Open());
    EXPECT_FALSE(link->IsOpen());
    script.interfaces = {{kPathA, false}};

    auto expectNothingHeld = [&](const char* what) {
        EXPECT_FALSE(link->Open()) << what;
        EXPECT_EQ(api->Held("device") + api->Held("interface") + api->Held("event") + api->Held("set"), 0) << what;
    };
    script.createFileFails = true;
    expectNothingHeld("create file");
    script.createFileFails = false;
    script.initFails = true;
    expectNothingHeld("initialize");
    script.initFails = false;
    script.settingsFails = true;
    expectNothingHeld("interface settings");
    script.settingsFails = false;
    script.pipeQueryFailsAt = 1;
    expectNothingHeld("pipe query");
    script.pipeQueryFailsAt = -1;
    script.eventFailsAt = 1;   // the read event, created second
    expectNothingHeld("event");

    script.bindFails = true;
    calls.clear();
    expectNothingHeld("bind");
    EXPECT_EQ(Ops({"classdevs", "createfile"}), std::vector<std::string>{});
    script.bindFails = false;

    ASSERT_TRUE(link->Open());
    EXPECT_EQ(api->Held("event"), 2);
}

TEST_F(WinUsbLink, PipeSelection) {
    script.pipes = {{kUsbPipeTypeBulk, 0x81, 64}, {3, 0x83, 8}, {kUsbPipeTypeBulk, 0x82, 512},
                    {kUsbPipeTypeBulk, 0x01, 512}};
    ASSERT_TRUE(link->Open());
    EXPECT_EQ(link->BulkInPipe(), 0x82);   // the later bulk IN wins; the interrupt pipe is no candidate
    EXPECT_EQ(link->BulkOutPipe(), 0x01);

    script.pipes = {{kUsbPipeTypeBulk, 0x01, 512}};
    ASSERT_TRUE(link->Open());
    EXPECT_EQ(link->BulkInPipe(), 0);
    std::uint8_t buffer[20];
    EXPECT_FALSE(link->Read(20, buffer));
}

TEST_F(WinUsbLink, WorkedExampleOnTheBus) {
    OpenWorkedExample();
    script.reads = {In(Record(kResultKind, 0x77, 1))};
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(Bus(), (std::vector<std::string>{"line0", "out72", "line1", "line1", "in20"}));
    EXPECT_EQ(time.pauses, std::vector<std::uint32_t>{1000});
    EXPECT_EQ(api->lastSetup.requestType, 0x40);
    EXPECT_EQ(api->lastSetup.request, 0x22);
    EXPECT_EQ(api->lastSetup.value, 1);
    EXPECT_EQ(api->lastSetup.index, 0);
    EXPECT_EQ(api->lastSetup.length, 0);
    EXPECT_EQ(api->writePipe, 0x02);

    std::vector<std::uint8_t> block(72, 0);
    StoreLe32(&block[0x00], 0x5566);
    StoreLe32(&block[0x04], 0x9988);
    StoreLe32(&block[0x08], 0x9AA80000);
    StoreLe32(&block[0x0C], 260);
    std::memcpy(&block[0x10], "Tarn_G4.abi", 11);
    block[0x2E] = 1;
    block[0x30] = 4;
    StoreLe32(&block[0x44], 639);
    EXPECT_EQ(Outs(), std::vector<std::vector<std::uint8_t>>{block});

    calls.clear();
    time.pauses.clear();
    script.reads = {In(Record(kProgressKind, 10)), In(Record(kProgressKind, 55)), In(Record(kProgressKind, 90)),
                    In(Record(kResultKind, 0))};
    ASSERT_TRUE(Send());
    EXPECT_EQ(Bus(), (std::vector<std::string>{"line0", "out72", "line1", "out256", "out4", "line1", "in20", "in20",
                                               "in20", "in20"}));
    block[0x2E] = 0;
    EXPECT_EQ(Outs(), (std::vector<std::vector<std::uint8_t>>{block, header, Bytes({1, 2, 3, 4})}));
    EXPECT_TRUE(time.pauses.empty());
    EXPECT_EQ(link->DeviceProgress(), 100u);
}

TEST_F(WinUsbLink, EmptyUnitsAndAClosedLinkSendNothing) {
    OpenWorkedExample();
    EXPECT_TRUE(Prepare(53));
    EXPECT_TRUE(Send(53));
    WriteFile("ExtRom.tmp", {});
    EXPECT_TRUE(Prepare(55));
    EXPECT_TRUE(Send(55));
    std::remove("ExtRom.tmp");
    EXPECT_FALSE(Prepare(55));
    EXPECT_FALSE(Send(55));
    EXPECT_TRUE(Bus().empty());

    CConnManagerVista closed(std::make_unique<FakeWinUsbApi>(&script, &calls), time.Pause(), time.Clock());
    EXPECT_FALSE(closed.PrepareSection(&image, request.data(), header.data(), 50));
    EXPECT_FALSE(closed.SendSection(&image, request.data(), header.data(), 50));
    EXPECT_FALSE(closed.EndTransfer());
    EXPECT_TRUE(Bus().empty());
}

TEST_F(WinUsbLink, EndTransferRunsEveryStepWhateverFails) {
    OpenLink();
    EXPECT_TRUE(link->EndTransfer());
    EXPECT_EQ(Bus(), (std::vector<std::string>{"line0", "line0", "out72", "line1", "line1"}));
    std::vector<std::uint8_t> end(72, 0);
    end[0] = 0x34;
    end[1] = 0x12;
    EXPECT_EQ(Outs(), std::vector<std::vector<std::uint8_t>>{end});
    EXPECT_EQ(time.pauses, std::vector<std::uint32_t>{2000});

    calls.clear();
    time.pauses.clear();
    script.control = {false, false};
    script.writes = {{Completion::Error, {}, ~0u}};
    // The line changes do not decide; the block that did not go does.
    EXPECT_FALSE(link->EndTransfer());
    EXPECT_EQ(Bus(), (std::vector<std::string>{"line0", "line0", "out0", "line1", "line1"}));
    EXPECT_EQ(time.pauses, std::vector<std::uint32_t>{2000});
}

TEST_F(WinUsbLink, ReadinessAndItsSilentCase) {
    OpenWorkedExample();
    script.reads = {In(Record(kResultKind, 0x77, 0))};
    EXPECT_FALSE(Prepare());
    script.reads = {In(std::vector<std::uint8_t>(20, 0x11))};
    EXPECT_FALSE(Prepare());   // no start mark
    script.reads = {In(Bytes({0, 0, 0, 0xAA, 0x55, 0, 0, 0x77, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0})),
                    In(Bytes({0, 0, 0}))};
    calls.clear();
    EXPECT_TRUE(Prepare());
    EXPECT_EQ(Bus().back(), "in3");
    script.reads = {In({}, Completion::Error)};
    EXPECT_TRUE(Prepare());   // a failing status read is taken as readiness
    script.reads = {In(Bytes({0, 0, 0, 0xAA, 0x55, 0, 0, 0x77, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0})),
                    In({}, Completion::Error)};
    EXPECT_FALSE(Prepare());   // but a failing completion read is not
    script.control = {true, false};
    calls.clear();
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(Bus(), (std::vector<std::string>{"line0", "out72", "line1"}));
}

TEST_F(WinUsbLink, ResultsOfSendSection) {
    OpenWorkedExample();
    script.reads = {In(Record(kProgressKind, 250)), In(Record(kResultKind, 0))};
    ASSERT_TRUE(Send());
    EXPECT_EQ(link->DeviceProgress(), 300u);
    for (std::uint32_t code : {0x22u, 0x88u, 0x99u}) {
        script.reads = {In(Record(kResultKind, code)), In(Record(kResultKind, 0))};
        EXPECT_FALSE(Send()) << code;
        EXPECT_EQ(script.reads.size(), 1u) << code;
    }
    script.reads = {In(Record(kResultKind, 5)), In(std::vector<std::uint8_t>(20, 0x11)), In(Record(kResultKind, 0))};
    EXPECT_TRUE(Send());
    EXPECT_TRUE(script.reads.empty());
    script.reads = {In(Record(kProgressKind, 7)), In({}, Completion::Error)};
    EXPECT_FALSE(Send());
    EXPECT_EQ(link->DeviceProgress(), 7u);

    // The line state after the data is not examined.
    script.control = {true, true, false};
    script.reads = {In(Record(kResultKind, 0))};
    EXPECT_TRUE(Send());
}

TEST_F(WinUsbLink, ReadCollectsCompletionsAndCountsZeroLengthPackets) {
    OpenLink();
    std::vector<std::uint8_t> buffer(20, 0xEE);
    std::vector<std::uint8_t> bytes(20);
    for (int i = 0; i < 20; ++i) bytes[i] = static_cast<std::uint8_t>(i + 1);
    script.reads = {In(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 8)),
                    In(std::vector<std::uint8_t>(bytes.begin() + 8, bytes.end()), Completion::Immediate)};
    ASSERT_TRUE(link->Read(20, buffer.data()));
    EXPECT_EQ(buffer, bytes);
    EXPECT_EQ(Bus(), (std::vector<std::string>{"in20", "in12"}));

    calls.clear();
    for (int i = 0; i < 150; ++i) script.reads.push_back(In({}));
    EXPECT_FALSE(link->Read(20, buffer.data()));
    EXPECT_EQ(Bus().size(), 101u);
    EXPECT_EQ(time.PausedFor(500), 101u);

    // The count is not reset by completions that carry data.
    script.reads.clear();
    time.pauses.clear();
    for (int i = 0; i < 60; ++i) script.reads.push_back(In({}));
    script.reads.push_back(In(Bytes({1})));
    for (int i = 0; i < 60; ++i) script.reads.push_back(In({}));
    EXPECT_FALSE(link->Read(20, buffer.data()));
    EXPECT_EQ(time.PausedFor(500), 101u);
    EXPECT_EQ(buffer[0], 1);   // what arrived stays

    calls.clear();
    EXPECT_TRUE(link->Read(0, buffer.data()));
    EXPECT_FALSE(link->Read(-1, buffer.data()));
    EXPECT_FALSE(link->Read(4, nullptr));
    EXPECT_TRUE(Bus().empty());
}

TEST_F(WinUsbLink, BulkWriteSendsWholeBuffersInPieces) {
    OpenLink();
    EXPECT_TRUE(link->BulkWrite(request.data(), 0));
    EXPECT_TRUE(calls.empty());

    std::vector<std::uint8_t> big(100, 0x42);
    script.writes = {{Completion::Pending, {}, 30}, {Completion::Immediate, {}, ~0u}};
    std::uint32_t written = 0;
    ASSERT_TRUE(link->BulkWrite(big.data(), 100, &written));
    EXPECT_EQ(written, 100u);
    EXPECT_EQ(Bus(), (std::vector<std::string>{"out30", "out70"}));

    ImageSizes sizes;
    sizes.l52 = 20000;
    std::vector<std::uint8_t> data(20000);
    for (int i = 0; i < 20000; ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    WriteFile("image.abi", ImageFile(sizes, data));
    ASSERT_TRUE(image.OpenImage(folder.Path() / "image.abi"));
    calls.clear();
    script.reads = {In(Record(kResultKind, 0))};
    ASSERT_TRUE(Send(52));
    const auto outs = Outs();
    ASSERT_EQ(outs.size(), 5u);
    EXPECT_EQ(outs[2].size(), 8192u);
    EXPECT_EQ(outs[3].size(), 8192u);
    EXPECT_EQ(outs[4].size(), 3616u);
    std::vector<std::uint8_t> sent;
    for (int i = 2; i < 5; ++i) sent.insert(sent.end(), outs[i].begin(), outs[i].end());
    EXPECT_EQ(sent, data);

    // A failing piece fails the unit and nothing more is sent.
    calls.clear();
    script.writes = {{}, {}, {}, {Completion::Error, {}, ~0u}};
    EXPECT_FALSE(Send(52));
    EXPECT_EQ(Bus(), (std::vector<std::string>{"line0", "out72", "line1", "out256", "out8192", "out0"}));
}

TEST_F(WinUsbLink, StuckTransfersAreCancelledWithinTheirBound) {
    OpenWorkedExample();
    script.writes = {{Completion::Stuck, {}, ~0u}};
    EXPECT_FALSE(link->BulkWrite(request.data(), 72));
    EXPECT_EQ(Ops({"wait", "cancel", "result"}), (std::vector<std::string>{"wait", "cancel"}));
    EXPECT_EQ(calls[1].value, kBulkWriteWaitMs);

    calls.clear();
    std::uint8_t buffer[20];
    EXPECT_FALSE(link->Read(20, buffer));   // no read step: the device never answers
    EXPECT_EQ(Ops({"wait", "cancel"}), (std::vector<std::string>{"wait", "cancel"}));
    EXPECT_EQ(calls[1].value, kBulkReadWaitMs);
    EXPECT_EQ(calls[2].value, kBulkCancelWaitMs);
    EXPECT_TRUE(link->IsOpen());   // the cancellation ended: the device is still usable
}

TEST_F(WinUsbLink, ATransferWhoseCancellationNeverEndsGivesTheDeviceUp) {
    BulkTransferBounds bounds;
    bounds.writeWaitMs = 100;
    bounds.readWaitMs = 200;
    bounds.cancelWaitMs = 300;
    auto fake = std::make_unique<FakeWinUsbApi>(&script, &calls);
    api = fake.get();
    link = std::make_unique<CConnManagerVista>(std::move(fake), time.Pause(), time.Clock(), bounds);
    OpenWorkedExample();
    script.cancelHolds = true;

    struct Row {
        const char* what;
        std::function<bool()> run;
        std::uint32_t bound;
    } rows[] = {
        {"a bulk write", [&] { script.writes = {{Completion::Stuck, {}, ~0u}}; return link->BulkWrite(request.data(), 72); },
         bounds.writeWaitMs},
        {"a bulk read", [&] { std::uint8_t b[20]; return link->Read(20, b); }, bounds.readWaitMs},
        {"the status read of SendSection", [&] { return Send(); }, bounds.readWaitMs},
    };
    int leftOpen = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(link->Open());
        calls.clear();
        const std::uint64_t started = time.now;
        EXPECT_FALSE(row.run());
        // The transfer waited its bound, then its cancellation waited its own, and that was the last wait.
        const auto waits = Ops({"wait", "cancel", "result"});
        ASSERT_GE(waits.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(waits.end() - 2, waits.end()), (std::vector<std::string>{"wait", "cancel"}));
        EXPECT_EQ(std::count(waits.begin(), waits.end(), "cancel"), 1);
        EXPECT_EQ(time.now - started, row.bound + bounds.cancelWaitMs);
        for (auto c = calls.rbegin(); c != calls.rend(); ++c) {
            if (c->op == "cancel") {
                EXPECT_EQ(c->value, bounds.cancelWaitMs);
            }
            if (c->op != "wait") continue;
            EXPECT_EQ(c->value, row.bound);
            break;
        }
        // The device is given up; the block's event stays open for the system to signal.
        ++leftOpen;
        EXPECT_FALSE(link->IsOpen());
        EXPECT_EQ(api->Held("device") + api->Held("interface"), 0);
        EXPECT_EQ(api->Held("event"), leftOpen);
        EXPECT_EQ(Ops({"free", "close"}), (std::vector<std::string>{"free", "close device", "close event"}));

        // Nothing more reaches the device, and nothing waits on it.
        calls.clear();
        EXPECT_FALSE(Prepare());
        EXPECT_FALSE(Send());
        std::uint8_t b[20];
        EXPECT_FALSE(link->Read(20, b));
        EXPECT_FALSE(link->BulkWrite(request.data(), 72));
        link->EndTransfer();
        EXPECT_TRUE(calls.empty());
    }
    // A later Open starts afresh.
    script.cancelHolds = false;
    ASSERT_TRUE(link->Open());
    EXPECT_EQ(api->Held("event"), leftOpen + 2);
    script.reads = {In(Record(kResultKind, 0))};
    EXPECT_TRUE(Send());
}

}  // namespace
}  // namespace flashwise::test
