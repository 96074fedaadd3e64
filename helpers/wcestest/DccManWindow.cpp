#include "helpers/wcestest/DccManWindow.h"

#include <windows.h>

namespace flashwise::wcestest {

namespace {
constexpr UINT kMessageEnableTypes = 0x432;
// A connection manager that hangs must not hang the updater's connection thread with it.
constexpr UINT kAnswerTimeoutMs = 10000;
}  // namespace

ConnectionManager::Answer DccManWindow::EnableTypes(std::uint32_t types)
{
    HWND window = FindWindowW(L"DccMan Class", nullptr);
    if (window == nullptr)
        return Answer::NotFound;
    DWORD_PTR result = 1;
    if (!SendMessageTimeoutW(window, kMessageEnableTypes, 0, static_cast<LPARAM>(types),
                             SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &result))
        return Answer::Refused;
    return result == 0 ? Answer::Accepted : Answer::Refused;
}

}  // namespace flashwise::wcestest
