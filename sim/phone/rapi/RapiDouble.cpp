// Test double of the synchronisation software's "Rapi.dll": every operation the
// updater makes, served from the simulated phone (PhoneStore.h). Programs started on
// the phone run as desktop processes of the simulated-phone build, with the phone's
// state folder in their environment. The phone is reached only while the desktop's
// synchronisation link is up (DesktopLink.h); every call goes into the world's log,
// and the phone's state can make each call misbehave (sim/phone/README.md).

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/phone/PhonePath.h"
#include "sim/phone/WorldLog.h"
#include "sim/phone/win/PhoneRegistryCalls.h"
#include "sim/phone/win/PhoneStore.h"
#include "sim/phone/win/WorldLogFile.h"
#include "update/win/RapiDeclarations.h"

using namespace flashwise::simphone;
using namespace flashwise::rapi;

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kThreadEndBoundMs = 5000;
constexpr DWORD kQueryFailure = ERROR_GEN_FAILURE;

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

std::string CeError()
{
    std::lock_guard<std::mutex> lock(g_lock);
    return std::to_string(g_lastError);
}

// ---- the world's log: one line per call, with this process's id for the balance of
// connections per caller.

std::string Hex(DWORD word)
{
    return HexWord(word);
}

std::string Handle(HANDLE handle)
{
    return HexWord(static_cast<DWORD>(reinterpret_cast<UINT_PTR>(handle)));
}

std::string Text(LPCWSTR text)
{
    return text ? WideToUtf8(text) : std::string();
}

void Log(const char* call, WorldFields fields)
{
    fields.insert(fields.begin(), {"pid", std::to_string(GetCurrentProcessId())});
    LogWorldAct("rapi", call, fields);
}

HRESULT LogResult(const char* call, HRESULT result)
{
    Log(call, {{"result", Hex(static_cast<DWORD>(result))}});
    return result;
}

// The phone's settings while the link is up (a connection was made and the phone can
// still be talked to), else nullopt.
std::optional<PhoneSettings> Reached()
{
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (!g_connected)
            return std::nullopt;
    }
    auto settings = CurrentPhoneSettings();
    if (!settings || !settings->Connectable())
        return std::nullopt;
    return settings;
}

