#pragma once
// The pages' waits on the user-interface thread. None of them blocks without also
// waking for input: what is queued is dispatched, and a wait that input woke goes on
// towards the same deadline, so no amount of input postpones its end.

#include <cstdint>
#include <functional>
#include <vector>

#include "update/UpdatePlatform.h"

namespace flashwise::app {

// A point on the tick clock, `ms` from when it is made. A wrap of the count does no harm.
class Deadline {
public:
    Deadline(update::Ticks& ticks, std::uint32_t ms) : ticks_(ticks), start_(ticks.Now()), ms_(ms) {}
    std::uint32_t Remaining() const;
    bool Passed() const { return Remaining() == 0; }

private:
    update::Ticks& ticks_;
    std::uint32_t start_;
    std::uint32_t ms_;
};

// Dispatches, waits for the first of `handles` or input, dispatches the input and waits
// again, until a handle is signalled (Wake::Handle), the deadline passes
// (Wake::TimedOut) or the wait cannot be made (Wake::Failed).
update::WakeResult WaitBefore(update::UpdatePlatform& platform, const Deadline& deadline,
                              const std::vector<update::WaitHandle>& handles);

// A pause of `ms` during which the page keeps answering.
void PauseResponsively(update::UpdatePlatform& platform, std::uint32_t ms);

// Runs `job` on a worker thread while this thread keeps dispatching, and returns when it
// has ended (at once, on this thread, when no thread can be started). What the job uses
// must be its own (captured by value or shared): the wait for it cannot be bounded.
void RunResponsively(update::UpdatePlatform& platform, std::function<void()> job);

}  // namespace flashwise::app
