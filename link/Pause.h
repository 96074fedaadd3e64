#pragma once
// The protocol's fixed pauses go through one injectable function, so tests and the
// benchmark can run them as zero while the program sleeps for real.

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace flashwise {

using PauseFn = std::function<void(std::uint32_t milliseconds)>;

inline PauseFn RealPause() {
    return [](std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

}  // namespace flashwise
