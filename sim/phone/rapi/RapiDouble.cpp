// Test double of the synchronisation software's "Rapi.dll": every operation the
// updater makes, served from the simulated phone (PhoneStore.h). Programs started on
// the phone run as desktop processes of the simulated-phone build, with the phone's
// state folder in their environment.

#include <windows.h>

#include <mutex>
#include <set>
#include <string>

#include "sim/phone/PhonePath.h"
#include "sim/phone/win/PhoneRegistryCalls.h"
#include "sim/phone/win/PhoneStore.h"
#include "update/win/RapiDeclarations.h"

using namespace flashwise::simphone;
using namespace flashwise::rapi;

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kThreadEndBoundMs = 5000;

std::mutex g_lock;
bool g_connected = false;
DWORD g_lastError = 0;
std::set<HANDLE> g_handles;  // files, processes and threads handed out

// One outstanding CeRapiInitEx: the worker touches the caller's record only under
// g_lock and only while not cancelled.
struct PendingInit {
    HANDLE thread = nullptr;
    HANDLE cancel = nullptr;
    RapiInit* record = nullptr;
    bool cancelled = false;
};
PendingInit* g_pending = nullptr;

void SetCeError(DWORD error)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_lastError = error;
}

// The link is up: a connection was made and the phone can still be talked to.
bool LinkUp()
{
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (!g_connected)
            return false;
    }
    const auto settings = CurrentPhoneSettings();
    return settings && settings->Connectable();
}

bool Tracked(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(g_lock);
    return g_handles.count(handle) != 0;
}

void Track(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_handles.insert(handle);
}

DWORD WINAPI CompleteInit(LPVOID parameter)
{
    PendingInit* pending = static_cast<PendingInit*>(parameter);
    const auto first = CurrentPhoneSettings();
    DWORD delay = first ? first->connectDelayMs : 0;
    DWORD waited = 0;
    for (;;) {
        if (WaitForSingleObject(pending->cancel, delay) == WAIT_OBJECT_0)
            return 0;
        waited += delay;
        const auto settings = CurrentPhoneSettings();
        const bool reached = settings && settings->Connectable();
        const bool refused = settings && settings->connectResult;
        if (reached || refused) {
            std::lock_guard<std::mutex> lock(g_lock);
            if (pending->cancelled)
                return 0;
            const HRESULT result = settings->connectResult ? static_cast<HRESULT>(*settings->connectResult) : S_OK;
            g_connected = SUCCEEDED(result);
            pending->record->result = result;
            SetEvent(pending->record->event);
            return 0;
        }
        // A phone that is not there may be plugged in later, as with the real link;
        // the attempt gives up silently after the longest connection time.
        if (waited >= kConnectDelayLimitMs)
            return 0;
        delay = kPollMs;
    }
}

void CancelPendingInit()
{
    PendingInit* pending = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        pending = g_pending;
        g_pending = nullptr;
        if (pending)
            pending->cancelled = true;
    }
    if (!pending)
        return;
    SetEvent(pending->cancel);
    const bool ended = WaitForSingleObject(pending->thread, kThreadEndBoundMs) == WAIT_OBJECT_0;
    CloseHandle(pending->thread);
    CloseHandle(pending->cancel);
    if (ended)
        delete pending;  // else the worker still holds it; it is left rather than freed under it
}

