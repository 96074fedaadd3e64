#include "update/win/SystemDesktopShell.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace flashwise::update {

bool SystemDesktopShell::RunHidden(const std::filesystem::path& program, std::u16string_view parameters,
                                   std::uint32_t waitMs, std::uint32_t* error) {
    const std::wstring file = program.wstring();
    const std::wstring arguments(parameters.begin(), parameters.end());
    SHELLEXECUTEINFOW run{};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    run.lpVerb = L"open";
    run.lpFile = file.c_str();
    run.lpParameters = arguments.c_str();
    run.nShow = SW_HIDE;
    if (!ShellExecuteExW(&run) || reinterpret_cast<INT_PTR>(run.hInstApp) <= 32) {
        *error = GetLastError();
        if (run.hProcess != nullptr) CloseHandle(run.hProcess);
        return false;
    }
    if (run.hProcess != nullptr) {
        WaitForSingleObject(run.hProcess, waitMs);
        CloseHandle(run.hProcess);
    }
    return true;
}

void SystemDesktopShell::WriteStandardOutput(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace flashwise::update
