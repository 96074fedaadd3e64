#include "sim/bridge/PhoneModeWatch.h"

#include "sim/phone/IniDocument.h"
#include "sim/phone/PhoneSettings.h"

namespace flashwise::bridge {

bool PhoneStateSaysBootLoader(const std::string& text) {
    const auto document = simphone::IniDocument::Parse(text);
    if (!document) return false;
    const auto settings = simphone::ReadPhoneSettings(*document);
    return settings && settings->inBootLoader;
}

bool PhoneModeWatch::BootLoaderPresent() {
    if (present_) return true;
    const auto text = ReadPhoneStateText(folder_);
    present_ = text && PhoneStateSaysBootLoader(*text);
    return present_;
}

}  // namespace flashwise::bridge
