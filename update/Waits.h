#pragma once
// Waiting on the user-interface thread: it never blocks without also waking for input.
// Every wait first removes and dispatches what is queued, then sleeps until one of its
// handles is signalled or new input arrives. The Windows adapter is update/win/MessageWait.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace flashwise::update {

using WaitHandle = void*;    // an event or a thread
using WindowRef = void*;     // a window of the user interface; null for none

constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

enum class WaitOutcome { Signalled, TimedOut, Failed };

enum class Wake {
    Handle,    // `index` names the first signalled handle, in the order given
    Input,     // something new arrived for the thread
    TimedOut,
    Failed,
};

struct WakeResult {
    Wake wake = Wake::Failed;
    std::size_t index = 0;
};

class UiWaits {
public:
    virtual ~UiWaits() = default;
    // Removes every message queued for the thread and dispatches it; a quit request is
    // removed and dropped, so no wait can be ended by one.
    virtual void DispatchQueued() = 0;
    // Waits for the first of `handles` or for any new input, at most `timeoutMs`.
    virtual WakeResult WaitForHandlesOrInput(const std::vector<WaitHandle>& handles, std::uint32_t timeoutMs) = 0;
};

// Dispatches and waits, round after round, until one of `handles` is signalled; returns
// its index, or handles.size() when the wait itself fails.
std::size_t WaitForFirstHandle(UiWaits& waits, const std::vector<WaitHandle>& handles);

}  // namespace flashwise::update
