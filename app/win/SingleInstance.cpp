#include "app/win/SingleInstance.h"

#include <windows.h>

namespace flashwise::app {
namespace {

constexpr wchar_t kInstanceMutex[] = L"Flashwise.Wizard";
// Where the running copy leaves its process id for a later copy to find its windows.
constexpr wchar_t kInstanceRecord[] = L"Flashwise.Wizard.Process";

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK Consider(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process || !IsWindowVisible(window)) return TRUE;
    // A page behind its own message box is disabled; the box is what the user must answer.
    if (search->found == nullptr || IsWindowEnabled(window)) search->found = window;
    return IsWindowEnabled(window) ? FALSE : TRUE;
}

}  // namespace

bool ClaimSingleInstance() {
    // Both live as long as the process: the system closes them when it ends, however it ends.
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutex);
    if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return false;
    const HANDLE record =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD), kInstanceRecord);
    if (record != nullptr) {
        if (auto* process = static_cast<DWORD*>(MapViewOfFile(record, FILE_MAP_WRITE, 0, 0, sizeof(DWORD)))) {
            *process = GetCurrentProcessId();
            UnmapViewOfFile(process);
        }
    }
    return true;
}

void BringRunningCopyForward() {
    const HANDLE record = OpenFileMappingW(FILE_MAP_READ, FALSE, kInstanceRecord);
    if (record == nullptr) return;
    Search search{0, nullptr};
    if (const auto* process = static_cast<const DWORD*>(MapViewOfFile(record, FILE_MAP_READ, 0, 0, sizeof(DWORD)))) {
        search.process = *process;
        UnmapViewOfFile(process);
    }
    CloseHandle(record);
    if (search.process == 0) return;
    EnumWindows(&Consider, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) return;
    if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
    SetForegroundWindow(search.found);
}

}  // namespace flashwise::app
