// The program's own link adapters against the simulated boot loader under Wine, through
// the stand-ins that take the boot loader's place (tools/wine/bootloader-routes.py puts
// them into the prefix; run_bootloader_route.py starts the bridge and this program).
//
//   bootloader_routes_wine.exe winusb RESULTS   the WinUSB interface by its class, both pipes
//                                               and the line request, then a whole download
//   bootloader_routes_wine.exe serial RESULTS   \\.\wceusbsh001 with the link's settings,
//                                               then a whole download
//   bootloader_routes_wine.exe winusb-rejected|serial-rejected RESULTS
//                                               a download the device refuses at its second
//                                               unit (the bridge runs with that fault)
//   bootloader_routes_wine.exe winusb-silent RESULTS
//                                               a download whose second unit the device
//                                               takes in but never answers (the bridge runs
//                                               with that fault): the link gives the device up
//                                               within its read and cancellation bounds
//   bootloader_routes_wine.exe serial-silent RESULTS
//                                               a download whose second unit the device
//                                               takes in but never signals (the bridge runs
//                                               with that fault): it fails within the
//                                               event-wait bound, given small here
//
// RESULTS is the bridge's results folder: after the download every unit of the image must
// be there byte for byte, and the device must have seen no protocol error.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "image/DownloadDriver.h"
#include "image/DownloadState.h"
#include "image/FirmwareImage.h"
#include "link/ConnManager.h"
#include "link/ConnManagerVista.h"
#include "link/win/WinSerialPort.h"
#include "link/win/WinUsbSystemApi.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/ScenarioChecks.h"

using namespace flashwise;

