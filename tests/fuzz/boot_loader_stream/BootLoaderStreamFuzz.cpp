// What the boot loader sends back, judged by either link: the readiness reply of
// PrepareSection and the status loop of SendSection (start-mark search, completion of
// shifted records, progress records, result codes), through the scripted ports.
//
// Input: one byte of choices (bit 0: WinUSB instead of serial; bit 1: skip the
// announcement; bit 2: transfers complete at once instead of pending), then runs of a
// length byte and that many bytes as the port delivers them; a run of length 0 is an
// empty read (serial) or a zero-length packet (WinUSB).

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "image/FirmwareImage.h"
#include "image/SectionHeaderBuilder.h"
#include "link/Blocks.h"
#include "link/ConnManager.h"
#include "link/ConnManagerVista.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/link/FakeSerialPort.h"
#include "tests/link/FakeWinUsbApi.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"

namespace {

using namespace flashwise;

// The worked example: one unit of four bytes. (Unit 55, the only one read from the
// current folder, is not used, so the current folder stays as it is: libFuzzer reads
// its corpus by relative names while it runs.)
CFirmwareImage& Image() {
    static const test::ScratchFolder folder;
    static CFirmwareImage image;
    if (!image.IsOpen()) {
        test::MakeWorkedExample(folder / "Tarn_G4.abi");
        FUZZ_CHECK(image.OpenImage(folder / "Tarn_G4.abi"));
    }
    return image;
}

struct Runs {
    std::vector<std::vector<std::uint8_t>> runs;
    std::vector<std::uint8_t> stream;   // every byte the device sends, in order
};

Runs SplitRuns(fuzz::InputReader& in) {
    Runs r;
    while (in.Left() > 0) {
        const std::size_t n = std::min<std::size_t>(in.Byte(), in.Left());
        r.runs.emplace_back(in.Rest(), in.Rest() + n);
        r.stream.insert(r.stream.end(), in.Rest(), in.Rest() + n);
        in.Skip(n);
    }
    return r;
}

bool Contains(const std::vector<std::uint8_t>& stream, const std::vector<std::uint8_t>& pattern) {
    return std::search(stream.begin(), stream.end(), pattern.begin(), pattern.end()) != stream.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    const std::uint8_t choices = in.Byte();
    const bool winUsb = (choices & 1) != 0;
    const bool announce = (choices & 2) == 0;
    const bool immediate = (choices & 4) != 0;
    const Runs runs = SplitRuns(in);
    CFirmwareImage& image = Image();

    std::uint64_t now = 0;
    const PauseFn pause = [&now](std::uint32_t ms) { now += ms; };
    const ClockFn clock = [&now] { return now; };

    test::SerialScript serial;
    std::vector<test::SerialCall> serialCalls;
    test::UsbScript usb;
    std::vector<test::UsbCall> usbCalls;
    std::unique_ptr<CConnManager> link;
    if (winUsb) {
        usb.interfaces = {{u"\\\\?\\usb#boot-loader"}};
        usb.clock = &now;
        for (const auto& run : runs.runs) {
            test::TransferStep step;
            step.how = immediate ? test::Completion::Immediate : test::Completion::Pending;
            step.bytes = run;
            usb.reads.push_back(step);
        }
        link = std::make_unique<CConnManagerVista>(std::make_unique<test::FakeWinUsbApi>(&usb, &usbCalls), pause, clock);
    } else {
        serial.present = {L"\\\\.\\wceusbsh001"};
        serial.clock = &now;
        serial.msPerDataRead = 10;
        for (const auto& run : runs.runs) serial.reads.push_back(run);
        link = std::make_unique<CConnManager>(std::make_unique<test::FakeSerialPort>(&serial, &serialCalls), pause, clock);
    }
    FUZZ_CHECK(link->Open());

    std::uint8_t header[kSectionHeaderSize] = {};
    SectionHeaderBuilder builder(image);
    FUZZ_CHECK(builder.BuildSectionHeader(header, 50) == SectionHeaderBuilder::kBuilt);
    std::uint8_t request[kRequestBlockSize] = {};
    if (announce) link->PrepareSection(&image, request, header, 50);
    const bool written = link->SendSection(&image, request, header, 50);
    link->EndTransfer();

    // A unit is written only on the device's word: a result record with value 0.
    if (written) {
        FUZZ_CHECK(Contains(runs.stream, {0xAA, 0x55, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
        // ... and the device progress is raised to a multiple of 100, or stays above
        // the last one 32 bits hold.
        FUZZ_CHECK(link->DeviceProgress() % 100 == 0 || link->DeviceProgress() > 4294967200u);
    }
    // The scripted WinUSB layer reports misuse of its handles as test failures.
    FUZZ_CHECK(!::testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed());
    return 0;
}
