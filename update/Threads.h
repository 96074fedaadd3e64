#pragma once
// Worker threads of the update. A worker's parameter block is shared between the
// thread and whoever started it, so it lives until the last of them lets go: a page
// that stops waiting early can never leave a running worker with a block that is gone.

#include <functional>
#include <memory>
#include <utility>

#include "update/Waits.h"

namespace flashwise::update {

class Worker {
public:
    // Letting go of the worker lets the thread run on.
    virtual ~Worker() = default;
    // Signalled when the thread has ended.
    virtual WaitHandle Handle() const = 0;
};

class Threads {
public:
    virtual ~Threads() = default;
    // A thread at normal priority running `body`; null when it cannot be started.
    virtual std::unique_ptr<Worker> Start(std::function<void()> body) = 0;
};

template <typename Block>
std::unique_ptr<Worker> StartWorker(Threads& threads, std::shared_ptr<Block> block, void (*body)(Block&)) {
    return threads.Start([block = std::move(block), body] { body(*block); });
}

}  // namespace flashwise::update
