// A tiny own-process service standing in for the device center's services
// ("WcesComm", "RapiMgr"). Its behaviour comes from its command line, which the
// service's binary path carries:
//
//   SimService.exe NAME [--start-delay-ms N] [--stop-delay-ms N] [--refuse-stop] [--phone FOLDER]
//
// The delays keep it in the start-pending or stop-pending state for that long (at most
// 120000 ms); --refuse-stop makes it accept no stop control. The control code 200
// lets a refusing service go (SimServiceCtl's remove sends it), so that tests can
// clean up after it. With --phone it is a service of the desktop of the simulated
// phone in FOLDER: each state it enters goes into the phone's state before the service
// control manager hears of it (from its start until it has stopped it holds the
// phone's device, sim/phone/DesktopLink.h), and its start, every stop request and
// every state go into the world's log.

#include <windows.h>

#include <cwchar>
#include <string>

#include "sim/phone/DesktopLink.h"
#include "sim/phone/win/PhoneStore.h"
#include "sim/phone/win/WorldLogFile.h"

using namespace flashwise::simphone;

namespace {

constexpr DWORD kDelayLimitMs = 120000;
constexpr DWORD kControlRelease = 200;

std::wstring g_name;
DWORD g_startDelayMs = 0;
DWORD g_stopDelayMs = 0;
volatile bool g_refuseStop = false;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_stopRequested = nullptr;
bool g_phone = false;

std::string Name()
{
    return WideToUtf8(g_name);
}

void KeepState(DWORD state)
{
    if (!g_phone)
        return;
    const ServiceState kept = state == SERVICE_START_PENDING ? ServiceState::StartPending
                              : state == SERVICE_RUNNING     ? ServiceState::Running
                              : state == SERVICE_STOP_PENDING ? ServiceState::StopPending
                                                              : ServiceState::Stopped;
    {
        PhoneStore store;
        if (store.Ok() && SetServiceState(store.Document(), Name(), kept))
            store.Save();
    }
    LogWorldAct("service", "state", {{"name", Name()}, {"state", ServiceStateName(kept)}});
}

void Report(DWORD state, DWORD waitHintMs = 0)
{
    KeepState(state);
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted = (state == SERVICE_RUNNING && !g_refuseStop) ? SERVICE_ACCEPT_STOP : 0;
    g_status.dwWin32ExitCode = NO_ERROR;
    g_status.dwWaitHint = waitHintMs;
    if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING)
        ++g_status.dwCheckPoint;
    else
        g_status.dwCheckPoint = 0;
    SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        if (g_phone)
            LogWorldAct("service", "stop", {{"name", Name()}, {"refused", g_refuseStop ? "1" : "0"}});
        if (g_refuseStop)
            return ERROR_CALL_NOT_IMPLEMENTED;
        Report(SERVICE_STOP_PENDING, g_stopDelayMs);
        SetEvent(g_stopRequested);
        return NO_ERROR;
    case kControlRelease:
        g_refuseStop = false;
        Report(SERVICE_STOP_PENDING, g_stopDelayMs);
        SetEvent(g_stopRequested);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(g_name.c_str(), Handler, nullptr);
    if (g_statusHandle == nullptr)
        return;
    g_stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_phone)
        LogWorldAct("service", "start", {{"name", Name()}});
    Report(SERVICE_START_PENDING, g_startDelayMs);
    Sleep(g_startDelayMs);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stopRequested, INFINITE);
    Sleep(g_stopDelayMs);
    Report(SERVICE_STOPPED);
}

DWORD Delay(const wchar_t* text)
{
    const unsigned long value = std::wcstoul(text, nullptr, 0);
    return value < kDelayLimitMs ? static_cast<DWORD>(value) : kDelayLimitMs;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 1;
    g_name = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--start-delay-ms" && i + 1 < argc)
            g_startDelayMs = Delay(argv[++i]);
        else if (option == L"--stop-delay-ms" && i + 1 < argc)
            g_stopDelayMs = Delay(argv[++i]);
        else if (option == L"--refuse-stop")
            g_refuseStop = true;
        else if (option == L"--phone" && i + 1 < argc)
            g_phone = SetEnvironmentVariableW(L"FLASHWISE_PHONE", argv[++i]) != FALSE;
        else
            return 1;
    }
    SERVICE_TABLE_ENTRYW table[] = {{&g_name[0], ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 2;
}
