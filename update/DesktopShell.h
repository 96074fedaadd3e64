#pragma once
// Running the desktop-side helper, and the standard output the user never sees.

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace flashwise::update {

class DesktopShell {
public:
    virtual ~DesktopShell() = default;
    // Starts `program` by its full name (no search of any kind), window hidden, with
    // `currentFolder` as its current folder and the quoted program name followed by
    // `parameters` as its command line, then waits at most `waitMs` for it to end. One
    // that does not end in time is ended and reports kHelperStillRunning. False, with the
    // system's error, when it cannot be started; otherwise its exit code.
    virtual bool Run(const std::filesystem::path& program, std::u16string_view parameters,
                     const std::filesystem::path& currentFolder, std::uint32_t waitMs, std::uint32_t* exitCode,
                     std::uint32_t* error) = 0;
    virtual void WriteStandardOutput(std::string_view text) = 0;
};

// The exit code of a helper that had to be ended.
constexpr std::uint32_t kHelperStillRunning = 259;

}  // namespace flashwise::update
