// Sets up and presets the stand-in services of the simulated desktop.
//
//   SimServiceCtl install NAME EXE [--start auto|demand|disabled] [SERVICE OPTIONS...]
//   SimServiceCtl remove NAME       stops it first, a refusing stand-in too
//   SimServiceCtl preset NAME running|stopped [auto|demand|disabled]
//   SimServiceCtl preset NAME start-pending|stop-pending
//                                   asks for the change and returns once it is under
//                                   way (for a stand-in started with a delay)
//   SimServiceCtl query NAME        prints "state=<state> start=<start type>"
//   SimServiceCtl watch NAME... --phone FOLDER [--lifetime-ms N]
//                                   logs each service's start type as the watch begins
//                                   ("scm watch"), then every change ("scm start-type"),
//                                   in the world's log of the phone in FOLDER, until its
//                                   lifetime (default 120000 ms) is over
//
// SERVICE OPTIONS go on the service's command line (see SimService.cpp). Waits for a
// state are bounded (30 s). Exit code 0 on success, 1 for a bad command line, 2 when
// the service control manager refuses.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "sim/phone/win/PhoneStore.h"
#include "sim/phone/win/WorldLogFile.h"

namespace {

constexpr DWORD kStateBoundMs = 30000;
constexpr DWORD kPollMs = 100;
constexpr DWORD kControlRelease = 200;  // SimService.cpp

struct Handle {
    SC_HANDLE value = nullptr;
    ~Handle()
    {
        if (value)
            CloseServiceHandle(value);
    }
};

bool StartType(const std::wstring& text, DWORD& type)
{
    if (text == L"auto") type = SERVICE_AUTO_START;
    else if (text == L"demand") type = SERVICE_DEMAND_START;
    else if (text == L"disabled") type = SERVICE_DISABLED;
    else return false;
    return true;
}

const wchar_t* StateName(DWORD state)
{
    switch (state) {
    case SERVICE_STOPPED: return L"stopped";
    case SERVICE_START_PENDING: return L"start-pending";
    case SERVICE_STOP_PENDING: return L"stop-pending";
    case SERVICE_RUNNING: return L"running";
    case SERVICE_CONTINUE_PENDING: return L"continue-pending";
    case SERVICE_PAUSE_PENDING: return L"pause-pending";
    case SERVICE_PAUSED: return L"paused";
    default: return L"unknown";
    }
}

const wchar_t* StartName(DWORD type)
{
    switch (type) {
    case SERVICE_AUTO_START: return L"auto";
    case SERVICE_DEMAND_START: return L"demand";
    case SERVICE_DISABLED: return L"disabled";
    default: return L"other";
    }
}

int Refused(const wchar_t* what)
{
    std::fwprintf(stderr, L"%ls failed: %lu\n", what, GetLastError());
    return 2;
}

bool WaitForState(SC_HANDLE service, DWORD target)
{
    for (DWORD waited = 0; waited <= kStateBoundMs; waited += kPollMs) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == target)
            return true;
        Sleep(kPollMs);
    }
    return false;
}

bool SetStart(SC_HANDLE service, DWORD type)
{
    return ChangeServiceConfigW(service, SERVICE_NO_CHANGE, type, SERVICE_NO_CHANGE, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr) != FALSE;
}

DWORD CurrentStartType(SC_HANDLE service)
{
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed))
        return 0xFFFFFFFF;
    return config->dwStartType;
}

int Install(SC_HANDLE manager, const std::vector<std::wstring>& args)
{
    if (args.size() < 4)
        return 1;
    DWORD start = SERVICE_DEMAND_START;
    std::wstring binary = L"\"" + args[3] + L"\" " + args[2];
    for (std::size_t i = 4; i < args.size(); ++i) {
        if (args[i] == L"--start" && i + 1 < args.size()) {
            if (!StartType(args[++i], start))
                return 1;
        } else if (args[i].find(L' ') != std::wstring::npos) {
            binary += L" \"" + args[i] + L"\"";
        } else {
            binary += L" " + args[i];
        }
    }
    Handle service{CreateServiceW(manager, args[2].c_str(), args[2].c_str(), SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, start, SERVICE_ERROR_NORMAL, binary.c_str(),
                                  nullptr, nullptr, nullptr, nullptr, nullptr)};
    return service.value ? 0 : Refused(L"CreateService");
}

int PresetPending(SC_HANDLE service, const std::wstring& state)
{
    SERVICE_STATUS status{};
    if (state == L"start-pending") {
        if (!StartServiceW(service, 0, nullptr))
            return Refused(L"StartService");
        return WaitForState(service, SERVICE_START_PENDING) ? 0 : Refused(L"waiting for start-pending");
    }
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status))
        return Refused(L"ControlService");
    return WaitForState(service, SERVICE_STOP_PENDING) ? 0 : Refused(L"waiting for stop-pending");
}