// A value named in grow_value grows once, right after a caller asked for its size:
// the text it had, 'x' characters and a terminator, to the size asked for.
void GrowAfterSizeQuery(HKEY key, LPCWSTR name, const PhoneSettings& settings)
{
    if (settings.growValue.empty() || !EqualsIgnoringCase(Text(name), settings.growValue))
        return;
    {
        PhoneStore store;
        if (!store.Ok() || !store.Document().Remove(kPhoneSection, "grow_value") || !store.Save())
            return;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (PhoneRegQueryValue(key, name, &type, nullptr, &size) != ERROR_SUCCESS || size >= settings.growToBytes)
        return;
    std::vector<BYTE> data(size);
    if (size > 0 && PhoneRegQueryValue(key, name, &type, data.data(), &size) != ERROR_SUCCESS)
        return;
    if (data.size() >= 2 && data[data.size() - 1] == 0 && data[data.size() - 2] == 0)
        data.resize(data.size() - 2);
    data.resize(data.size() + data.size() % 2);
    while (data.size() + 2 < settings.growToBytes) {
        data.push_back('x');
        data.push_back(0);
    }
    data.push_back(0);
    data.push_back(0);
    PhoneRegSetValue(key, name, type, data.data(), static_cast<DWORD>(data.size()));
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
        const auto forced = !settings ? std::nullopt : settings->initExResult ? settings->initExResult
                                                                             : settings->connectResult;
        const bool ends = settings && settings->initExCompletes;
        const bool reached = ends && settings->Connectable();
        const bool refused = ends && forced && FAILED(static_cast<HRESULT>(*forced));
        if (reached || refused) {
            std::lock_guard<std::mutex> lock(g_lock);
            if (pending->cancelled)
                return 0;
            const HRESULT result = forced ? static_cast<HRESULT>(*forced) : S_OK;
            g_connected = SUCCEEDED(result);
            pending->record->result = result;
            Log("CeRapiInitEx.end", {{"result", Hex(static_cast<DWORD>(result))}});
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
    Log("CeRapiInit.begin", {});
    auto settings = CurrentPhoneSettings();
    // A blocked connection waits for the phone's state to let it go, within the
    // longest connection time.
    for (DWORD waited = 0; settings && settings->initBlocks && waited < kConnectDelayLimitMs; waited += kPollMs) {
        Sleep(kPollMs);
        settings = CurrentPhoneSettings();
    }
    if (!settings || settings->initBlocks)
        return LogResult("CeRapiInit", E_FAIL);
    const auto forced = settings->initResult ? settings->initResult : settings->connectResult;
    if (forced && FAILED(static_cast<HRESULT>(*forced)))
        return LogResult("CeRapiInit", static_cast<HRESULT>(*forced));
    if (!settings->Connectable())
        return LogResult("CeRapiInit", E_FAIL);
    Sleep(settings->connectDelayMs);
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_connected = true;
    }
    return LogResult("CeRapiInit", forced ? static_cast<HRESULT>(*forced) : S_OK);
}

__declspec(dllexport) HRESULT WINAPI CeRapiInitEx(RapiInit* record)
{
    if (record == nullptr || record->size != sizeof(RapiInit) || record->event == nullptr)
        return LogResult("CeRapiInitEx", E_INVALIDARG);
    const auto settings = CurrentPhoneSettings();
    const HRESULT answer = settings && settings->initExReturn ? static_cast<HRESULT>(*settings->initExReturn) : S_OK;
    if (FAILED(answer))
        return LogResult("CeRapiInitEx", answer);
    CancelPendingInit();
    PendingInit* pending = new PendingInit;
    pending->record = record;
    pending->cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    record->result = E_PENDING;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_pending = pending;
    }
    pending->thread =
        pending->cancel ? CreateThread(nullptr, 0, CompleteInit, pending, CREATE_SUSPENDED, nullptr) : nullptr;
    if (pending->thread == nullptr) {
        std::lock_guard<std::mutex> lock(g_lock);
        g_pending = nullptr;
        if (pending->cancel)
            CloseHandle(pending->cancel);
        delete pending;
        return LogResult("CeRapiInitEx", E_FAIL);
    }
    // Logged before the attempt can end, so that its end follows it in the log.
    LogResult("CeRapiInitEx", answer);
    ResumeThread(pending->thread);
    return answer;
}

__declspec(dllexport) HRESULT WINAPI CeRapiUninit()
{
    bool active = false;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        active = g_connected || g_pending != nullptr;
    }
    if (!active)
        return LogResult("CeRapiUninit", E_FAIL);
    CancelPendingInit();
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_connected = false;
    }
    return LogResult("CeRapiUninit", S_OK);
}

__declspec(dllexport) DWORD WINAPI CeGetLastError()
{
    DWORD error = 0;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        error = g_lastError;
    }
    Log("CeGetLastError", {{"result", std::to_string(error)}});
    return error;
}

__declspec(dllexport) LONG WINAPI CeRegOpenKeyEx(HKEY root, LPCWSTR subKey, DWORD, REGSAM, PHKEY key)
{
    const auto settings = Reached();
    LONG result = ERROR_DEVICE_NOT_CONNECTED;
    if (settings && root == HKEY_LOCAL_MACHINE && (subKey == nullptr || *subKey == L'\0') &&
        settings->rootProbeError)
        result = static_cast<LONG>(*settings->rootProbeError);
    else if (settings)
        result = PhoneRegOpenKey(root, subKey, key);
    Log("CeRegOpenKeyEx", {{"root", root == HKEY_LOCAL_MACHINE ? std::string("HKLM") : Handle(root)},
                           {"subkey", Text(subKey)},
                           {"result", std::to_string(result)},
                           {"key", result == ERROR_SUCCESS && key ? Handle(*key) : std::string()}});
    return result;
}

__declspec(dllexport) LONG WINAPI CeRegQueryValueEx(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type,
                                                    LPBYTE data, LPDWORD size)
{
    const DWORD room = size ? *size : 0;
    const auto settings = Reached();
    LONG result = ERROR_DEVICE_NOT_CONNECTED;
    if (settings) {
        result = PhoneRegQueryValue(key, name, type, data, size);
        if (result == ERROR_SUCCESS && data == nullptr)
            GrowAfterSizeQuery(key, name, *settings);
    }
    Log("CeRegQueryValueEx", {{"key", Handle(key)},
                              {"name", Text(name)},
                              {"buffer", data ? std::to_string(room) : std::string("none")},
                              {"result", std::to_string(result)},
                              {"size", size ? std::to_string(*size) : std::string("none")}});
    return result;
}

