// The whole simulated phone world on one Windows path, as the updater meets it: while
// the phone runs normally there is no boot loader to open; the helpers copied and
// started through the Remote API restart the phone into its boot loader; once the
// desktop's synchronisation software has let go of the phone (XP: wcestest.exe " /c:";
// Vista: both services stopped) the same program opens the link and writes an image
// through it, and restores the desktop's link after. Each row is one kind of updater:
// the world must fail the ones that skip the release or the restore. On the Vista path
// discovery finds the boot loader's interface only while the phone runs its boot loader.
// A world whose phone starts in its boot loader (a phone an earlier update left there)
// has the boot loader at once and no Remote API link.
// (tools/wine/phone-world.py sets the world up; run_phone_world.py runs this program.)
//
//   phoneworld_wine.exe xp|vista[-boot-loader] RESULTS DEVICEMODE SYSREBOOT WCESTEST SIMSERVICECTL
//
// RESULTS is the bridge's results folder; the others are the programs' files.
// FLASHWISE_PHONE names the phone's folder.

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
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
#include "sim/phone/WorldLog.h"
#include "sim/phone/win/PhoneStore.h"
#include "sim/phone/win/WorldLogFile.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/ScenarioChecks.h"

using namespace flashwise;

namespace {

using flashwise::test::Check;
using flashwise::test::CheckVerdict;
using flashwise::test::ReadWholeFile;
using simphone::WorldAct;

constexpr DWORD kHelperBoundMs = 30000;
constexpr DWORD kToolBoundMs = 60000;
constexpr DWORD kCopyPiece = 8192;

std::wstring Wide(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], n);
    return out;
}

std::string PhoneState() {
    return ReadWholeFile(std::filesystem::path(simphone::PhoneFolder() + L"\\phone.ini"));
}

std::vector<WorldAct> WorldActs() {
    return simphone::ParseWorldLog(ReadWholeFile(std::filesystem::path(simphone::WorldLogPath())));
}

// The world's acts after the first `count` (counted by line: two acts may share a
// millisecond).
std::vector<WorldAct> ActsAfter(std::size_t count) {
    auto acts = WorldActs();
    acts.erase(acts.begin(), acts.begin() + static_cast<std::ptrdiff_t>(std::min(count, acts.size())));
    return acts;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

// The time of the first act from `source` named `name` with these fields, or 0.
std::uint64_t Seen(const std::vector<WorldAct>& acts, const char* source, const char* name, const Fields& fields = {}) {
    for (const auto& act : acts) {
        bool match = act.source == source && act.act == name;
        for (const auto& [field, value] : fields) match = match && act.Field(field) == value;
        if (match) return act.ms;
    }
    return 0;
}

// Runs a program of the desktop and waits for it; its exit code, or -1.
long RunAndWait(const std::wstring& commandLine) {
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info))
        return -1;
    DWORD code = 0;
    const bool ended = WaitForSingleObject(info.hProcess, kToolBoundMs) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(info.hProcess, &code);
    if (!ended) TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return ended ? static_cast<long>(code) : -1;
}

constexpr const char* kServices[] = {"WcesComm", "RapiMgr"};

// The desktop's synchronisation link, released and restored as the updater does it on
// each path, and how the world's log shows each.
class Desktop {
public:
    Desktop(bool xp, std::wstring wcestest, std::wstring serviceCtl)
        : xp_(xp), wcestest_(std::move(wcestest)), serviceCtl_(std::move(serviceCtl)) {}

