#include "app/ProgressThread.h"

#include <algorithm>

namespace flashwise::app {

void RunProgressThread(ProgressBlock& progress) {
    unsigned ticks = 0;
    unsigned steps = 0;
    while (!progress.stop) {
        ++ticks;
        if (ticks % kTicksPerStep == 0 && steps < kFullProgress) {
            ++steps;
            progress.system->SetProgressPosition(progress.block.progress, steps);
        }
        progress.ticks->Sleep(kProgressTickMs);
    }
}

std::unique_ptr<ProgressThread> ProgressThread::Start(update::UpdatePlatform& platform, WizardSystem& system,
                                                      WindowRef bar) {
    auto block = std::make_shared<ProgressBlock>();
    block->block.progress = bar;
    block->system = &system;
    block->ticks = &platform.ticks;
    std::unique_ptr<update::Worker> worker = update::StartWorker(platform.threads, block, &RunProgressThread);
    if (!worker) return nullptr;
    return std::unique_ptr<ProgressThread>(new ProgressThread(platform, std::move(block), std::move(worker)));
}

ProgressThread::~ProgressThread() {
    Stop();
    Join();
}

void ProgressThread::Join() {
    if (!worker_) return;
    // The thread sends the bar its position: this wait serves that while it lasts.
    update::WaitForFirstHandle(platform_.waits, {worker_->Handle()});
    worker_.reset();
}

}  // namespace flashwise::app
