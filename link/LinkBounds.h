#pragma once
// Limits that keep a vanished or silent boot loader from holding a link forever,
// chosen well above anything a healthy transfer needs.

#include <cstdint>

namespace flashwise {

// Serial link: attempts to open a device name, and the pause before each new pass.
constexpr int kSerialOpenAttemptLimit = 500;   // the 500th attempt is not made
constexpr std::uint32_t kSerialPassPauseMs = 1000;

// Empty reads (serial) or zero-length completions (WinUSB) within one Read, each
// followed by this pause; the read ends at the one that passes the limit.
constexpr int kEmptyReadLimit = 100;
constexpr std::uint32_t kEmptyReadPauseMs = 500;

// Serial event wait: a healthy port never fails it; a removed device fails it at once,
// every time. After this many failures in a row (with a pause between) the wait
// fails its operation: about 5 s.
constexpr int kEventWaitFailureLimit = 50;
constexpr std::uint32_t kEventWaitRetryPauseMs = 100;

// Serial port calls, each issued and then waited for with a bound. A removed device fails
// its calls at once; these only catch a device that is present but never answers. An
// event wait covers a boot loader that stays silent while it writes flash, so it gets the
// status loop's allowance; when it runs out, the wait is cancelled and fails, and every
// further wait fails at once until the host writes again, so the link's retries above add
// only their pauses (about 5 s). A read returns within the port's 5 s read time-out.
constexpr std::uint32_t kSerialEventWaitMs = 10u * 60 * 1000;
constexpr std::uint32_t kSerialReadWaitMs = 60u * 1000;
constexpr std::uint32_t kSerialWriteWaitMs = 2u * 60 * 1000;
// How long a cancelled call may take to end before the port is given up.
constexpr std::uint32_t kSerialCancelWaitMs = 30u * 1000;

// Status loop of SendSection: a unit fails when no progress record has arrived for this
// long since the data went out. Only a progress record restarts it: a boot loader that
// keeps sending other records (unknown result values, bytes without a start mark,
// shifted garbage) is no more getting on with the unit than a silent one, so it gets the
// same allowance the reads give a silent one (about ten minutes). A long flash write
// that keeps reporting progress is never cut short.
constexpr std::uint64_t kStatusProgressLimitMs = 10ull * 60 * 1000;

// WinUSB: the longest wait for one transfer to complete before it is cancelled and
// fails. A removed device completes its transfers with an error at once; these only
// catch a device that is present but has stopped answering. A read covers a boot loader
// that stays silent while it writes flash, so it gets the status loop's allowance.
constexpr std::uint32_t kBulkWriteWaitMs = 2u * 60 * 1000;
constexpr std::uint32_t kBulkReadWaitMs = 10u * 60 * 1000;
// How long a cancelled transfer may take to end before the device is given up, as on
// the serial port.
constexpr std::uint32_t kBulkCancelWaitMs = 30u * 1000;

// Fixed pauses of the protocol.
constexpr std::uint32_t kAnnouncePauseMs = 1000;
constexpr std::uint32_t kEndOfTransferPauseMs = 2000;

}  // namespace flashwise
