// Stand-in for the synchronisation software's connection manager: a hidden top-level
// window of the class "DccMan Class" that appends the long parameter of every
// message 0x432 to a log file, one decimal number a line, and answers a preset value.
//
//   SimDccMan.exe [--answer N] [--log FILE] [--lifetime-ms N] [--phone FOLDER [--types N]]
//
// With --phone it is the connection manager of the simulated phone in FOLDER: it keeps
// its connection types (N at the start, default 10: serial and USB) in the phone's
// state, where the boot-loader route and the Remote API double see whether it holds
// the phone's USB device (sim/phone/DesktopLink.h), and it logs its start, every
// message 0x432 and its end in the world's log. A message it answers with a non-zero
// value switches nothing. It ends on WM_CLOSE or when its lifetime (default 120000 ms)
// is over; its connections end with it.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "sim/phone/DesktopLink.h"
#include "sim/phone/win/PhoneStore.h"
#include "sim/phone/win/WorldLogFile.h"

using namespace flashwise::simphone;

namespace {

constexpr UINT kMessageEnableTypes = 0x432;
constexpr UINT_PTR kLifetimeTimer = 1;

LRESULT g_answer = 0;
std::wstring g_log;
bool g_phone = false;

// The connection types go into the phone's state before the message is answered, so
// that whoever sent it finds them switched once it returns.
void KeepTypes(const char* act, DWORD types)
{
    if (!g_phone)
        return;
    {
        PhoneStore store;
        if (store.Ok()) {
            SetConnectionTypes(store.Document(), types);
            store.Save();
        }
    }
    LogWorldAct("dccman", act, {{"types", std::to_string(types)}, {"answer", std::to_string(g_answer)}});
}

void Record(LPARAM types)
{
    if (g_log.empty())
        return;
    HANDLE file = CreateFileW(g_log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char line[32];
    const int length = std::snprintf(line, sizeof line, "%ld\n", static_cast<long>(types));
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kMessageEnableTypes:
        Record(lParam);
        if (g_answer == 0)
            KeepTypes("message-0x432", static_cast<DWORD>(lParam));
        else if (g_phone)
            LogWorldAct("dccman", "message-0x432",
                        {{"types", std::to_string(lParam)}, {"answer", std::to_string(g_answer)}});
        return g_answer;
    case WM_TIMER:
        if (wParam == kLifetimeTimer)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    UINT lifetimeMs = 120000;
    DWORD types = 2 | kConnectionTypeUsb;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        if (option == L"--answer")
            g_answer = static_cast<LRESULT>(std::wcstol(argv[i + 1], nullptr, 0));
        else if (option == L"--log")
            g_log = argv[i + 1];
        else if (option == L"--lifetime-ms")
            lifetimeMs = static_cast<UINT>(std::wcstoul(argv[i + 1], nullptr, 0));
        else if (option == L"--phone")
            g_phone = SetEnvironmentVariableW(L"FLASHWISE_PHONE", argv[i + 1]) != FALSE;
        else if (option == L"--types")
            types = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 0));
        else {
            std::fwprintf(stderr, L"unknown option %ls\n", option.c_str());
            return 1;
        }
    }
    if (argc % 2 == 0) {
        std::fwprintf(stderr, L"option without a value\n");
        return 1;
    }

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"DccMan Class";
    if (!RegisterClassW(&windowClass))
        return 2;
    HWND window = CreateWindowExW(0, L"DccMan Class", L"DccMan", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr)
        return 2;
    SetTimer(window, kLifetimeTimer, lifetimeMs, nullptr);
    KeepTypes("start", types);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    KeepTypes("end", 0);
    return 0;
}
