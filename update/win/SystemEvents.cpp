#include "update/win/SystemEvents.h"

#include <windows.h>

#include <string>

namespace flashwise::update {

WaitHandle SystemEvents::CreateNamed(std::u16string_view name, bool manualReset) {
    const std::wstring wide(name.begin(), name.end());
    return CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, wide.c_str());
}

WaitHandle SystemEvents::OpenNamed(std::u16string_view name) {
    const std::wstring wide(name.begin(), name.end());
    return OpenEventW(EVENT_ALL_ACCESS, FALSE, wide.c_str());
}

bool SystemEvents::Set(WaitHandle event) { return SetEvent(event) != FALSE; }

bool SystemEvents::Reset(WaitHandle event) { return ResetEvent(event) != FALSE; }

void SystemEvents::Close(WaitHandle event) { CloseHandle(event); }

}  // namespace flashwise::update