__declspec(dllexport) LONG WINAPI CeRegCloseKey(HKEY key)
{
    // Closing needs no link: the key is this side's handle.
    const LONG result = PhoneRegCloseKey(key);
    Log("CeRegCloseKey", {{"key", Handle(key)}, {"result", std::to_string(result)}});
    return result;
}

__declspec(dllexport) HANDLE WINAPI CeCreateFile(LPCWSTR path, DWORD access, DWORD share,
                                                 LPSECURITY_ATTRIBUTES, DWORD creation,
                                                 DWORD flags, HANDLE)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    const auto settings = Reached();
    const auto desktopPath = path ? DesktopPathOfPhoneFile(path) : std::nullopt;
    if (!settings)
        SetCeError(ERROR_DEVICE_NOT_CONNECTED);
    else if (!desktopPath)
        SetCeError(ERROR_INVALID_NAME);
    else if (!settings->createFileFails.empty() && EqualsIgnoringCase(Text(path), settings->createFileFails))
        SetCeError(settings->createFileError);
    else {
        file = CreateFileW(desktopPath->c_str(), access, share, nullptr, creation, flags, nullptr);
        SetCeError(GetLastError());
        if (file != INVALID_HANDLE_VALUE)
            Track(file);
    }
    Log("CeCreateFile", {{"path", Text(path)},
                         {"access", Hex(access)},
                         {"share", Hex(share)},
                         {"creation", std::to_string(creation)},
                         {"flags", Hex(flags)},
                         {"handle", file == INVALID_HANDLE_VALUE ? std::string("invalid") : Handle(file)},
                         {"error", CeError()}});
    return file;
}

__declspec(dllexport) BOOL WINAPI CeWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                                              LPOVERLAPPED)
{
    const auto settings = Tracked(file) ? Reached() : std::nullopt;
    DWORD done = 0;
    BOOL ok = FALSE;
    if (!Tracked(file))
        SetCeError(ERROR_INVALID_HANDLE);
    else if (!settings)
        SetCeError(ERROR_DEVICE_NOT_CONNECTED);
    else {
        // A phone whose storage ends at write_short_at takes what fits and says so.
        DWORD allowed = size;
        if (settings->writeShortAt) {
            const DWORD at = SetFilePointer(file, 0, nullptr, FILE_CURRENT);
            allowed = at >= *settings->writeShortAt ? 0 : std::min<DWORD>(size, *settings->writeShortAt - at);
        }
        ok = WriteFile(file, data, allowed, &done, nullptr);
        SetCeError(!ok ? GetLastError() : allowed < size ? ERROR_DISK_FULL : ERROR_SUCCESS);
    }
    if (written)
        *written = done;
    Log("CeWriteFile", {{"handle", Handle(file)},
                        {"bytes", std::to_string(size)},
                        {"written", std::to_string(done)},
                        {"result", ok ? "1" : "0"}});
    return ok;
}

__declspec(dllexport) BOOL WINAPI CeSetEndOfFile(HANDLE file)
{
    BOOL ok = FALSE;
    if (!Tracked(file))
        SetCeError(ERROR_INVALID_HANDLE);
    else {
        ok = SetEndOfFile(file);
        SetCeError(ok ? ERROR_SUCCESS : GetLastError());
    }
    Log("CeSetEndOfFile", {{"handle", Handle(file)}, {"result", ok ? "1" : "0"}});
    return ok;
}

__declspec(dllexport) BOOL WINAPI CeCloseHandle(HANDLE handle)
{
    bool known = false;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        known = g_handles.erase(handle) != 0;
        if (!known)
            g_lastError = ERROR_INVALID_HANDLE;
    }
    const BOOL ok = known && CloseHandle(handle);
    Log("CeCloseHandle", {{"handle", Handle(handle)}, {"result", ok ? "1" : "0"}});
    return ok;
}

