#pragma once
// The two ways the program reaches the phone, chosen from the Windows version.
// The choice is never stored: every user reads the version again and applies the
// same rule, so all of them agree on one machine.

#include <cstdint>

namespace flashwise::app {

enum class PlatformPath {
    Xp,     // USB serial host device, the older synchronisation software
    Vista,  // WinUSB, the newer synchronisation software
};

constexpr std::uint32_t kFirstVistaMajorVersion = 6;

// `packedVersion` is the value the system packs its version into; the major
// version is its low byte.
constexpr PlatformPath PlatformPathFromVersion(std::uint32_t packedVersion) {
    return (packedVersion & 0xFFu) < kFirstVistaMajorVersion ? PlatformPath::Xp : PlatformPath::Vista;
}

}  // namespace flashwise::app
