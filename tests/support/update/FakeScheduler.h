#pragma once
// Worker threads on the fake clock, in lockstep. Each worker is a real thread, but only
// one thread runs at a time: the test's own thread (the user-interface thread) until it
// waits or sleeps, then every worker that can run, one after the other, until each
// sleeps, blocks or ends. Time moves only when nothing can run: the clock jumps to the
// next thing that will happen (a sleeper's wake, a timer, a wait's deadline). So a test
// sees the interleaving of a page and its workers exactly, at any pace of the machine.
//
// At the end, workers still parked (blocked for ever, or asleep in a loop) are unwound:
// the call they are parked in throws, and their destructors run.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "update/Threads.h"
#include "update/Waits.h"

namespace flashwise::test {

class CallLog;
class FakeTicks;
struct FakeWaitable;

class FakeScheduler {
public:
    FakeScheduler(FakeTicks& ticks, CallLog& log);
    ~FakeScheduler();
    FakeScheduler(const FakeScheduler&) = delete;
    FakeScheduler& operator=(const FakeScheduler&) = delete;

    // ---- for the fakes

    std::unique_ptr<update::Worker> Start(std::function<void()> body);
    bool OnUiThread() const { return std::this_thread::get_id() == uiThread_; }
    // A worker parks until the clock has moved `ms` on; the user-interface thread lets the
    // clock move `ms` on, running what falls due meanwhile.
    void Sleep(std::uint32_t ms);
    // A worker parks until `ready` holds.
    void BlockUntil(std::function<bool()> ready);
    // The first of `handles` signalled within `timeoutMs`; `input` also wakes for input
    // (user-interface thread only). Wake::Failed when nothing can ever happen, or when a
    // wait without end has lasted two hours of the clock.
    update::WakeResult Wait(const std::vector<update::WaitHandle>& handles, std::uint32_t timeoutMs, bool input);
    // The dispatch of queued messages consumes the input that was waiting.
    void ConsumeInput() { inputPending_ = false; }

    // ---- for tests

    // `action` runs on the user-interface thread `delayMs` from now; a period repeats it.
    void At(std::uint32_t delayMs, std::function<void()> action, std::uint32_t periodMs = 0);
    // Input arrives every `periodMs` for the next `forMs`.
    void InputStorm(std::uint32_t periodMs, std::uint32_t forMs);
    // Runs the workers and the clock until nothing is left to happen, at most `limitMs`.
    void RunUntilIdle(std::uint32_t limitMs = 24u * 3600u * 1000u);
    // Workers started and not yet ended.
    int Alive() const;

private:
    struct Abandoned {};
    static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
    static constexpr std::uint64_t kHopelessWaitMs = 2u * 3600u * 1000u;

    struct Task {
        std::thread thread;
        std::function<void()> body;
        std::function<bool()> ready;  // parked until it holds (or until wakeAt)
        std::uint64_t wakeAt = kNever;
        bool parked = false;
        bool done = false;
        std::shared_ptr<FakeWaitable> end;
    };
    struct Timer {
        std::uint64_t due;
        std::uint32_t period;
        std::uint64_t until;
        std::function<void()> action;
    };

    void Entry(std::size_t index);
    void Park(std::size_t index);
    std::size_t CurrentTask() const;
    bool Runnable(Task& task) const;
    void RunRunnable();
    void RunTask(std::size_t index);
    std::uint64_t NextEvent() const;
    void AdvanceTo(std::uint64_t when);

    FakeTicks& ticks_;
    CallLog& log_;
    std::thread::id uiThread_;
    std::uint64_t now_ = 0;
    bool inputPending_ = false;
    std::vector<Timer> timers_;

    mutable std::mutex lock_;
    std::condition_variable turn_;
    static constexpr std::size_t kUi = static_cast<std::size_t>(-1);
    std::size_t running_ = kUi;  // who holds the baton
    bool abandon_ = false;
    std::vector<std::unique_ptr<Task>> tasks_;
};

}  // namespace flashwise::test
