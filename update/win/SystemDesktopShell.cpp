#include "update/win/SystemDesktopShell.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace flashwise::update {

bool SystemDesktopShell::RunHidden(const std::filesystem::path& program, std::u16string_view parameters,
                                   std::uint32_t* error) {
    const std::wstring file = program.wstring();
    const std::wstring arguments(parameters.begin(), parameters.end());
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", file.c_str(), arguments.c_str(), nullptr, SW_HIDE);
    if (reinterpret_cast<INT_PTR>(result) > 32) return true;
    *error = GetLastError();
    return false;
}

void SystemDesktopShell::WriteStandardOutput(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace flashwise::update
