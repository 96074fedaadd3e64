#pragma once
// The desktop helper's logic: its command line, its texts and exit codes. The window
// of the synchronisation software's connection manager is reached through
// ConnectionManager so that everything here runs without Windows.

#include <cstdint>
#include <string>
#include <vector>

namespace flashwise::wcestest {

// Connection types as the connection manager counts them; the message carries their sum.
constexpr std::uint32_t kSerial = 2;
constexpr std::uint32_t kNetwork = 4;
constexpr std::uint32_t kUsb = 8;

struct SwitchRequest {
    enum class Kind { Switch, Usage, Error };
    Kind kind = Kind::Usage;
    std::uint32_t types = 0;   // Switch: the enabled types
    std::string reason;        // Error: what was wrong, without the "Error: " frame
};

// Arguments without the program name, as the C runtime split them.
SwitchRequest ParseArguments(const std::vector<std::string>& args);

std::string UsageText(const std::string& programName);
std::string ErrorText(const std::string& reason);

// The base name of argv[0] ("C:\dir\wcestest.exe" -> "wcestest.exe").
std::string ProgramName(const std::string& argv0);

class ConnectionManager {
public:
    enum class Answer { NotFound, Accepted, Refused };
    virtual ~ConnectionManager() = default;
    // Enables exactly the given types and disables the others.
    virtual Answer EnableTypes(std::uint32_t types) = 0;
};

struct SwitchOutcome {
    int exitCode = 0;
    std::string consoleText;
};

SwitchOutcome RunSwitch(const std::vector<std::string>& args, const std::string& programName,
                        ConnectionManager& manager);

}  // namespace flashwise::wcestest
