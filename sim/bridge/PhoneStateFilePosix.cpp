// The host build's reader: the phone's writers replace phone.ini by a rename, so a
// plain read sees one whole state or another. The host build keeps no world log: its
// programs never meet the Windows stand-ins that write it.
#include <fstream>
#include <iterator>

#include "sim/bridge/PhoneModeWatch.h"

namespace flashwise::bridge {

std::optional<std::string> ReadPhoneStateText(const std::string& folder) {
    std::ifstream in(folder + "/phone.ini", std::ios::binary);
    if (!in) return std::string();
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return text;
}

void LogBridgeOpen(const std::string&, const std::string&) {}

}  // namespace flashwise::bridge
