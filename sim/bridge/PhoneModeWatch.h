#pragma once
// Whether the simulated boot loader can be opened, following the simulated phone and
// its desktop: the device is there only while the phone's state file says
// `mode=bootloader`, and it can be opened only while the desktop's synchronisation
// software does not hold the phone's USB device (sim/phone/DesktopLink.h). The state is
// re-read on every open; a connection already open is not affected.

#include <optional>
#include <string>
#include <utility>

namespace flashwise::bridge {

// The text of FOLDER/phone.ini, read the way the phone's own processes share it.
// Nullopt when it cannot be read now (a missing file is an empty text: every default).
std::optional<std::string> ReadPhoneStateText(const std::string& folder);

// Notes an open the bridge allowed (empty reason) or refused in the world's log of the
// phone in FOLDER, where the log's writers have one (under Wine).
void LogBridgeOpen(const std::string& folder, const std::string& refusal);

// Why a host's open fails for this phone state; empty when it succeeds.
std::string PhoneStateRefusal(const std::string& text);

class PhoneModeWatch {
public:
    explicit PhoneModeWatch(std::string folder) : folder_(std::move(folder)) {}
    // Re-reads the phone's state: why an open fails now, or empty when it succeeds.
    std::string OpenRefusal();

private:
    std::string folder_;
};

}  // namespace flashwise::bridge
