#include "sim/bridge/PhoneModeWatch.h"

#include "sim/phone/IniDocument.h"
#include "sim/phone/PhoneSettings.h"

namespace flashwise::bridge {

std::string PhoneStateRefusal(const std::string& text) {
    const auto document = simphone::IniDocument::Parse(text);
    const auto settings = document ? simphone::ReadPhoneSettings(*document) : std::nullopt;
    if (!settings) return "no device: the phone's state cannot be read";
    if (!settings->inBootLoader) return "no device: the phone is not in its boot loader";
    if (settings->desktop.HoldsPhone()) return "in use: the desktop's synchronisation software holds the device";
    return {};
}

std::string PhoneModeWatch::OpenRefusal() {
    const auto text = ReadPhoneStateText(folder_);
    const std::string refusal = text ? PhoneStateRefusal(*text) : "no device: the phone's state cannot be read";
    LogBridgeOpen(folder_, refusal);
    return refusal;
}

}  // namespace flashwise::bridge
