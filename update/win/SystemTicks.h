#pragma once
// The system's tick count and the thread's sleep.

#include "update/Ticks.h"

namespace flashwise::update {

class SystemTicks final : public Ticks {
public:
    std::uint32_t Now() override;
    void Sleep(std::uint32_t ms) override;
};

}  // namespace flashwise::update