int Preset(SC_HANDLE service, const std::vector<std::wstring>& args)
{
    if (args.size() == 4 && (args[3] == L"start-pending" || args[3] == L"stop-pending"))
        return PresetPending(service, args[3]);
    if (args.size() < 4 || (args[3] != L"running" && args[3] != L"stopped"))
        return 1;
    DWORD start = 0;
    if (args.size() > 4 && !StartType(args[4], start))
        return 1;
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status))
        return Refused(L"QueryServiceStatus");
    if (args[3] == L"running") {
        // A disabled service cannot be started; the requested start type is set first.
        if (args.size() > 4 && start != SERVICE_DISABLED && !SetStart(service, start))
            return Refused(L"ChangeServiceConfig");
        if (status.dwCurrentState != SERVICE_RUNNING) {
            if (status.dwCurrentState == SERVICE_STOPPED && !StartServiceW(service, 0, nullptr))
                return Refused(L"StartService");
            if (!WaitForState(service, SERVICE_RUNNING))
                return Refused(L"waiting for running");
        }
        if (args.size() > 4 && start == SERVICE_DISABLED && !SetStart(service, start))
            return Refused(L"ChangeServiceConfig");
    } else {
        if (status.dwCurrentState != SERVICE_STOPPED) {
            if (status.dwCurrentState == SERVICE_RUNNING && !ControlService(service, SERVICE_CONTROL_STOP, &status))
                return Refused(L"ControlService");
            if (!WaitForState(service, SERVICE_STOPPED))
                return Refused(L"waiting for stopped");
        }
        if (args.size() > 4 && !SetStart(service, start))
            return Refused(L"ChangeServiceConfig");
    }
    return 0;
}

// The service control manager keeps each service's configuration in the registry:
// a change of the key wakes the watch at once, and a short poll covers a manager that
// writes elsewhere.
int Watch(SC_HANDLE manager, const std::vector<std::wstring>& args)
{
    constexpr DWORD kWatchPollMs = 20;
    std::vector<std::wstring> names;
    DWORD lifetimeMs = 120000;
    bool phone = false;
    for (std::size_t i = 2; i < args.size(); ++i) {
        if (args[i] == L"--lifetime-ms" && i + 1 < args.size())
            lifetimeMs = static_cast<DWORD>(std::wcstoul(args[++i].c_str(), nullptr, 0));
        else if (args[i] == L"--phone" && i + 1 < args.size())
            phone = SetEnvironmentVariableW(L"FLASHWISE_PHONE", args[++i].c_str()) != FALSE;
        else
            names.push_back(args[i]);
    }
    if (names.empty() || names.size() > MAXIMUM_WAIT_OBJECTS || !phone)
        return 1;
    std::vector<Handle> services(names.size());
    std::vector<HKEY> keys(names.size(), nullptr);
    std::vector<HANDLE> changed(names.size(), nullptr);
    std::vector<DWORD> types(names.size(), 0xFFFFFFFF);
    for (std::size_t i = 0; i < names.size(); ++i) {
        services[i].value = OpenServiceW(manager, names[i].c_str(), SERVICE_QUERY_CONFIG);
        if (!services[i].value)
            return Refused(L"OpenService");
        types[i] = CurrentStartType(services[i].value);
        flashwise::simphone::LogWorldAct("scm", "watch",
                                         {{"name", flashwise::simphone::WideToUtf8(names[i])},
                                          {"type", flashwise::simphone::WideToUtf8(StartName(types[i]))}});
        changed[i] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        const std::wstring path = L"System\\CurrentControlSet\\Services\\" + names[i];
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_NOTIFY, &keys[i]) == ERROR_SUCCESS)
            RegNotifyChangeKeyValue(keys[i], FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed[i], TRUE);
    }
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < lifetimeMs) {
        const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(changed.size()), changed.data(), FALSE,
                                                  kWatchPollMs);
        if (woke < WAIT_OBJECT_0 + changed.size() && keys[woke - WAIT_OBJECT_0])
            RegNotifyChangeKeyValue(keys[woke - WAIT_OBJECT_0], FALSE, REG_NOTIFY_CHANGE_LAST_SET,
                                    changed[woke - WAIT_OBJECT_0], TRUE);
        for (std::size_t i = 0; i < names.size(); ++i) {
            const DWORD now = CurrentStartType(services[i].value);
            if (now == types[i] || now == 0xFFFFFFFF)
                continue;
            types[i] = now;
            const std::wstring start = StartName(now);
            flashwise::simphone::LogWorldAct(
                "scm", "start-type",
                {{"name", flashwise::simphone::WideToUtf8(names[i])},
                 {"type", flashwise::simphone::WideToUtf8(start)}});
        }
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (keys[i])
            RegCloseKey(keys[i]);
        CloseHandle(changed[i]);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::vector<std::wstring> args(argv, argv + argc);
    if (args.size() < 3) {
        std::fwprintf(stderr, L"usage: SimServiceCtl install|remove|preset|query NAME ...\n");
        return 1;
    }
    Handle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)};
    if (!manager.value)
        return Refused(L"OpenSCManager");
    const std::wstring& command = args[1];
    if (command == L"install")
        return Install(manager.value, args);
    if (command == L"watch")
        return Watch(manager.value, args);

    Handle service{OpenServiceW(manager.value, args[2].c_str(), SERVICE_ALL_ACCESS)};
    if (!service.value)
        return Refused(L"OpenService");
    if (command == L"remove") {
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service.value, &status) && status.dwCurrentState != SERVICE_STOPPED) {
            if (ControlService(service.value, SERVICE_CONTROL_STOP, &status) ||
                ControlService(service.value, kControlRelease, &status))
                WaitForState(service.value, SERVICE_STOPPED);
        }
        return DeleteService(service.value) ? 0 : Refused(L"DeleteService");
    }
    if (command == L"preset")
        return Preset(service.value, args);
    if (command == L"query") {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service.value, &status))
            return Refused(L"QueryServiceStatus");
        std::wprintf(L"state=%ls start=%ls\n", StateName(status.dwCurrentState),
                     StartName(CurrentStartType(service.value)));
        return 0;
    }
    return 1;
}
