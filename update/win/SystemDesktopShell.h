#pragma once
// The shell runs the desktop-side helper; standard output is the process's own.

#include "update/DesktopShell.h"

namespace flashwise::update {

class SystemDesktopShell final : public DesktopShell {
public:
    bool RunHidden(const std::filesystem::path& program, std::u16string_view parameters, std::uint32_t waitMs,
                   std::uint32_t* error) override;
    void WriteStandardOutput(std::string_view text) override;
};

}  // namespace flashwise::update
