#include "helpers/wcestest/ConnectionSwitch.h"

namespace flashwise::wcestest {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitBadCommandLine = 1;
constexpr int kExitManagerFailed = 2;

SwitchRequest Error(const char* reason)
{
    SwitchRequest request;
    request.kind = SwitchRequest::Kind::Error;
    request.reason = reason;
    return request;
}

}  // namespace

SwitchRequest ParseArguments(const std::vector<std::string>& args)
{
    SwitchRequest request;  // no argument at all: usage
    for (const std::string& arg : args) {
        if (arg.empty() || (arg[0] != '-' && arg[0] != '/'))
            return Error("Invalid argument");
        const char option = arg.size() > 1 ? arg[1] : '\0';
        if (option == '?' || option == 'h') {
            request.kind = SwitchRequest::Kind::Usage;
            return request;
        }
        if (option != 'c')
            return Error("Unknown option");
        if (arg.size() < 3 || arg[2] != ':')
            return Error("Colon ':' does not follow /c option");
        // A repeated letter enables its type once; the message carries each type at most once.
        std::uint32_t types = 0;
        for (std::size_t i = 3; i < arg.size(); ++i) {
            switch (arg[i]) {
            case 's': case 'S': types |= kSerial; break;
            case 'n': case 'N': types |= kNetwork; break;
            case 'u': case 'U': types |= kUsb; break;
            default: return Error("Bad /c option argument, only 's', 'n', 'u' supported");
            }
        }
        request.kind = SwitchRequest::Kind::Switch;
        request.types = types;
    }
    return request;
}

std::string UsageText(const std::string& programName)
{
    return "Usage: " + programName + " /c:[snu]\n"
           "  /c - Enable communication types.\n"
           "       's' Enable serial communication.\n"
           "       'n' Enable network communication.\n"
           "       'u' Enable usb communication.\n"
           "       (not providing 's', 'n', or 'u' will auto disable it.\n"
           "  Examples:\n"
           "       /c:sn    Enable serial, network, disable usb.\n"
           "       /c:      Disable all connection types.\n"
           "       /c:u     Enable usb, disable network and serial.\n";
}

std::string ErrorText(const std::string& reason)
{
    return "Error: " + reason + ".\n";
}

std::string ProgramName(const std::string& argv0)
{
    const std::size_t slash = argv0.find_last_of("\\/:");
    const std::string name = slash == std::string::npos ? argv0 : argv0.substr(slash + 1);
    return name.empty() ? "wcestest.exe" : name;
}

SwitchOutcome RunSwitch(const std::vector<std::string>& args, const std::string& programName,
                        ConnectionManager& manager)
{
    const SwitchRequest request = ParseArguments(args);
    switch (request.kind) {
    case SwitchRequest::Kind::Usage:
        return {kExitBadCommandLine, UsageText(programName)};
    case SwitchRequest::Kind::Error:
        return {kExitBadCommandLine, ErrorText(request.reason)};
    case SwitchRequest::Kind::Switch:
        break;
    }
    switch (manager.EnableTypes(request.types)) {
    case ConnectionManager::Answer::NotFound:
        return {kExitManagerFailed, "Error - WcesComm.exe was not found.\n"};
    case ConnectionManager::Answer::Refused:
        return {kExitManagerFailed, "Error - WcesComm.exe not responding.\n"};
    case ConnectionManager::Answer::Accepted:
        break;
    }
    return {kExitDone, ""};
}

}  // namespace flashwise::wcestest
