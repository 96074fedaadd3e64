#include "update/win/SystemDesktopShell.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace flashwise::update {

bool SystemDesktopShell::Run(const std::filesystem::path& program, std::u16string_view parameters,
                             const std::filesystem::path& currentFolder, std::uint32_t waitMs,
                             std::uint32_t* exitCode, std::uint32_t* error) {
    const std::wstring file = program.wstring();
    const std::wstring folder = currentFolder.wstring();
    std::wstring line = L"\"" + file + L"\"" + std::wstring(parameters.begin(), parameters.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    // The application name is the full path: the system searches nothing for it.
    if (!CreateProcessW(file.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        *error = GetLastError();
        return false;
    }
    CloseHandle(process.hThread);
    DWORD code = kHelperStillRunning;
    if (WaitForSingleObject(process.hProcess, waitMs) != WAIT_OBJECT_0) {
        // Ended, so that it lets go of its file and cannot act late, after a later run.
        TerminateProcess(process.hProcess, kHelperStillRunning);
        WaitForSingleObject(process.hProcess, waitMs);
    } else if (!GetExitCodeProcess(process.hProcess, &code)) {
        code = kHelperStillRunning;
    }
    CloseHandle(process.hProcess);
    *exitCode = code;
    return true;
}

void SystemDesktopShell::WriteStandardOutput(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace flashwise::update
