// The whole simulated phone world on one Windows path, as the updater meets it: while
// the phone runs normally there is no boot loader to open; the helpers copied and
// started through the Remote API restart the phone into its boot loader, and the same
// program then opens the link and writes an image through it.
// (tools/wine/phone-world.py sets the world up; run_phone_world.py runs this program.)
//
//   phoneworld_wine.exe xp|vista RESULTS DEVICEMODE SYSREBOOT
//
// RESULTS is the bridge's results folder; DEVICEMODE and SYSREBOOT the helpers' files.
// FLASHWISE_PHONE names the phone's folder.

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

constexpr DWORD kHelperBoundMs = 30000;
constexpr DWORD kCopyPiece = 8192;

std::wstring Wide(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], n);
    return out;
}

std::string PhoneState() {
    wchar_t folder[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(L"FLASHWISE_PHONE", folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return ReadWholeFile(std::filesystem::path(std::wstring(folder) + L"\\phone.ini"));
}

// The Remote API as the updater reaches it: Rapi.dll from the system folder, bound by name.
class Rapi {
public:
    using InitFn = HRESULT(WINAPI*)();
    using CreateFileFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    using WriteFileFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    using HandleFn = BOOL(WINAPI*)(HANDLE);
    using CreateProcessFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                          DWORD, LPVOID, LPWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);

    Rapi() {
        wchar_t system[MAX_PATH] = {};
        const UINT n = GetSystemDirectoryW(system, MAX_PATH);
        if (n > 0 && n < MAX_PATH) module_ = LoadLibraryW((std::wstring(system) + L"\\Rapi.dll").c_str());
        if (module_ == nullptr) return;
        init_ = Get<InitFn>("CeRapiInit");
        uninit_ = Get<InitFn>("CeRapiUninit");
        createFile_ = Get<CreateFileFn>("CeCreateFile");
        writeFile_ = Get<WriteFileFn>("CeWriteFile");
        closeHandle_ = Get<HandleFn>("CeCloseHandle");
        createProcess_ = Get<CreateProcessFn>("CeCreateProcess");
    }
    ~Rapi() {
        if (module_) FreeLibrary(module_);
    }
    bool Complete() const { return init_ && uninit_ && createFile_ && writeFile_ && closeHandle_ && createProcess_; }
    bool Connect() { return init_() == S_OK; }
    void Disconnect() { uninit_(); }

    // The updater's copy: 8,192-byte pieces into a file created on the phone.
    bool Copy(const std::wstring& localPath, const std::wstring& phonePath) {
        HANDLE local = CreateFileW(localPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (local == INVALID_HANDLE_VALUE) return false;
        HANDLE remote = createFile_(phonePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        bool ok = remote != INVALID_HANDLE_VALUE;
        std::vector<char> piece(kCopyPiece);
        for (DWORD read = 1; ok && read > 0;) {
            ok = ReadFile(local, piece.data(), kCopyPiece, &read, nullptr) != FALSE;
            DWORD written = 0;
            ok = ok && writeFile_(remote, piece.data(), read, &written, nullptr) && written == read;
        }
        if (remote != INVALID_HANDLE_VALUE) closeHandle_(remote);
        CloseHandle(local);
        return ok;
    }

    // Started by bare name as the updater starts it; the test waits to see its effect.
    bool Run(const wchar_t* name, DWORD* exitCode) {
        PROCESS_INFORMATION info{};
        if (!createProcess_(name, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info)) return false;
        const bool ended = WaitForSingleObject(info.hProcess, kHelperBoundMs) == WAIT_OBJECT_0;
        if (ended) GetExitCodeProcess(info.hProcess, exitCode);
        closeHandle_(info.hProcess);
        closeHandle_(info.hThread);
        return ended;
    }

private:
    template <typename Fn>
    Fn Get(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    HMODULE module_ = nullptr;
    InitFn init_ = nullptr;
    InitFn uninit_ = nullptr;
    CreateFileFn createFile_ = nullptr;
    WriteFileFn writeFile_ = nullptr;
    HandleFn closeHandle_ = nullptr;
    CreateProcessFn createProcess_ = nullptr;
};

// A phone that has restarted into its boot loader takes a moment to enumerate; the
// updater's open loop covers that with its pauses between passes, which this test
// leaves out, so it waits for the serial device's name itself (bounded). The device is
// not opened for that: the link's own open must be the first.
bool WaitForSerialDevice(DWORD boundMs) {
    const DWORD started = GetTickCount();
    do {
        wchar_t target[512] = {};
        if (QueryDosDeviceW(L"wceusbsh001", target, 512) != 0) return true;
        Sleep(50);
    } while (GetTickCount() - started < boundMs);
    return false;
}

// The connection manager's window comes up with the world, moments after it was started.
bool WaitForDccManWindow(DWORD boundMs) {
    const DWORD started = GetTickCount();
    do {
        if (FindWindowW(L"DccMan Class", nullptr) != nullptr) return true;
        Sleep(50);
    } while (GetTickCount() - started < boundMs);
    return false;
}

std::unique_ptr<CConnManager> MakeLink(bool xp) {
    auto noPause = [](std::uint32_t) {};
    if (xp) return std::make_unique<CConnManager>(std::make_unique<WinSerialPort>(), noPause);
    return std::make_unique<CConnManagerVista>(std::make_unique<WinUsbSystemApi>(), noPause);
}

// A small image with every kind of unit, so each reaches the flash through the link.
test::ImageSizes ImageSizes() {
    test::ImageSizes s;
    s.l50 = 1001;
    s.l51a = 9000;
    s.l51b = 77;
    s.l52 = 8193;
    s.l53 = 3;
    s.l54a = 2345;
    s.l54b = 789;
    return s;
}

void Download(CConnManager& link, const std::filesystem::path& results) {
    test::ScratchFolder folder;
    const auto path = folder.Path() / "Tarn_G4.abi";
    const auto sizes = ImageSizes();
    test::WriteImage(path, sizes);
    CFirmwareImage image{WorkFolder(folder.Path())};
    if (!image.OpenImage(path)) {
        Check(false, "the test image opens");
        return;
    }
    DownloadState state;
    state.BeginPass(std::filesystem::file_size(path));
    Check(RunDownload(state, link, image, [](std::uint32_t) {}),
          "RunDownload reports every unit written");
    Check(state.IsFinished(), "the download is marked finished");
    const auto units = test::ExpectedUnits(sizes);
    for (const auto& [code, span] : units) {
        const std::string stored = ReadWholeFile(results / ("unit-" + std::to_string(code) + ".bin"));
        const auto expected = test::ReadSpan(path, span);
        Check(stored.size() == expected.size() && std::memcmp(stored.data(), expected.data(), expected.size()) == 0,
              "unit " + std::to_string(code) + " (" + std::to_string(span.length) +
                  " bytes) is in the bridge's flash byte for byte");
    }
    const std::string summary = ReadWholeFile(results / "summary.txt");
    Check(summary.find("announcements=" + std::to_string(units.size())) != std::string::npos &&
              summary.find("end-transfers=1") != std::string::npos,
          "each unit announced once and the transfer ended once: " + summary);
}

bool ServiceRunning(const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return false;
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    const bool running = service != nullptr && QueryServiceStatus(service, &status) &&
                         status.dwCurrentState == SERVICE_RUNNING;
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return running;
}

int Run(bool xp, const std::filesystem::path& results, const std::wstring& deviceMode, const std::wstring& sysReboot) {
    Check(ServiceRunning(L"WcesComm") && ServiceRunning(L"RapiMgr"), "the services WcesComm and RapiMgr run");
    if (xp) Check(WaitForDccManWindow(10000), "the connection manager's hidden window is there");
    const std::string before = PhoneState();
    Check(before.find("mode=bootloader") == std::string::npos, "the phone starts out running normally");

    // No boot loader while the phone runs normally: the link cannot be opened.
    {
        auto link = MakeLink(xp);
        Check(!link->Open(), xp ? "CConnManager::Open fails while the phone runs normally"
                                : "CConnManagerVista::Open fails while the phone runs normally");
    }
    Check(ReadWholeFile(results / "summary.txt").find("announcements=0") != std::string::npos,
          "nothing reached the boot loader");

    Rapi rapi;
    Check(rapi.Complete(), "Rapi.dll binds from the system folder");
    if (!rapi.Complete()) return 1;
    Check(rapi.Connect(), "the desktop reaches the phone");
    Check(rapi.Copy(deviceMode, L"\\windows\\DeviceMode.exe"), "DeviceMode.exe copied onto the phone");
    Check(rapi.Copy(sysReboot, L"\\windows\\SysReboot.exe"), "SysReboot.exe copied onto the phone");
    DWORD code = 99;
    Check(rapi.Run(L"DeviceMode", &code) && code == 0, "DeviceMode runs on the phone");
    Check(PhoneState().find("boot_next=bootloader") != std::string::npos, "the next restart starts the boot loader");
    {
        // Still no boot loader: only the restart brings it.
        auto link = MakeLink(xp);
        Check(!link->Open(), "the link still cannot be opened before the restart");
    }
    code = 99;
    Check(rapi.Run(L"SysReboot", &code) && code == 0, "SysReboot runs on the phone");
    rapi.Disconnect();
    const std::string after = PhoneState();
    Check(after.find("\nmode=bootloader") != std::string::npos && after.find("restarts=1") != std::string::npos,
          "the phone restarted into its boot loader");
    Check(!rapi.Connect(), "the desktop no longer reaches the phone");
    rapi.Disconnect();

    if (xp) Check(WaitForSerialDevice(30000), "\\\\.\\wceusbsh001 appears once the phone is in its boot loader");
    auto link = MakeLink(xp);
    Check(link->Open(), xp ? "CConnManager::Open finds \\\\.\\wceusbsh001 and sets it up"
                           : "CConnManagerVista::Open finds the interface and opens it");
    Download(*link, results);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 || (std::strcmp(argv[1], "xp") != 0 && std::strcmp(argv[1], "vista") != 0)) {
        std::fprintf(stderr, "usage: phoneworld_wine.exe xp|vista RESULTS DEVICEMODE SYSREBOOT\n");
        return 2;
    }
    const std::filesystem::path results = argv[2];
    try {
        Run(std::strcmp(argv[1], "xp") == 0, results, Wide(argv[3]), Wide(argv[4]));
    } catch (const std::exception& e) {
        Check(false, std::string("no exception: ") + e.what());
    }
    const std::string errors = ReadWholeFile(results / "errors.txt");
    Check(errors.empty(), "the device saw no protocol error" + (errors.empty() ? std::string() : ": " + errors));
    return CheckVerdict();
}
