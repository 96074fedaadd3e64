#pragma once
// Whether the simulated boot loader is there, following the simulated phone: the
// device counts as unplugged until the phone's state file says `mode=bootloader`, and
// as present from then on (a phone that has restarted into its boot loader stays there
// for the rest of a test). The state is re-read on each look until then.

#include <optional>
#include <string>
#include <utility>

namespace flashwise::bridge {

// The text of FOLDER/phone.ini, read the way the phone's own processes share it.
// Nullopt when it cannot be read now (a missing file is an empty text: every default).
std::optional<std::string> ReadPhoneStateText(const std::string& folder);

// True when the text is a readable phone state whose mode is `bootloader`.
bool PhoneStateSaysBootLoader(const std::string& text);

class PhoneModeWatch {
public:
    explicit PhoneModeWatch(std::string folder) : folder_(std::move(folder)) {}
    bool BootLoaderPresent();

private:
    std::string folder_;
    bool present_ = false;
};

}  // namespace flashwise::bridge
