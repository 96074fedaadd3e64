#include "app/win/Win32SessionHold.h"

#include <atomic>

#include "app/win/PackageMessage.h"
#include "res/ResourceIds.h"

namespace flashwise::app {
namespace {

std::atomic<bool> g_refusing{false};

// Windows before Vista has no block reasons: they are looked up, not linked.
using ReasonCreate = BOOL(WINAPI*)(HWND, LPCWSTR);
using ReasonDestroy = BOOL(WINAPI*)(HWND);

FARPROC User32Function(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 != nullptr ? GetProcAddress(user32, name) : nullptr;
}

}  // namespace

Win32SessionHold::Win32SessionHold(HWND page) : page_(page) {
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    g_refusing = true;
    if (auto create = reinterpret_cast<ReasonCreate>(User32Function("ShutdownBlockReasonCreate"))) {
        // The reason the user reads is the one the page shows while the phone is written.
        reasonGiven_ = create(page_, PackageText(IDS_DO_NOT_REMOVE_CABLE).c_str()) != FALSE;
    }
}

Win32SessionHold::~Win32SessionHold() {
    if (reasonGiven_) {
        if (auto destroy = reinterpret_cast<ReasonDestroy>(User32Function("ShutdownBlockReasonDestroy"))) {
            destroy(page_);
        }
    }
    g_refusing = false;
    SetThreadExecutionState(ES_CONTINUOUS);
}

bool Win32SessionHold::Refusing() { return g_refusing; }

}  // namespace flashwise::app
