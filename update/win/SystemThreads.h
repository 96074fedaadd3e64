#pragma once
// Kernel threads at normal priority with the default stack.

#include "update/Threads.h"

namespace flashwise::update {

class SystemThreads final : public Threads {
public:
    std::unique_ptr<Worker> Start(std::function<void()> body) override;
};

}  // namespace flashwise::update
