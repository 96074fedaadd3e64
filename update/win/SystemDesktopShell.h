#pragma once
// The desktop-side helper, started by its full name; standard output is the process's own.

#include "update/DesktopShell.h"

namespace flashwise::update {

class SystemDesktopShell final : public DesktopShell {
public:
    bool Run(const std::filesystem::path& program, std::u16string_view parameters,
             const std::filesystem::path& currentFolder, std::uint32_t waitMs, std::uint32_t* exitCode,
             std::uint32_t* error) override;
    void WriteStandardOutput(std::string_view text) override;
};

}  // namespace flashwise::update
