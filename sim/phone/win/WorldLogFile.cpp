#include "sim/phone/win/WorldLogFile.h"

#include <windows.h>

#include "sim/phone/WorldLog.h"
#include "sim/phone/win/PhoneStore.h"

namespace flashwise::simphone {

namespace {

constexpr wchar_t kMutexName[] = L"FlashwiseWorldLog";
constexpr DWORD kLockBoundMs = 5000;

}  // namespace

std::wstring WorldLogPath()
{
    return PhoneFolder() + L"\\world.log";
}

std::uint64_t WorldClockMs()
{
    LARGE_INTEGER count{};
    LARGE_INTEGER frequency{};
    if (!QueryPerformanceCounter(&count) || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
        return GetTickCount();
    const auto ticks = static_cast<std::uint64_t>(count.QuadPart);
    const auto perSecond = static_cast<std::uint64_t>(frequency.QuadPart);
    return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

void LogWorldAct(const std::string& source, const std::string& act, const WorldFields& fields)
{
    const DWORD lastError = GetLastError();
    WorldAct entry;
    entry.source = source;
    entry.act = act;
    entry.fields = fields;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    const DWORD wait = mutex ? WaitForSingleObject(mutex, kLockBoundMs) : WAIT_FAILED;
    // The time is taken under the lock, so the lines of all writers stay in time order.
    entry.ms = WorldClockMs();
    const std::string line = FormatWorldAct(entry);
    HANDLE file = CreateFileW(WorldLogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        ReleaseMutex(mutex);
    if (mutex)
        CloseHandle(mutex);
    SetLastError(lastError);
}

}  // namespace flashwise::simphone
