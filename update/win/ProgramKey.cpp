#include "update/win/ProgramKey.h"

namespace flashwise::update {

HKEY OpenProgramSubkey(const wchar_t* name, bool create) {
    const std::wstring path = std::wstring(kProgramKey) + L"\\" + name;
    HKEY key = nullptr;
    const LONG result =
        create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_READ | KEY_WRITE, nullptr, &key, nullptr)
               : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    return result == ERROR_SUCCESS ? key : nullptr;
}

void RemoveProgramSubkey(const wchar_t* name) {
    HKEY program = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, 0, KEY_READ | KEY_WRITE, &program) != ERROR_SUCCESS) return;
    RegDeleteKeyW(program, name);
    RegFlushKey(program);
    RegCloseKey(program);
    // Fails, as it should, while another record is still there.
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProgramKey);
}

bool ReadNumber(HKEY key, const std::wstring& name, std::uint32_t* value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD) {
        return false;
    }
    *value = data;
    return true;
}

bool ReadText(HKEY key, const std::wstring& name, std::wstring* value) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    text.resize(wcsnlen(text.c_str(), text.size()));
    *value = text;
    return true;
}

bool WriteNumber(HKEY key, const std::wstring& name, std::uint32_t value) {
    const DWORD data = value;
    return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data) ==
           ERROR_SUCCESS;
}

bool WriteText(HKEY key, const std::wstring& name, const std::wstring& text) {
    return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace flashwise::update
