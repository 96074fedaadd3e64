#include "update/win/MessageWait.h"

#include <windows.h>

namespace flashwise::update {

void MessageWait::DispatchQueued() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        // A quit request must not end a wait that the update depends on; it is dropped.
        if (message.message == WM_QUIT) continue;
        DispatchMessageW(&message);
    }
}

WakeResult MessageWait::WaitForHandlesOrInput(const std::vector<WaitHandle>& handles, std::uint32_t timeoutMs) {
    const DWORD count = static_cast<DWORD>(handles.size());
    if (count >= MAXIMUM_WAIT_OBJECTS) return {Wake::Failed, 0};
    const DWORD result = MsgWaitForMultipleObjects(count, count ? handles.data() : nullptr, FALSE, timeoutMs,
                                                   QS_ALLINPUT);
    if (result < WAIT_OBJECT_0 + count) return {Wake::Handle, result - WAIT_OBJECT_0};
    if (result == WAIT_OBJECT_0 + count) return {Wake::Input, 0};
    if (result == WAIT_TIMEOUT) return {Wake::TimedOut, 0};
    return {Wake::Failed, 0};
}

}  // namespace flashwise::update