// Tests of where the updater looks for the library read which file loaded: its own
// path, one line per load, appended to the file FLASHWISE_PROBE_LOG names.
void RecordLoading(HINSTANCE self)
{
    wchar_t log[MAX_PATH];
    wchar_t path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"FLASHWISE_PROBE_LOG", log, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    const std::string line = WideToUtf8(std::wstring(path, length)) + "\n";
    HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        RecordLoading(self);
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI CeRapiInit()
{
    const auto settings = CurrentPhoneSettings();
    if (!settings || !settings->Connectable())
        return E_FAIL;
    if (settings->connectResult)
        return static_cast<HRESULT>(*settings->connectResult);
    Sleep(settings->connectDelayMs);
    std::lock_guard<std::mutex> lock(g_lock);
    g_connected = true;
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI CeRapiInitEx(RapiInit* record)
{
    if (record == nullptr || record->size != sizeof(RapiInit) || record->event == nullptr)
        return E_INVALIDARG;
    CancelPendingInit();
    PendingInit* pending = new PendingInit;
    pending->record = record;
    pending->cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    record->result = E_PENDING;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_pending = pending;
    }
    pending->thread = pending->cancel ? CreateThread(nullptr, 0, CompleteInit, pending, 0, nullptr) : nullptr;
    if (pending->thread == nullptr) {
        std::lock_guard<std::mutex> lock(g_lock);
        g_pending = nullptr;
        if (pending->cancel)
            CloseHandle(pending->cancel);
        delete pending;
        return E_FAIL;
    }
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI CeRapiUninit()
{
    bool active = false;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        active = g_connected || g_pending != nullptr;
    }
    if (!active)
        return E_FAIL;
    CancelPendingInit();
    std::lock_guard<std::mutex> lock(g_lock);
    g_connected = false;
    return S_OK;
}

__declspec(dllexport) DWORD WINAPI CeGetLastError()
{
    std::lock_guard<std::mutex> lock(g_lock);
    return g_lastError;
}

__declspec(dllexport) LONG WINAPI CeRegOpenKeyEx(HKEY root, LPCWSTR subKey, DWORD, REGSAM, PHKEY key)
{
    if (!LinkUp())
        return ERROR_DEVICE_NOT_CONNECTED;
    return PhoneRegOpenKey(root, subKey, key);
}

__declspec(dllexport) LONG WINAPI CeRegQueryValueEx(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type,
                                                    LPBYTE data, LPDWORD size)
{
    if (!LinkUp())
        return ERROR_DEVICE_NOT_CONNECTED;
    return PhoneRegQueryValue(key, name, type, data, size);
}

__declspec(dllexport) LONG WINAPI CeRegCloseKey(HKEY key)
{
    // Closing needs no link: the key is this side's handle.
    return PhoneRegCloseKey(key);
}

__declspec(dllexport) HANDLE WINAPI CeCreateFile(LPCWSTR path, DWORD access, DWORD share,
                                                 LPSECURITY_ATTRIBUTES, DWORD creation,
                                                 DWORD flags, HANDLE)
{
    if (!LinkUp()) {
        SetCeError(ERROR_DEVICE_NOT_CONNECTED);
        return INVALID_HANDLE_VALUE;
    }
    const auto desktopPath = path ? DesktopPathOfPhoneFile(path) : std::nullopt;
    if (!desktopPath) {
        SetCeError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileW(desktopPath->c_str(), access, share, nullptr, creation, flags, nullptr);
    SetCeError(GetLastError());
    if (file != INVALID_HANDLE_VALUE)
        Track(file);
    return file;
}

__declspec(dllexport) BOOL WINAPI CeWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                                              LPOVERLAPPED)
{
    if (!Tracked(file)) {
        SetCeError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!LinkUp()) {
        SetCeError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    DWORD done = 0;
    const BOOL ok = WriteFile(file, data, size, &done, nullptr);
    SetCeError(ok ? ERROR_SUCCESS : GetLastError());
    if (written)
        *written = done;
    return ok;
}

__declspec(dllexport) BOOL WINAPI CeSetEndOfFile(HANDLE file)
{
    if (!Tracked(file)) {
        SetCeError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const BOOL ok = SetEndOfFile(file);
    SetCeError(ok ? ERROR_SUCCESS : GetLastError());
    return ok;
}

__declspec(dllexport) BOOL WINAPI CeCloseHandle(HANDLE handle)
{
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (g_handles.erase(handle) == 0) {
            g_lastError = ERROR_INVALID_HANDLE;
            return FALSE;
        }
    }
    return CloseHandle(handle);
}

__declspec(dllexport) BOOL WINAPI CeCreateProcess(LPCWSTR name, LPCWSTR commandLine, LPSECURITY_ATTRIBUTES,
                                                  LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPWSTR,
                                                  LPSTARTUPINFOW, LPPROCESS_INFORMATION info)
{
    if (!LinkUp()) {
        SetCeError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    if (name == nullptr || *name == L'\0') {
        SetCeError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto program = DesktopPathOfPhoneFile(Utf8ToWide(ProgramPhonePath(WideToUtf8(name))));
    if (!program || GetFileAttributesW(program->c_str()) == INVALID_FILE_ATTRIBUTES) {
        SetCeError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::wstring line = L"\"" + *program + L"\"";
    if (commandLine && *commandLine)
        line += std::wstring(L" ") + commandLine;
    const std::wstring folder = program->substr(0, program->find_last_of(L'\\'));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program->c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        folder.c_str(), &startup, &started)) {
        SetCeError(GetLastError());
        return FALSE;
    }
    Track(started.hProcess);
    Track(started.hThread);
    SetCeError(ERROR_SUCCESS);
    if (info)
        *info = started;
    else {
        CeCloseHandle(started.hProcess);
        CeCloseHandle(started.hThread);
    }
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI CeGetSystemPowerStatusEx(CeSystemPowerStatusEx* status, BOOL)
{
    if (status == nullptr || !LinkUp())
        return FALSE;
    const auto settings = CurrentPhoneSettings();
    if (!settings)
        return FALSE;
    const BYTE percent = static_cast<BYTE>(settings->battery);
    status->acLineStatus = 1;  // on the desktop's USB power
    status->batteryFlag = percent == 255 ? 0xFF : percent > 66 ? 1 : percent < 33 ? 2 : 0;
    status->batteryLifePercent = percent;
    status->batteryLifeTime = 0xFFFFFFFF;
    status->batteryFullLifeTime = 0xFFFFFFFF;
    status->backupBatteryFlag = 0xFF;
    status->backupBatteryLifePercent = 255;
    status->backupBatteryLifeTime = 0xFFFFFFFF;
    status->backupBatteryFullLifeTime = 0xFFFFFFFF;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI CeGetVersionEx(CeOsVersionInfo* version)
{
    if (version == nullptr || !LinkUp())
        return FALSE;
    const auto settings = CurrentPhoneSettings();
    if (!settings)
        return FALSE;
    version->majorVersion = settings->osMajor;
    version->minorVersion = settings->osMinor;
    version->buildNumber = settings->osBuild;
    version->platformId = kPlatformWindowsCe;
    version->csdVersion[0] = L'\0';
    return TRUE;
}

}  // extern "C"