    bool Release() {
        if (xp_) return RunAndWait(L"\"" + wcestest_ + L"\" /c:") == 0;
        return Ctl(L"preset WcesComm stopped disabled") && Ctl(L"preset RapiMgr stopped disabled");
    }
    bool Restore() {
        if (xp_) return RunAndWait(L"\"" + wcestest_ + L"\" /c:su") == 0;
        return Ctl(L"preset RapiMgr running auto") && Ctl(L"preset WcesComm running auto");
    }
    // When the desktop let go (both services stopped, and each seen disabled, on Vista); 0: not.
    std::uint64_t Released(const std::vector<WorldAct>& acts) const {
        if (xp_) return Seen(acts, "dccman", "message-0x432", {{"types", "0"}});
        std::uint64_t last = 0;
        for (const char* name : kServices) {
            const std::uint64_t stopped = Seen(acts, "service", "state", {{"name", name}, {"state", "stopped"}});
            const std::uint64_t disabled = Seen(acts, "scm", "start-type", {{"name", name}, {"type", "disabled"}});
            if (!stopped || !disabled) return 0;
            // The desktop lets go when the service stops; the watch sees a start type
            // only when it is next scheduled, which on a busy machine can be after the
            // boot loader has opened.
            last = std::max(last, stopped);
        }
        return last;
    }
    // Vista: each service made automatic before it runs again.
    std::uint64_t Restored(const std::vector<WorldAct>& acts) const {
        if (xp_) return Seen(acts, "dccman", "message-0x432", {{"types", "10"}});
        std::uint64_t last = 0;
        for (const char* name : kServices) {
            // A disabled service does not start, so running again after its stop, and
            // seen automatic (the watch sees it when it is next scheduled), is restored.
            const std::uint64_t automatic = Seen(acts, "scm", "start-type", {{"name", name}, {"type", "auto"}});
            const std::uint64_t stopped = Seen(acts, "service", "state", {{"name", name}, {"state", "stopped"}});
            const std::uint64_t running = Seen(acts, "service", "state", {{"name", name}, {"state", "running"}});
            if (!automatic || running < stopped) return 0;
            last = std::max(last, running);
        }
        return last;
    }

private:
    bool Ctl(const wchar_t* arguments) const { return RunAndWait(L"\"" + serviceCtl_ + L"\" " + arguments) == 0; }

    bool xp_;
    std::wstring wcestest_;
    std::wstring serviceCtl_;
};

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

