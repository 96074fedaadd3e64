#include "sim/phone/win/PhoneStore.h"

#include <vector>

#include "sim/phone/PhonePath.h"

namespace flashwise::simphone {

namespace {

constexpr wchar_t kMutexName[] = L"FlashwiseSimulatedPhoneState";
constexpr DWORD kLockBoundMs = 10000;
constexpr DWORD kStateFileLimit = 16 * 1024 * 1024;

bool ReadWholeFile(const std::wstring& path, std::string& text, bool& missing)
{
    missing = false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return false;
    }
    const DWORD size = GetFileSize(file, nullptr);
    bool ok = size != INVALID_FILE_SIZE && size <= kStateFileLimit;
    if (ok) {
        text.assign(size, '\0');
        DWORD read = 0;
        ok = size == 0 || (ReadFile(file, &text[0], size, &read, nullptr) && read == size);
    }
    CloseHandle(file);
    return ok;
}

}  // namespace

std::wstring PhoneFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"FLASHWISE_PHONE", buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        return buffer;
    return L"C:\\flashwise-phone";
}

std::wstring StateFilePath()
{
    return PhoneFolder() + L"\\phone.ini";
}

std::wstring PhoneFilesFolder()
{
    return PhoneFolder() + L"\\files";
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                            nullptr, nullptr);
    return out;
}

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

std::optional<std::wstring> DesktopPathOfPhoneFile(const std::wstring& phonePath)
{
    const std::optional<std::string> relative = PhoneFileRelativePath(WideToUtf8(phonePath));
    if (!relative)
        return std::nullopt;
    return PhoneFilesFolder() + L"\\" + Utf8ToWide(*relative);
}

PhoneStore::PhoneStore()
{
    mutex_ = CreateMutexW(nullptr, FALSE, kMutexName);
    if (mutex_ == nullptr)
        return;
    const DWORD wait = WaitForSingleObject(mutex_, kLockBoundMs);
    locked_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    if (!locked_)
        return;
    std::string text;
    bool missing = false;
    if (!ReadWholeFile(StateFilePath(), text, missing)) {
        ok_ = missing;
        return;
    }
    std::optional<IniDocument> parsed = IniDocument::Parse(text);
    if (parsed) {
        document_ = std::move(*parsed);
        ok_ = true;
    }
}

PhoneStore::~PhoneStore()
{
    if (locked_)
        ReleaseMutex(mutex_);
    if (mutex_)
        CloseHandle(mutex_);
}

bool PhoneStore::Save()
{
    if (!ok_)
        return false;
    const std::wstring path = StateFilePath();
    const std::wstring temporary = path + L".new";
    const std::string text = document_.Serialize();
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
    CloseHandle(file);
    if (!ok || !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<PhoneSettings> CurrentPhoneSettings()
{
    PhoneStore store;
    if (!store.Ok())
        return std::nullopt;
    return store.Settings();
}

}  // namespace flashwise::simphone