namespace {

using flashwise::test::Check;
using flashwise::test::CheckVerdict;
using flashwise::test::ReadWholeFile;

void PutWord(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Word(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// An announcement of a 4-byte unit: the device answers any well-formed one with readiness.
std::vector<std::uint8_t> Announcement() {
    std::vector<std::uint8_t> block(72, 0);
    PutWord(block.data(), 0x5566);
    PutWord(block.data() + 4, 0x9988);
    PutWord(block.data() + 8, 0x9AA80000u);
    PutWord(block.data() + 12, 260);
    std::memcpy(block.data() + 16, "Probe.abi", 9);
    block[0x2E] = 1;
    return block;
}

std::vector<std::uint8_t> EndBlock() {
    std::vector<std::uint8_t> block(72, 0);
    PutWord(block.data(), 0x1234);
    return block;
}

bool IsReadiness(const std::uint8_t* record) {
    return Word(record) == 0x55AA && Word(record + 4) == 0x77 && Word(record + 8) == 1;
}

// The shape of a multi-unit image: five units, pieces of 8192 with short tails, a unit of
// three bytes (not a whole word).
test::ImageSizes TestImageSizes() {
    test::ImageSizes s;
    s.l50 = 1001;
    s.l51a = 70000;
    s.l51b = 77;
    s.l52 = 8193;
    s.l53 = 3;
    s.l54a = 12345;
    s.l54b = 6789;
    return s;
}

// The test image written into a scratch folder and opened, and one pass of it through a
// link as the download thread runs it, timed.
struct TestDownload {
    test::ScratchFolder folder;
    std::filesystem::path path = folder.Path() / "Tarn_G4.abi";
    test::ImageSizes sizes = TestImageSizes();
    CFirmwareImage image{WorkFolder(folder.Path())};
    DownloadState state;
    DWORD took = 0;

    bool OpenImage() {
        test::WriteImage(path, sizes);
        return image.OpenImage(path);
    }
    bool Run(CConnManager& link) {
        state.BeginPass(std::filesystem::file_size(path));
        const DWORD started = GetTickCount();
        const bool ok = RunDownload(state, link, image, [](std::uint32_t) {});
        took = GetTickCount() - started;
        return ok;
    }
};

// The whole image through the link, as the download thread runs it, then the device's
// flash compared with the image.
void Download(CConnManager& link, const std::filesystem::path& results, const char* what) {
    TestDownload run;
    if (!run.OpenImage()) {
        Check(false, "the test image opens");
        return;
    }
    const bool ok = run.Run(link);
    const auto& path = run.path;
    const auto& sizes = run.sizes;
    const auto& state = run.state;
    const DWORD took = run.took;
    Check(ok, std::string(what) + ": RunDownload reports every unit written");
    Check(state.IsFinished(), std::string(what) + ": the download is marked finished");
    const auto units = test::ExpectedUnits(sizes);
    std::uint64_t bytes = 0;
    for (const auto& [code, span] : units) {
        const std::string stored = ReadWholeFile(results / ("unit-" + std::to_string(code) + ".bin"));
        const auto expected = test::ReadSpan(path, span);
        Check(stored.size() == expected.size() && std::memcmp(stored.data(), expected.data(), expected.size()) == 0,
              std::string(what) + ": unit " + std::to_string(code) + " (" + std::to_string(span.length) +
                  " bytes) is in the flash byte for byte");
        bytes += span.length;
    }
    const std::string verdicts = ReadWholeFile(results / "verdicts.txt");
    std::size_t lines = 0;
    for (char c : verdicts) lines += c == '\n';
    Check(lines == units.size(), std::string(what) + ": the device judged each unit once");
    Check(verdicts.find(" 0 ") != std::string::npos && verdicts.find(" 136 ") == std::string::npos &&
              verdicts.find(" 153 ") == std::string::npos && verdicts.find(" 34 ") == std::string::npos,
          std::string(what) + ": no unit was rejected");
    std::printf("%s: %llu bytes in %u units in %lu ms\n", what, static_cast<unsigned long long>(bytes),
                static_cast<unsigned>(units.size()), static_cast<unsigned long>(took));
}

// The interface found by its class and moved through by hand: both pipes and the line
// request. Returns the interface's path.
std::u16string WinUsbByHand(WinUsbApi& api) {
    Check(api.Bind(), "SetupAPI and winusb.dll bind from the system folder");
    const OsHandle set = api.GetClassDevs(kBootLoaderInterfaceClass, kDigcfPresent | kDigcfDeviceInterface);
    Check(set != InvalidOsHandle(), "the boot-loader class has a device set");
    if (set == InvalidOsHandle()) return {};
    DeviceInterfaceData iface;
    iface.size = 28;
    const bool listed = api.EnumDeviceInterfaces(set, kBootLoaderInterfaceClass, 0, &iface);
    Check(listed, "one interface of the class is present");
    std::u16string path;
    if (listed) {
        std::uint32_t required = 0;
        api.GetDeviceInterfaceDetail(set, &iface, nullptr, 0, &required, nullptr);
        std::vector<std::uint8_t> detail(required + 2, 0);
        detail[0] = 6;
        DevInfoData info;
        info.size = 28;
        if (required > 6 && api.GetDeviceInterfaceDetail(set, &iface, detail.data(), required, nullptr, &info)) {
            for (std::size_t at = 4; at + 1 < detail.size(); at += 2) {
                const char16_t c = static_cast<char16_t>(detail[at] | detail[at + 1] << 8);
                if (c == 0) break;
                path.push_back(c);
            }
        }
    }
    api.DestroyDeviceInfoList(set);
    std::string narrow(path.begin(), path.end());
    for (auto& c : narrow) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Check(narrow.find("simphone") != std::string::npos, "its path names the simulated device: " + narrow);

    const OsHandle device = api.CreateDeviceFile(path);
    Check(device != InvalidOsHandle(), "the path opens");
    if (device == InvalidOsHandle()) return {};
    OsHandle handle = nullptr;
    const bool initialised = api.Initialize(device, &handle);
    Check(initialised, "WinUsb_Initialize reaches the bridge");
    if (!initialised) {
        api.CloseHandle(device);
        return {};
    }
    UsbInterfaceInfo info;
    Check(api.QueryInterfaceSettings(handle, 0, &info) && info.numEndpoints == 2, "two endpoints");
    UsbPipeInfo out, in;
    Check(api.QueryPipe(handle, 0, 0, &out) && out.pipeType == kUsbPipeTypeBulk && out.pipeId == 0x01,
          "bulk OUT pipe 0x01");
    Check(api.QueryPipe(handle, 0, 1, &in) && in.pipeType == kUsbPipeTypeBulk && in.pipeId == 0x81,
          "bulk IN pipe 0x81");
    const OsHandle writeEvent = api.CreateManualResetEvent();
    const OsHandle readEvent = api.CreateManualResetEvent();
    auto write = [&](const std::vector<std::uint8_t>& bytes) {
        std::uint32_t n = 0;
        if (!api.WritePipe(handle, 0x01, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &n,
                           Overlapped::Write, writeEvent)) {
            if (api.LastError() != kErrorIoPending) return false;
            if (api.WaitForEvent(writeEvent, 10000) != WaitOutcome::Signalled) return false;
            if (!api.GetOverlappedResult(device, Overlapped::Write, &n)) return false;
        }
        return n == bytes.size();
    };
    UsbSetupPacket line;
    line.requestType = 0x40;
    line.request = 0x22;
    line.value = 0;
    Check(api.ControlTransfer(handle, line), "line request, value 0");
    Check(write(Announcement()), "72 bytes out, completed through the OVERLAPPED");
    line.value = 1;
    Check(api.ControlTransfer(handle, line), "line request, value 1");
    UsbSetupPacket other = line;
    other.request = 0x21;
    Check(!api.ControlTransfer(handle, other), "another control request stalls");

    std::uint8_t record[20] = {};
    std::uint32_t n = 0;
    bool read = api.ReadPipe(handle, 0x81, record, 20, &n, Overlapped::Read, readEvent);
    if (!read && api.LastError() == kErrorIoPending && api.WaitForEvent(readEvent, 10000) == WaitOutcome::Signalled) {
        read = api.GetOverlappedResult(device, Overlapped::Read, &n);
    }
    Check(read && n == 20 && IsReadiness(record), "20 bytes in: the readiness record");

    line.value = 0;
    api.ControlTransfer(handle, line);
    Check(write(EndBlock()), "the end-of-transfer block out");
    line.value = 1;
    api.ControlTransfer(handle, line);
    Check(api.Free(handle), "WinUsb_Free");
    api.CloseHandle(readEvent);
    api.CloseHandle(writeEvent);
    api.CloseHandle(device);
    return path;
}

// A bulk IN read with nothing waiting stays pending and completes when the device
// answers (here to a block sent over a second interface handle), and a pending read
// ends when its pipe is aborted.
void WinUsbPendingRead(const std::u16string& path) {
    WinUsbSystemApi a, b;  // one OVERLAPPED pair each
    const OsHandle device = a.CreateDeviceFile(path);
    OsHandle first = nullptr, second = nullptr;
    if (device == InvalidOsHandle() || !a.Initialize(device, &first) || !b.Initialize(device, &second)) {
        Check(false, "two interface handles on the device");
        return;
    }
    const OsHandle readA = a.CreateManualResetEvent();
    const OsHandle readB = b.CreateManualResetEvent();
    const OsHandle write = b.CreateManualResetEvent();
    std::uint8_t record[20] = {};
    std::uint32_t n = 0;
    const bool pending = !a.ReadPipe(first, 0x81, record, 20, &n, Overlapped::Read, readA) &&
                         a.LastError() == kErrorIoPending;
    Check(pending, "a read with nothing waiting answers pending");
    Check(a.WaitForEvent(readA, 50) == WaitOutcome::TimedOut, "and its event stays clear while nothing comes");

    UsbSetupPacket line;
    line.requestType = 0x40;
    line.request = 0x22;
    line.value = 0;
    b.ControlTransfer(second, line);
    const auto block = Announcement();
    std::uint32_t written = 0;
    bool wrote = b.WritePipe(second, 0x01, block.data(), 72, &written, Overlapped::Write, write);
    if (!wrote && b.LastError() == kErrorIoPending && b.WaitForEvent(write, 10000) == WaitOutcome::Signalled) {
        wrote = b.GetOverlappedResult(device, Overlapped::Write, &written);
    }
    line.value = 1;
    b.ControlTransfer(second, line);
    Check(wrote && written == 72, "an announcement through the second handle");
    const bool done = a.WaitForEvent(readA, 10000) == WaitOutcome::Signalled &&
                      a.GetOverlappedResult(device, Overlapped::Read, &n);
    Check(done && n == 20 && IsReadiness(record), "the pending read completes with the readiness record");

    using AbortFn = BOOL(WINAPI*)(void*, UCHAR);
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    const HMODULE winusb = GetModuleHandleW((std::wstring(folder, length) + L"\\winusb.dll").c_str());
    const auto abort = winusb ? reinterpret_cast<AbortFn>(reinterpret_cast<void*>(GetProcAddress(winusb, "WinUsb_AbortPipe")))
                              : nullptr;
    Check(abort != nullptr, "WinUsb_AbortPipe is there");
    if (abort != nullptr) {
        Check(!b.ReadPipe(second, 0x81, record, 20, &n, Overlapped::Read, readB) && b.LastError() == kErrorIoPending,
              "a second read with nothing waiting answers pending");
        Check(abort(second, 0x81) != FALSE, "WinUsb_AbortPipe on the IN pipe");
        Check(b.WaitForEvent(readB, 10000) == WaitOutcome::Signalled &&
                  !b.GetOverlappedResult(device, Overlapped::Read, &n) && n == 0,
              "the aborted read completes as a failure");
    }
    line.value = 0;
    b.ControlTransfer(second, line);
    const auto end = EndBlock();
    b.WritePipe(second, 0x01, end.data(), 72, &written, Overlapped::Write, write);
    b.WaitForEvent(write, 10000);
    line.value = 1;
    b.ControlTransfer(second, line);
    Check(a.Free(first) && b.Free(second), "both interface handles freed");
    a.CloseHandle(readA);
    b.CloseHandle(readB);
    b.CloseHandle(write);
    a.CloseHandle(device);
}

// Sends one announcement through `api` on `handle` and ends the transfer again, so the
// device queues one readiness record.
void AnnounceThroughSecondHandle(WinUsbApi& api, OsHandle handle, OsHandle device, OsHandle event) {
    auto write = [&](const std::vector<std::uint8_t>& block) {
        std::uint32_t n = 0;
        bool wrote = api.WritePipe(handle, 0x01, block.data(), 72, &n, Overlapped::Write, event);
        if (!wrote && api.LastError() == kErrorIoPending && api.WaitForEvent(event, 10000) == WaitOutcome::Signalled) {
            wrote = api.GetOverlappedResult(device, Overlapped::Write, &n);
        }
        return wrote && n == 72;
    };
    UsbSetupPacket line;
    line.requestType = 0x40;
    line.request = 0x22;
    line.value = 0;
    api.ControlTransfer(handle, line);
    const bool announced = write(Announcement());
    line.value = 1;
    api.ControlTransfer(handle, line);
    Check(announced, "an announcement through the second handle");
}

// A read whose cancellation never ends (the stand-in's pending reads do not heed CancelIo,
// as a wedged driver's would not): the adapter gives it up at the bound and leaves its
// block and bytes to the system, so the late completion lands there and never in the
// caller's buffer; the next read gets a block of its own.
void WinUsbAbandonedRead(const std::u16string& path) {
    WinUsbSystemApi a, b;
    const OsHandle device = a.CreateDeviceFile(path);
    OsHandle first = nullptr, second = nullptr;
    if (device == InvalidOsHandle() || !a.Initialize(device, &first) || !b.Initialize(device, &second)) {
        Check(false, "abandoned read: two interface handles on the device");
        return;
    }
    const OsHandle readA = a.CreateManualResetEvent();
    const OsHandle write = b.CreateManualResetEvent();
    std::vector<std::uint8_t> mine(20, 0xEE);
    std::uint32_t n = 0;
    Check(!a.ReadPipe(first, 0x81, mine.data(), 20, &n, Overlapped::Read, readA) && a.LastError() == kErrorIoPending &&
              a.WaitForEvent(readA, 50) == WaitOutcome::TimedOut,
          "abandoned read: a read with nothing waiting stays pending");
    const DWORD started = GetTickCount();
    const bool cancelled = a.CancelTransfer(device, Overlapped::Read, 300);
    const DWORD waited = GetTickCount() - started;
    Check(!cancelled && waited >= 250 && waited < 3000,
          "abandoned read: a cancellation that does not end is given up at its bound (" + std::to_string(waited) +
              " ms)");

    AnnounceThroughSecondHandle(b, second, device, write);
    Check(a.WaitForEvent(readA, 10000) == WaitOutcome::Signalled,
          "abandoned read: the read still completes later, into the block left to the system");
    Check(mine == std::vector<std::uint8_t>(20, 0xEE), "abandoned read: the caller's buffer is left untouched");

    // The adapter goes on with a fresh block: the next read delivers into the caller's buffer.
    AnnounceThroughSecondHandle(b, second, device, write);
    const OsHandle readAgain = a.CreateManualResetEvent();
    bool read = a.ReadPipe(first, 0x81, mine.data(), 20, &n, Overlapped::Read, readAgain);
    if (!read && a.LastError() == kErrorIoPending && a.WaitForEvent(readAgain, 10000) == WaitOutcome::Signalled) {
        read = a.GetOverlappedResult(device, Overlapped::Read, &n);
    }
    Check(read && n == 20 && IsReadiness(mine.data()), "abandoned read: the next read delivers the readiness record");

    UsbSetupPacket line;
    line.requestType = 0x40;
    line.request = 0x22;
    line.value = 0;
    b.ControlTransfer(second, line);
    const auto end = EndBlock();
    std::uint32_t written = 0;
    b.WritePipe(second, 0x01, end.data(), 72, &written, Overlapped::Write, write);
    b.WaitForEvent(write, 10000);
    line.value = 1;
    b.ControlTransfer(second, line);
    Check(a.Free(first) && b.Free(second), "abandoned read: both interface handles freed");
    // The abandoned block's event is closed only now that its read has ended.
    a.CloseHandle(readA);
    a.CloseHandle(readAgain);
    b.CloseHandle(write);
    a.CloseHandle(device);
}

// The device takes the second unit in and never answers it. The link's status read ends
// at its bound and its cancellation never ends (see above), so the link gives the device
// up within the cancellation's bound, and a later Open finds the device again.
void SilentWinUsbDownload(const std::filesystem::path& results) {
    BulkTransferBounds bounds;
    bounds.readWaitMs = 1500;
    bounds.cancelWaitMs = 500;
    CConnManagerVista link(std::make_unique<WinUsbSystemApi>(), [](std::uint32_t) {}, RealClock(), bounds);
    TestDownload run;
    if (!link.Open() || !run.OpenImage()) {
        Check(false, "silent: the link and the image open");
        return;
    }
    const bool ok = run.Run(link);
    const DWORD took = run.took;
    const auto& sizes = run.sizes;
    Check(!ok, "silent: RunDownload reports the unanswered unit as a failure");
    const DWORD bound = bounds.readWaitMs + bounds.cancelWaitMs;
    Check(took >= bound - 50 && took < bound + 10000,
          "silent: within the read's and the cancellation's bounds (" + std::to_string(took) + " ms)");
    Check(!link.IsOpen(), "silent: the link gave the device up");
    const auto units = test::ExpectedUnits(sizes);
    Check(std::filesystem::exists(results / ("unit-" + std::to_string(units[0].first) + ".bin")),
          "silent: the first unit was written");
    Check(ReadWholeFile(results / "verdicts.txt").find("2 " + std::to_string(units[1].first) + " ") !=
              std::string::npos,
          "silent: the device took the second unit in");
    Check(link.Open(), "silent: a later Open finds the device again");
}

// The bridge refuses the second announced unit with 0x88: the download stops there, ends
// the transfer, and only the first unit is in the flash.
void RejectedDownload(CConnManager& link, const std::filesystem::path& results, const char* what) {
    TestDownload run;
    if (!link.Open() || !run.OpenImage()) {
        Check(false, std::string(what) + ": the link and the image open");
        return;
    }
    const auto& sizes = run.sizes;
    Check(!run.Run(link), std::string(what) + ": RunDownload reports the refused unit as a failure");
    const auto units = test::ExpectedUnits(sizes);
    const std::string first = "unit-" + std::to_string(units[0].first) + ".bin";
    Check(std::filesystem::exists(results / first), std::string(what) + ": the first unit was written");
    bool later = false;
    for (std::size_t i = 1; i < units.size(); ++i) {
        later = later || std::filesystem::exists(results / ("unit-" + std::to_string(units[i].first) + ".bin"));
    }
    Check(!later, std::string(what) + ": nothing after the refused unit reached the flash");
    const std::string verdicts = ReadWholeFile(results / "verdicts.txt");
    Check(verdicts.find("2 " + std::to_string(units[1].first) + " ") != std::string::npos,
          std::string(what) + ": the device took the second unit in");
    // The capture is written when the link lets the device go.
    link.Open();
    const std::string capture = ReadWholeFile(results / "capture.txt");
    Check(capture.find("D>H read 20 aa55000088000000") != std::string::npos,
          std::string(what) + ": the host read the result 0x88");
    Check(ReadWholeFile(results / "summary.txt").find("end-transfers=1") != std::string::npos,
          std::string(what) + ": the transfer was ended once");
}

// The system port, with the time each event wait took recorded.
class TimedSerialPort : public SerialPort {
public:
    explicit TimedSerialPort(const WinSerialPort::Bounds& bounds, std::vector<DWORD>* waits)
        : port_(bounds), waits_(waits) {}
    bool Open(const std::wstring& name) override { return port_.Open(name); }
    bool IsOpen() const override { return port_.IsOpen(); }
    void Close() override { port_.Close(); }
    bool SetLineSettings(const SerialLineSettings& s) override { return port_.SetLineSettings(s); }
    bool SetEventMask(std::uint32_t mask) override { return port_.SetEventMask(mask); }
    bool SetTimeouts(const SerialTimeouts& t) override { return port_.SetTimeouts(t); }
    bool SetDtr() override { return port_.SetDtr(); }
    bool ClearDtr() override { return port_.ClearDtr(); }
    bool WaitEvent(std::uint32_t* events) override {
        const DWORD started = GetTickCount();
        const bool ok = port_.WaitEvent(events);
        if (!ok) waits_->push_back(GetTickCount() - started);
        return ok;
    }
    bool ReadBytes(std::uint8_t* b, std::uint32_t n, std::uint32_t* done) override { return port_.ReadBytes(b, n, done); }
    bool WriteBytes(const std::uint8_t* b, std::uint32_t n, std::uint32_t* done) override {
        return port_.WriteBytes(b, n, done);
    }

private:
    WinSerialPort port_;
    std::vector<DWORD>* waits_;
};

// The device takes the second unit's request block in and then raises no event: the
// link's wait for it ends at its bound, is cancelled, and fails the unit at once (the
// link's retries of a failed wait do not wait again); the port stays usable, so the
// transfer is still ended.
void SilentDownload(const std::filesystem::path& results) {
    constexpr DWORD kBoundMs = 1500;
    WinSerialPort::Bounds bounds;
    bounds.eventWaitMs = kBoundMs;
    // By hand first, with nothing for the device to answer: a read bounded below the
    // port's 5 s read time-out and an event wait both end at their bounds, cancelled.
    {
        WinSerialPort::Bounds shorter = bounds;
        shorter.readWaitMs = kBoundMs;
        WinSerialPort port(shorter);
        SerialTimeouts t;
        t.readInterval = 0xFFFFFFFF;
        t.readTotalMultiplier = 0xFFFFFFFF;
        t.readTotalConstant = 5000;
        if (!port.Open(L"\\\\.\\wceusbsh001") || !port.SetEventMask(0xDB) || !port.SetTimeouts(t)) {
            Check(false, "silent: \\\\.\\wceusbsh001 opens and takes its mask and time-outs");
            return;
        }
        std::uint8_t record[20] = {};
        std::uint32_t n = 0, events = 0;
        DWORD started = GetTickCount();
        const bool read = port.ReadBytes(record, 20, &n);
        DWORD waited = GetTickCount() - started;
        Check(!read && n == 0 && waited >= kBoundMs - 50 && waited < 4500,
              "silent: a read that outlasts its bound is cancelled and fails (" + std::to_string(waited) + " ms)");
        started = GetTickCount();
        const bool first = port.WaitEvent(&events);
        waited = GetTickCount() - started;
        Check(!first && events == 0 && waited >= kBoundMs - 50 && waited < kBoundMs + 3000,
              "silent: an event wait with no event ends at its bound (" + std::to_string(waited) + " ms)");
        started = GetTickCount();
        const bool again = port.WaitEvent(&events);
        waited = GetTickCount() - started;
        Check(!again && waited < 500, "silent: the next wait, with nothing written since, fails at once");
        Check(port.IsOpen() && port.SetDtr(), "silent: the port is still open and answers after the cancellations");
        port.Close();
        started = GetTickCount();
        Check(port.Open(L"\\\\.\\wceusbsh001") && port.SetEventMask(0xDB) && !port.WaitEvent(&events) &&
                  GetTickCount() - started >= kBoundMs - 50,
              "silent: a reopened port waits its whole bound again");
    }
    std::vector<DWORD> failedWaits;
    CConnManager link(std::make_unique<TimedSerialPort>(bounds, &failedWaits), [](std::uint32_t) {});
    TestDownload run;
    if (!link.Open() || !run.OpenImage()) {
        Check(false, "silent: the link and the image open");
        return;
    }
    const bool ok = run.Run(link);
    const DWORD took = run.took;
    const auto& sizes = run.sizes;
    Check(!ok, "silent: RunDownload reports the unsignalled unit as a failure");
    Check(!failedWaits.empty() && failedWaits.front() >= kBoundMs - 50 && failedWaits.front() < kBoundMs + 5000,
          "silent: the first failed wait ran its bound (" +
              std::to_string(failedWaits.empty() ? 0 : failedWaits.front()) + " ms)");
    DWORD later = 0;
    for (std::size_t i = 1; i < failedWaits.size(); ++i) later += failedWaits[i];
    Check(failedWaits.size() > 1 && later < 2000,
          "silent: the link's " + std::to_string(failedWaits.size() - 1) + " retries failed at once (" +
              std::to_string(later) + " ms in all)");
    Check(took < kBoundMs + 15000, "silent: the download failed within the bound (" + std::to_string(took) + " ms)");
    const auto units = test::ExpectedUnits(sizes);
    Check(std::filesystem::exists(results / ("unit-" + std::to_string(units[0].first) + ".bin")),
          "silent: the first unit was written");
    Check(!std::filesystem::exists(results / ("unit-" + std::to_string(units[1].first) + ".bin")),
          "silent: the second unit did not reach the flash");
    // The bridge writes its summary when the link lets the device go.
    link.Open();
    Check(ReadWholeFile(results / "summary.txt").find("end-transfers=1") != std::string::npos,
          "silent: the port stayed usable after the cancelled wait: the transfer was ended");
}

int RunWinUsb(const std::filesystem::path& results) {
    std::u16string path;
    {
        WinUsbSystemApi api;
        path = WinUsbByHand(api);
    }
    if (!path.empty()) WinUsbPendingRead(path);
    if (!path.empty()) WinUsbAbandonedRead(path);
    CConnManagerVista link(std::make_unique<WinUsbSystemApi>(), [](std::uint32_t) {});
    Check(link.Open(), "CConnManagerVista opens the simulated boot loader");
    if (link.IsOpen()) Download(link, results, "WinUSB");
    return 0;
}

// The serial link's own settings, applied by its Open, and its DTR calls by hand.
int RunSerial(const std::filesystem::path& results) {
    {
        WinSerialPort port;
        Check(port.Open(L"\\\\.\\wceusbsh001"), "\\\\.\\wceusbsh001 opens");
        if (port.IsOpen()) {
            SerialLineSettings dcb;
            dcb.length = 28;
            dcb.baudRate = 115200;
            dcb.flags = 0x0000000C;
            Check(port.SetLineSettings(dcb), "SetCommState with ByteSize 0 and the flags word 0x0C");
            Check(port.SetEventMask(0xDB), "SetCommMask 0xDB");
            SerialTimeouts t;
            t.readInterval = 0xFFFFFFFF;
            t.readTotalMultiplier = 0xFFFFFFFF;
            t.readTotalConstant = 5000;
            Check(port.SetTimeouts(t), "SetCommTimeouts");
            Check(port.ClearDtr(), "DTR cleared");
            const auto block = Announcement();
            std::uint32_t n = 0;
            Check(port.WriteBytes(block.data(), 72, &n) && n == 72, "72 bytes written");
            Check(port.SetDtr(), "DTR set");
            std::uint32_t events = 0;
            Check(port.WaitEvent(&events) && (events & 0x0001) != 0, "WaitCommEvent reports a received character");
            std::uint8_t record[20] = {};
            Check(port.ReadBytes(record, 20, &n) && n == 20 && IsReadiness(record), "the readiness record is read");
            const DWORD started = GetTickCount();
            Check(port.ReadBytes(record, 20, &n) && n == 0, "a read with nothing waiting comes back empty");
            const DWORD waited = GetTickCount() - started;
            Check(waited >= 4000 && waited < 60000, "after the read time-out (" + std::to_string(waited) + " ms)");
            port.ClearDtr();
            const auto end = EndBlock();
            Check(port.WriteBytes(end.data(), 72, &n) && n == 72, "the end-of-transfer block written");
            port.SetDtr();
        }
    }
    CConnManager link(std::make_unique<WinSerialPort>(), [](std::uint32_t) {});
    Check(link.Open(), "CConnManager opens the simulated boot loader");
    Download(link, results, "serial");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bootloader_routes_wine.exe winusb|serial[-rejected|-silent] RESULTS\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::filesystem::path results = argv[2];
    try {
        if (mode == "winusb") {
            RunWinUsb(results);
        } else if (mode == "serial") {
            RunSerial(results);
        } else if (mode == "winusb-rejected") {
            CConnManagerVista link(std::make_unique<WinUsbSystemApi>(), [](std::uint32_t) {});
            RejectedDownload(link, results, "WinUSB");
        } else if (mode == "winusb-silent") {
            SilentWinUsbDownload(results);
        } else if (mode == "serial-silent") {
            SilentDownload(results);
        } else if (mode == "serial-rejected") {
            CConnManager link(std::make_unique<WinSerialPort>(), [](std::uint32_t) {});
            RejectedDownload(link, results, "serial");
        } else {
            std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
            return 2;
        }
    } catch (const std::exception& e) {
        Check(false, std::string("no exception: ") + e.what());
    }
    const std::string errors = ReadWholeFile(results / "errors.txt");
    Check(errors.empty(), "the device saw no protocol error" + (errors.empty() ? std::string() : ": " + errors));
    return CheckVerdict();
}
