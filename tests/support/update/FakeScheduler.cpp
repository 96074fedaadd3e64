#include "tests/support/update/FakeScheduler.h"

#include <algorithm>
#include <exception>

#include "tests/support/update/FakeUpdatePlatform.h"

namespace flashwise::test {

using update::Wake;
using update::WakeResult;
using update::WaitHandle;

namespace {

class ScheduledWorker : public update::Worker {
public:
    ScheduledWorker(CallLog& log, std::shared_ptr<FakeWaitable> end) : log_(log), end_(std::move(end)) {}
    ~ScheduledWorker() override { log_.Add("thread handle closed"); }
    WaitHandle Handle() const override { return end_.get(); }

private:
    CallLog& log_;
    std::shared_ptr<FakeWaitable> end_;
};

int FirstSignalled(const std::vector<WaitHandle>& handles) {
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (static_cast<FakeWaitable*>(handles[i])->signalled) return static_cast<int>(i);
    }
    return -1;
}

// The first signalled handle ends the wait, taking an auto-reset event's signal.
WakeResult Woken(const std::vector<WaitHandle>& handles, int first) {
    static_cast<FakeWaitable*>(handles[static_cast<std::size_t>(first)])->Taken();
    return {Wake::Handle, static_cast<std::size_t>(first)};
}

}  // namespace

FakeScheduler::FakeScheduler(FakeTicks& ticks, CallLog& log)
    : ticks_(ticks), log_(log), uiThread_(std::this_thread::get_id()) {}

FakeScheduler::~FakeScheduler() {
    // One at a time, as they ran: each parked worker unwinds from where it is parked.
    {
        std::unique_lock<std::mutex> hold(lock_);
        abandon_ = true;
    }
    for (std::size_t i = 0; i < tasks_.size(); ++i) {
        if (!tasks_[i]->done) RunTask(i);
    }
    for (auto& task : tasks_) task->thread.join();
}

std::unique_ptr<update::Worker> FakeScheduler::Start(std::function<void()> body) {
    log_.Add("thread start");
    auto task = std::make_unique<Task>();
    task->body = std::move(body);
    task->end = std::make_shared<FakeWaitable>(FakeWaitable{"thread"});
    auto end = task->end;
    const std::size_t index = tasks_.size();
    {
        std::lock_guard<std::mutex> hold(lock_);
        tasks_.push_back(std::move(task));
    }
    tasks_[index]->thread = std::thread([this, index] { Entry(index); });
    // It runs when the thread that started it waits or sleeps.
    return std::make_unique<ScheduledWorker>(log_, end);
}

void FakeScheduler::Entry(std::size_t index) {
    {
        std::unique_lock<std::mutex> hold(lock_);
        turn_.wait(hold, [&] { return running_ == index; });
    }
    Task& task = *tasks_[index];
    if (!abandon_) {
        try {
            task.body();
        } catch (const Abandoned&) {
        }
    }
    task.body = nullptr;  // what it held goes now, while it still has the turn
    log_.Add("thread end");
    std::lock_guard<std::mutex> hold(lock_);
    task.done = true;
    task.end->signalled = true;
    running_ = kUi;
    turn_.notify_all();
}

std::size_t FakeScheduler::CurrentTask() const {
    std::lock_guard<std::mutex> hold(lock_);
    return running_;
}

void FakeScheduler::Park(std::size_t index) {
    Task& task = *tasks_[index];
    std::unique_lock<std::mutex> hold(lock_);
    // Unwinding: a destructor that waits must not park again, or nobody would end it.
    if (abandon_) {
        if (std::uncaught_exceptions() == 0) throw Abandoned{};
        return;
    }
    task.parked = true;
    running_ = kUi;
    turn_.notify_all();
    turn_.wait(hold, [&] { return running_ == index; });
    task.parked = false;
    task.ready = nullptr;
    task.wakeAt = kNever;
    if (abandon_ && std::uncaught_exceptions() == 0) throw Abandoned{};
}

bool FakeScheduler::Runnable(Task& task) const {
    if (task.done || !task.parked) return !task.done;
    if (task.wakeAt != kNever && now_ >= task.wakeAt) return true;
    return task.ready && task.ready();
}

void FakeScheduler::RunTask(std::size_t index) {
    std::unique_lock<std::mutex> hold(lock_);
    running_ = index;
    turn_.notify_all();
    turn_.wait(hold, [&] { return running_ == kUi; });
}

