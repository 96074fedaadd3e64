#pragma once
// Monotonic milliseconds, injectable so tests can let minutes pass without waiting.

#include <chrono>
#include <cstdint>
#include <functional>

namespace flashwise {

using ClockFn = std::function<std::uint64_t()>;

inline ClockFn RealClock() {
    return [] {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    };
}

}  // namespace flashwise
