#pragma once
// The simulated boot loader's interface follows the simulated phone, as a USB device
// enumerates when a phone restarts into its boot loader and goes when it leaves it:
// present while the phone's state says `mode=bootloader`, absent otherwise.

#include <cstdint>

namespace flashwise::bridge::routes {

// Sets the interface's presence from the phone's mode now and after every change,
// until `lifetimeMs` has passed (the world ends it earlier). Every presence it sets is
// noted in the world's log, the first one included: `usb interface present=1|0`.
// The exit code: 0 at the end of its lifetime, 1 when the presence cannot be set.
int FollowPhone(std::uint32_t lifetimeMs);

}  // namespace flashwise::bridge::routes
