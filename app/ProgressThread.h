#pragma once
// The progress thread of an update: one step of the progress bar every 8 seconds, so
// the bar (range 0 to 100) is full after 800 seconds and stays full. It shows time, not
// the download's own fraction. It runs through both passes of an update and ends only
// when the update sequence stops it, on every way out of the sequence; the end of the
// boot-loader pass does not end it.

#include <atomic>
#include <cstdint>
#include <memory>

#include "app/WizardSystem.h"
#include "update/Threads.h"
#include "update/WorkerParameterBlock.h"

namespace flashwise::app {

constexpr std::uint32_t kProgressTickMs = 1000;
constexpr unsigned kTicksPerStep = 8;
constexpr unsigned kFullProgress = 100;

struct ProgressBlock {
    update::WorkerParameterBlock block;  // its progress window is the bar
    WizardSystem* system = nullptr;
    update::Ticks* ticks = nullptr;
    std::atomic<bool> stop{false};
};

// The thread's body.
void RunProgressThread(ProgressBlock& progress);

class ProgressThread {
public:
    // Null when the thread cannot be started.
    static std::unique_ptr<ProgressThread> Start(update::UpdatePlatform& platform, WizardSystem& system,
                                                 WindowRef bar);
    // Stops and waits for the end, answering the page meanwhile.
    ~ProgressThread();

    // Asks it to end; it does within one tick.
    void Stop() { block_->stop = true; }
    // Waits for its end, answering the page meanwhile.
    void Join();

private:
    ProgressThread(update::UpdatePlatform& platform, std::shared_ptr<ProgressBlock> block,
                   std::unique_ptr<update::Worker> worker)
        : platform_(platform), block_(std::move(block)), worker_(std::move(worker)) {}

    update::UpdatePlatform& platform_;
    std::shared_ptr<ProgressBlock> block_;
    std::unique_ptr<update::Worker> worker_;
};

}  // namespace flashwise::app
