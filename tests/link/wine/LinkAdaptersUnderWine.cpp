// Runs the two links on the system adapters where no boot loader is attached: both
// must bind what they need (or refuse cleanly), fail their Open, and never load a
// library from anywhere but the system folder.
//
//   link_adapters_under_wine.exe winusb-absent    Winusb.dll cannot be loaded
//   link_adapters_under_wine.exe winusb-probe     the boot-loader bridge's stand-in Winusb.dll
//                                                 is in the system folder: it binds, but
//                                                 WinUsb_Initialize fails as no bridge is named

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "link/ConnManager.h"
#include "link/ConnManagerVista.h"
#include "link/win/WinSerialPort.h"
#include "link/win/WinUsbSystemApi.h"
#include "tests/support/ScenarioChecks.h"

using namespace flashwise;

namespace {

using flashwise::test::Check;
using flashwise::test::CheckVerdict;

std::wstring WorkingFolder() {
    wchar_t folder[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, folder);
    return std::wstring(folder, n);
}

std::string ReadProbeLog() {
    char path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("FLASHWISE_PROBE_LOG", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "winusb-absent";
    int pauses = 0;
    PauseFn countPauses = [&pauses](std::uint32_t) { ++pauses; };

    // No wceusbsh device exists: every name fails, with the pass pauses between.
    {
        CConnManager serial(std::make_unique<WinSerialPort>(), countPauses);
        const DWORD started = GetTickCount();
        Check(!serial.Open(), "serial Open fails with no boot-loader device");
        Check(pauses == 24, "serial Open paused before each of its 24 further passes");
        std::printf("serial Open gave up after %lu ms of real time\n",
                    static_cast<unsigned long>(GetTickCount() - started));
        std::uint8_t request[72] = {};
        serial.EndTransfer();   // a closed link sends nothing and must not fault
        Check(!serial.PrepareSection(nullptr, request, request, 50), "a section on a closed serial link fails");
    }

    // A decoy in the working folder must never be taken for the system library.
    const std::wstring decoy = WorkingFolder() + L"\\winusb.dll";
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    CopyFileW(self, decoy.c_str(), FALSE);

    {
        pauses = 0;
        CConnManagerVista winusb(std::make_unique<WinUsbSystemApi>(), countPauses);
        Check(!winusb.Open(), "WinUSB Open fails cleanly");
        Check(!winusb.IsOpen(), "WinUSB link holds no device after the failed Open");
        Check(!winusb.Open(), "a second WinUSB Open fails the same way");
        winusb.EndTransfer();
        Check(pauses == 0, "a closed WinUSB link does not pause in EndTransfer");
    }
    Check(GetModuleHandleW(decoy.c_str()) == nullptr, "the decoy winusb.dll in the working folder was not loaded");
    DeleteFileW(decoy.c_str());

    const std::string log = Lower(ReadProbeLog());
    if (mode == "winusb-probe") {
        Check(log.find("\\system32\\winusb.dll") != std::string::npos ||
                  log.find("\\syswow64\\winusb.dll") != std::string::npos,
              "winusb.dll was loaded from the system folder");
        Check(log.find(Lower(std::string(decoy.begin(), decoy.end()))) == std::string::npos,
              "no load recorded from the working folder");
    } else {
        Check(log.find("winusb.dll") == std::string::npos, "no winusb.dll was loaded");
    }

    return CheckVerdict();
}
