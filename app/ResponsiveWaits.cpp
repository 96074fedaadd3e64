#include "app/ResponsiveWaits.h"

#include <memory>

namespace flashwise::app {

using update::Wake;
using update::WakeResult;

std::uint32_t Deadline::Remaining() const {
    const std::uint32_t elapsed = update::TicksSince(start_, ticks_.Now());
    return elapsed >= ms_ ? 0 : ms_ - elapsed;
}

WakeResult WaitBefore(update::UpdatePlatform& platform, const Deadline& deadline,
                      const std::vector<update::WaitHandle>& handles) {
    for (;;) {
        platform.waits.DispatchQueued();
        const std::uint32_t remaining = deadline.Remaining();
        if (remaining == 0) return {Wake::TimedOut, 0};
        const WakeResult woke = platform.waits.WaitForHandlesOrInput(handles, remaining);
        if (woke.wake != Wake::Input) return woke;
    }
}

void PauseResponsively(update::UpdatePlatform& platform, std::uint32_t ms) {
    const Deadline deadline(platform.ticks, ms);
    if (WaitBefore(platform, deadline, {}).wake == Wake::Failed) platform.ticks.Sleep(deadline.Remaining());
}

void RunResponsively(update::UpdatePlatform& platform, std::function<void()> job) {
    auto shared = std::make_shared<std::function<void()>>(std::move(job));
    const std::unique_ptr<update::Worker> worker = platform.threads.Start([shared] { (*shared)(); });
    if (!worker) {
        (*shared)();
        return;
    }
    update::WaitForFirstHandle(platform.waits, {worker->Handle()});
}

}  // namespace flashwise::app
