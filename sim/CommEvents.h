#pragma once
// The serial-port events the simulated device raises, with the bit values of the
// Windows event mask so an adapter can hand them on unchanged.

#include <cstdint>

namespace flashwise::sim {

constexpr std::uint32_t kEventRxChar = 0x0001;  // a character arrived
constexpr std::uint32_t kEventRxFlag = 0x0002;  // the event character arrived
constexpr std::uint32_t kEventCts = 0x0008;     // CTS changed
constexpr std::uint32_t kEventDsr = 0x0010;     // DSR changed
constexpr std::uint32_t kEventBreak = 0x0040;
constexpr std::uint32_t kEventError = 0x0080;

}  // namespace flashwise::sim