// What the program looks for on the Vista path before it opens anything: the present
// interfaces of the boot loader's class, found by discovery alone.
int PresentBootLoaderInterfaces() {
    static const GUID kBootLoaderClass = {0x25DBCE51, 0x6C8F, 0x4A72, {0x8A, 0x6D, 0xB5, 0x4C, 0x2B, 0x4F, 0xC8, 0x35}};
    HDEVINFO set = SetupDiGetClassDevsW(&kBootLoaderClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return -1;
    int found = 0;
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof data;
    while (SetupDiEnumDeviceInterfaces(set, nullptr, &kBootLoaderClass, static_cast<DWORD>(found), &data)) ++found;
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

// The interface follows the phone's restarts as a device enumerates: moments later.
bool WaitForInterface(bool present, DWORD boundMs) {
    const DWORD started = GetTickCount();
    do {
        if (PresentBootLoaderInterfaces() == (present ? 1 : 0)) return true;
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

// `passes`: downloads the bridge has seen, this one included.
void Download(CConnManager& link, const std::filesystem::path& results, int passes) {
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
    Check(summary.find("announcements=" + std::to_string(passes * units.size())) != std::string::npos &&
              summary.find("end-transfers=" + std::to_string(passes)) != std::string::npos,
          "each unit announced once and the transfer ended once: " + summary);
}

// XP: the line settings as the serial device took them, from its own record.
void CheckSerialRecord() {
    struct Row {
        const wchar_t* name;
        DWORD value;
    };
    const Row rows[] = {
        {L"Device", 1}, {L"BaudRate", 115200}, {L"ByteSize", 0}, {L"Parity", 0}, {L"StopBits", 0},
        {L"DcbFlags", 0x0000000C}, {L"EventMask", 0xDB}, {L"ReadIntervalTimeout", 0xFFFFFFFF},
        {L"ReadTotalTimeoutMultiplier", 0xFFFFFFFF}, {L"ReadTotalTimeoutConstant", 5000},
        {L"WriteTotalTimeoutMultiplier", 0}, {L"WriteTotalTimeoutConstant", 0},
    };
    HKEY key = nullptr;
    const bool open = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                    L"System\\CurrentControlSet\\Services\\FlashwiseSerialSim\\Parameters\\Settings", 0,
                                    KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS;
    Check(open, "the serial device keeps a record of its settings");
    for (const Row& row : rows) {
        DWORD value = 0xBAD;
        DWORD size = sizeof value;
        const bool read = open && RegQueryValueExW(key, row.name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                                                   &size) == ERROR_SUCCESS;
        char what[160];
        std::snprintf(what, sizeof what, "the serial device recorded %ls = 0x%lX (expected 0x%lX)", row.name,
                      static_cast<unsigned long>(value), static_cast<unsigned long>(row.value));
        Check(read && value == row.value, what);
    }
    if (key) RegCloseKey(key);
}

// The phone restarts normally once its flash is written (the boot loader's own
// restart; here the test's hand), so that the desktop may reach it again.
void RestartPhoneNormally() {
    simphone::PhoneStore store;
    if (store.Ok()) simphone::Restart(store.Document());
    Check(store.Ok() && store.Save() && PhoneState().find("\nmode=normal") != std::string::npos,
          "the phone restarts normally");
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

struct Updater {
    const char* name;
    bool releases;  // the desktop's synchronisation link before the boot-loader link
    bool restores;  // ... and after it
};

const Updater kUpdaters[] = {
    {"an updater that releases the desktop's link and restores it", true, true},
    {"an updater that skips the release", false, true},
    {"an updater that skips the restore", true, false},
};

// One update as the updater does it, up to the check of what the world made of it.
void RunUpdater(const Updater& updater, bool xp, Desktop& desktop, Rapi& rapi, const std::filesystem::path& results,
                const std::wstring& deviceMode, const std::wstring& sysReboot, int& downloads) {
    const std::string row = std::string(updater.name) + ": ";
    const std::size_t mark = WorldActs().size();
    Check(rapi.Connect(), row + "the desktop reaches the phone");
    Check(rapi.Copy(deviceMode, L"\\windows\\DeviceMode.exe"), row + "DeviceMode.exe copied onto the phone");
    Check(rapi.Copy(sysReboot, L"\\windows\\SysReboot.exe"), row + "SysReboot.exe copied onto the phone");
    if (!xp)
        Check(WaitForInterface(false, 30000), row + "discovery finds no boot-loader interface before the restart");
    DWORD code = 99;
    Check(rapi.Run(L"DeviceMode", &code) && code == 0, row + "DeviceMode runs on the phone");
    {
        // Still no boot loader: only the restart brings it.
        auto link = MakeLink(xp);
        Check(!link->Open(), row + "the link cannot be opened before the restart");
    }
    code = 99;
    Check(rapi.Run(L"SysReboot", &code) && code == 0, row + "SysReboot runs on the phone");
    rapi.Disconnect();
    Check(PhoneState().find("\nmode=bootloader") != std::string::npos, row + "the phone restarted into its boot loader");
    if (!xp)
        Check(WaitForInterface(true, 30000), row + "discovery finds the boot-loader interface after the restart");
    Check(!rapi.Connect(), row + "the desktop no longer reaches the phone");
    rapi.Disconnect();

    if (updater.releases) Check(desktop.Release(), row + "the desktop's link is released");
    if (xp) Check(WaitForSerialDevice(30000), row + "\\\\.\\wceusbsh001 appears once the phone is in its boot loader");
    auto link = MakeLink(xp);
    const bool opened = link->Open();
    Check(opened == updater.releases, row + (updater.releases ? "the boot-loader link opens"
                                                              : "the boot-loader link does not open"));
    if (opened) {
        if (xp) CheckSerialRecord();
        Download(*link, results, ++downloads);
    }
    link.reset();
    RestartPhoneNormally();
    if (updater.restores) Check(desktop.Restore(), row + "the desktop's link is restored");
    const bool reached = rapi.Connect();
    rapi.Disconnect();
    Check(reached == updater.restores, row + (updater.restores ? "the desktop reaches the phone again"
                                                               : "the desktop does not reach the phone"));

    const auto acts = ActsAfter(mark);
    const std::uint64_t released = desktop.Released(acts);
    const std::uint64_t restored = desktop.Restored(acts);
    const std::uint64_t open = Seen(acts, "bridge", "open");
    Check((released != 0) == updater.releases, row + "the world's log shows " + (updater.releases ? "" : "no ") +
                                                   "release");
    // A desktop that was never released has nothing to restore (Vista: the services run).
    if (updater.releases)
        Check((restored != 0) == updater.restores, row + "the world's log shows " + (updater.restores ? "" : "no ") +
                                                       "restore");
    if (updater.releases) Check(open != 0 && released <= open, row + "the boot loader opened after the release");
    if (updater.releases && updater.restores) Check(open < restored, row + "the restore came after the download");
    if (!updater.releases) {
        const bool refused = std::any_of(acts.begin(), acts.end(), [](const WorldAct& act) {
            return act.source == "bridge" && act.act == "open-refused" &&
                   act.Field("why").value_or("").find("holds the device") != std::string::npos;
        });
        Check(refused && open == 0, row + "the boot loader refused every open while the desktop held it");
    }
    const std::string pid = std::to_string(GetCurrentProcessId());
    const auto count = [&](const char* call) {
        return std::count_if(acts.begin(), acts.end(), [&](const WorldAct& act) {
            return act.source == "rapi" && act.act == call && act.Field("pid") == pid &&
                   act.Field("result") == "0x00000000";
        });
    };
    Check(count("CeRapiInit") > 0 && count("CeRapiInit") == count("CeRapiUninit"),
          row + "every connection made was ended (" + std::to_string(count("CeRapiInit")) + ")");

    // The next row starts from the desktop the world began with.
    if (!updater.restores) Check(desktop.Restore(), row + "the test restores the desktop's link itself");
}

int Run(bool xp, const std::filesystem::path& results, const std::wstring& deviceMode, const std::wstring& sysReboot,
        const std::wstring& wcestest, const std::wstring& serviceCtl) {
    if (xp)
        Check(WaitForDccManWindow(10000), "the connection manager's hidden window is there");
    else
        Check(ServiceRunning(L"WcesComm") && ServiceRunning(L"RapiMgr"), "the services WcesComm and RapiMgr run");
    Check(PhoneState().find("mode=bootloader") == std::string::npos, "the phone starts out running normally");
    if (!xp) Check(PresentBootLoaderInterfaces() == 0, "discovery finds no boot-loader interface");

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
    Desktop desktop(xp, wcestest, serviceCtl);
    int downloads = 0;
    for (const Updater& updater : kUpdaters) RunUpdater(updater, xp, desktop, rapi, results, deviceMode, sysReboot, downloads);
    return 0;
}

// A phone an earlier update left in its boot loader: the boot loader is there as the
// world comes up, the Remote API cannot reach the phone, and once the desktop has let go
// the link opens and writes an image.
void RunStartingInBootLoader(bool xp, const std::filesystem::path& results, const std::wstring& wcestest,
                             const std::wstring& serviceCtl) {
    Check(PhoneState().find("\nmode=bootloader") != std::string::npos, "the phone starts in its boot loader");
    if (xp) {
        wchar_t target[512] = {};
        Check(QueryDosDeviceW(L"wceusbsh001", target, 512) != 0, "\\\\.\\wceusbsh001 is there as the world is up");
    } else {
        Check(PresentBootLoaderInterfaces() == 1, "discovery finds the boot-loader interface as the world is up");
    }
    Rapi rapi;
    Check(rapi.Complete(), "Rapi.dll binds from the system folder");
    if (!rapi.Complete()) return;
    Check(!rapi.Connect(), "the Remote API cannot reach a phone in its boot loader");
    rapi.Disconnect();

    Desktop desktop(xp, wcestest, serviceCtl);
    Check(desktop.Release(), "the desktop's link is released");
    {
        auto link = MakeLink(xp);
        const bool opened = link->Open();
        Check(opened, "the boot-loader link opens once the desktop has let go");
        if (opened) Download(*link, results, 1);
    }
    RestartPhoneNormally();
    Check(desktop.Restore(), "the desktop's link is restored");
    Check(rapi.Connect(), "the desktop reaches the phone once it runs normally");
    rapi.Disconnect();
    if (!xp) Check(WaitForInterface(false, 30000), "the interface goes when the phone leaves its boot loader");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool bootLoader = mode == "xp-boot-loader" || mode == "vista-boot-loader";
    if (argc != 7 || (mode != "xp" && mode != "vista" && !bootLoader)) {
        std::fprintf(stderr, "usage: phoneworld_wine.exe xp|vista[-boot-loader] RESULTS DEVICEMODE SYSREBOOT WCESTEST "
                             "SIMSERVICECTL\n");
        return 2;
    }
    const bool xp = mode.rfind("xp", 0) == 0;
    const std::filesystem::path results = argv[2];
    try {
        if (bootLoader)
            RunStartingInBootLoader(xp, results, Wide(argv[5]), Wide(argv[6]));
        else
            Run(xp, results, Wide(argv[3]), Wide(argv[4]), Wide(argv[5]), Wide(argv[6]));
    } catch (const std::exception& e) {
        Check(false, std::string("no exception: ") + e.what());
    }
    const std::string errors = ReadWholeFile(results / "errors.txt");
    Check(errors.empty(), "the device saw no protocol error" + (errors.empty() ? std::string() : ": " + errors));
    return CheckVerdict();
}
