#pragma once
// Running the desktop-side helper, and the standard output the user never sees.

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace flashwise::update {

class DesktopShell {
public:
    virtual ~DesktopShell() = default;
    // Opens `program` through the shell, window hidden, no owner, no working folder, then
    // waits at most `waitMs` for it to end. False with the system's last error when the
    // shell refuses.
    virtual bool RunHidden(const std::filesystem::path& program, std::u16string_view parameters,
                           std::uint32_t waitMs, std::uint32_t* error) = 0;
    virtual void WriteStandardOutput(std::string_view text) = 0;
};

}  // namespace flashwise::update