// A phone runs what it is asked to start in a few milliseconds; here each program is a
// Wine process, which a busy machine can take more than a second to start. So that the
// phone's programs still act in the order they were started (DeviceMode's boot mode
// before SysReboot's restart), each waits for the ones before it (bounded).
namespace {

constexpr DWORD kEarlierProgramsMs = 30000;
std::vector<HANDLE> g_phonePrograms;

void AwaitEarlierPrograms()
{
    std::vector<HANDLE> earlier;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        earlier.swap(g_phonePrograms);
    }
    const DWORD started = GetTickCount();
    for (HANDLE program : earlier) {
        const DWORD spent = GetTickCount() - started;
        WaitForSingleObject(program, spent < kEarlierProgramsMs ? kEarlierProgramsMs - spent : 0);
        CloseHandle(program);
    }
}

void NoteProgram(HANDLE process)
{
    HANDLE copy = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0)) {
        std::lock_guard<std::mutex> lock(g_lock);
        g_phonePrograms.push_back(copy);
    }
}

}  // namespace

__declspec(dllexport) BOOL WINAPI CeCreateProcess(LPCWSTR name, LPCWSTR commandLine, LPSECURITY_ATTRIBUTES,
                                                  LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPWSTR,
                                                  LPSTARTUPINFOW, LPPROCESS_INFORMATION info)
{
    const auto settings = Reached();
    const auto program = name && *name ? DesktopPathOfPhoneFile(Utf8ToWide(ProgramPhonePath(Text(name))))
                                       : std::nullopt;
    PROCESS_INFORMATION started{};
    BOOL ok = FALSE;
    if (!settings)
        SetCeError(ERROR_DEVICE_NOT_CONNECTED);
    else if (name == nullptr || *name == L'\0')
        SetCeError(ERROR_INVALID_PARAMETER);
    else if (settings->createProcessError != 0)
        SetCeError(settings->createProcessError);
    else if (!program || GetFileAttributesW(program->c_str()) == INVALID_FILE_ATTRIBUTES)
        SetCeError(ERROR_FILE_NOT_FOUND);
    else {
        std::wstring line = L"\"" + *program + L"\"";
        if (commandLine && *commandLine)
            line += std::wstring(L" ") + commandLine;
        const std::wstring folder = program->substr(0, program->find_last_of(L'\\'));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        AwaitEarlierPrograms();
        ok = CreateProcessW(program->c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                            folder.c_str(), &startup, &started);
        SetCeError(ok ? ERROR_SUCCESS : GetLastError());
        if (ok)
            NoteProgram(started.hProcess);
    }
    Log("CeCreateProcess", {{"name", Text(name)},
                            {"result", ok ? "1" : "0"},
                            {"error", CeError()},
                            {"process-id", std::to_string(started.dwProcessId)}});
    if (!ok)
        return FALSE;
    Track(started.hProcess);
    Track(started.hThread);
    if (info)
        *info = started;
    else {
        CeCloseHandle(started.hProcess);
        CeCloseHandle(started.hThread);
    }
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI CeGetSystemPowerStatusEx(CeSystemPowerStatusEx* status, BOOL refresh)
{
    const auto settings = status ? Reached() : std::nullopt;
    const bool answered = settings && settings->powerQuery;
    if (answered) {
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
    } else if (settings) {
        SetCeError(kQueryFailure);
    }
    Log("CeGetSystemPowerStatusEx", {{"refresh", refresh ? "1" : "0"},
                                     {"result", answered ? "1" : "0"},
                                     {"battery", answered ? std::to_string(settings->battery) : std::string()}});
    return answered;
}

__declspec(dllexport) BOOL WINAPI CeGetVersionEx(CeOsVersionInfo* version)
{
    const auto settings = version ? Reached() : std::nullopt;
    const bool answered = settings && settings->versionQuery;
    if (answered) {
        version->majorVersion = settings->osMajor;
        version->minorVersion = settings->osMinor;
        version->buildNumber = settings->osBuild;
        version->platformId = kPlatformWindowsCe;
        version->csdVersion[0] = L'\0';
    } else if (settings) {
        SetCeError(kQueryFailure);
    }
    Log("CeGetVersionEx",
        {{"result", answered ? "1" : "0"},
         {"version", answered ? std::to_string(settings->osMajor) + "." + std::to_string(settings->osMinor)
                              : std::string()}});
    return answered;
}

}  // extern "C"