void FakeScheduler::RunRunnable() {
    for (bool ran = true; ran;) {
        ran = false;
        for (std::size_t i = 0; i < tasks_.size(); ++i) {
            if (!Runnable(*tasks_[i])) continue;
            RunTask(i);
            ran = true;
            break;  // the earliest started first, again
        }
    }
}

std::uint64_t FakeScheduler::NextEvent() const {
    std::uint64_t next = kNever;
    for (const auto& task : tasks_) {
        if (!task->done && task->parked) next = std::min(next, task->wakeAt);
    }
    for (const Timer& timer : timers_) next = std::min(next, timer.due);
    return next;
}

void FakeScheduler::AdvanceTo(std::uint64_t when) {
    if (when > now_) {
        ticks_.Advance(static_cast<std::uint32_t>(when - now_));
        now_ = when;
    }
    // Timers due by now fire in order; a periodic one comes back.
    for (;;) {
        auto due = std::min_element(timers_.begin(), timers_.end(),
                                    [](const Timer& a, const Timer& b) { return a.due < b.due; });
        if (due == timers_.end() || due->due > now_) return;
        Timer timer = *due;
        timers_.erase(due);
        if (timer.period != 0 && timer.due + timer.period <= timer.until) {
            timers_.push_back(Timer{timer.due + timer.period, timer.period, timer.until, timer.action});
        }
        timer.action();
    }
}

void FakeScheduler::Sleep(std::uint32_t ms) {
    const std::size_t me = CurrentTask();
    if (me != kUi) {
        tasks_[me]->wakeAt = now_ + ms;
        Park(me);
        return;
    }
    const std::uint64_t target = now_ + ms;
    for (;;) {
        RunRunnable();
        const std::uint64_t next = NextEvent();
        if (next > target) break;
        AdvanceTo(next);
    }
    AdvanceTo(target);
}

void FakeScheduler::BlockUntil(std::function<bool()> ready) {
    const std::size_t me = CurrentTask();
    if (me == kUi) return;  // the only thread: nothing else could make it true
    tasks_[me]->ready = std::move(ready);
    Park(me);
}

WakeResult FakeScheduler::Wait(const std::vector<WaitHandle>& handles, std::uint32_t timeoutMs, bool input) {
    const std::uint64_t deadline = timeoutMs == update::kWaitForever ? kNever : now_ + timeoutMs;
    // A wait without end that outlasts every update a test makes (a worker ticking away
    // meanwhile) is one nothing will end.
    const std::uint64_t hopeless = now_ + kHopelessWaitMs;
    const std::size_t me = CurrentTask();
    if (me != kUi) {
        if (FirstSignalled(handles) < 0) {
            tasks_[me]->ready = [&handles] { return FirstSignalled(handles) >= 0; };
            tasks_[me]->wakeAt = deadline;
            Park(me);
        }
        const int first = FirstSignalled(handles);
        return first >= 0 ? Woken(handles, first) : WakeResult{Wake::TimedOut, 0};
    }
    for (;;) {
        RunRunnable();
        const int first = FirstSignalled(handles);
        if (first >= 0) return Woken(handles, first);
        if (input && inputPending_) {
            inputPending_ = false;
            return {Wake::Input, 0};
        }
        const std::uint64_t next = NextEvent();
        if (deadline == kNever && next > hopeless) return {Wake::Failed, 0};
        if (next >= deadline) {
            if (deadline == kNever) return {Wake::Failed, 0};
            AdvanceTo(deadline);
            return {Wake::TimedOut, 0};
        }
        AdvanceTo(next);
    }
}

void FakeScheduler::At(std::uint32_t delayMs, std::function<void()> action, std::uint32_t periodMs) {
    timers_.push_back(Timer{now_ + delayMs, periodMs, kNever, std::move(action)});
}

void FakeScheduler::InputStorm(std::uint32_t periodMs, std::uint32_t forMs) {
    timers_.push_back(Timer{now_ + periodMs, periodMs, now_ + forMs, [this] { inputPending_ = true; }});
}

void FakeScheduler::RunUntilIdle(std::uint32_t limitMs) {
    const std::uint64_t limit = now_ + limitMs;
    for (;;) {
        RunRunnable();
        const std::uint64_t next = NextEvent();
        if (next > limit) return;
        AdvanceTo(next);
    }
}

int FakeScheduler::Alive() const {
    int alive = 0;
    for (const auto& task : tasks_) alive += task->done ? 0 : 1;
    return alive;
}

}  // namespace flashwise::test
