#include "update/win/SystemRunRecordStore.h"

#include <windows.h>

#include <string>

namespace flashwise::update {
namespace {

constexpr wchar_t kProgramKey[] = L"SOFTWARE\\Flashwise";
constexpr wchar_t kRunKey[] = L"SOFTWARE\\Flashwise\\Run";
constexpr wchar_t kRunSubkey[] = L"Run";

std::wstring ServiceValue(std::size_t index, const wchar_t* what) {
    return L"Service" + std::to_wstring(index) + what;
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

}  // namespace

std::optional<RunRecord> SystemRunRecordStore::Load() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    RunRecord record;
    std::wstring folder;
    if (ReadText(key, L"Folder", &folder)) record.workFolder = folder;
    std::uint32_t released = 0;
    record.desktopLinkReleased = ReadNumber(key, L"DesktopLinkReleased", &released) && released != 0;
    std::uint32_t count = 0;
    ReadNumber(key, L"Services", &count);
    for (std::size_t i = 0; i < count; ++i) {
        std::wstring name;
        RecordedService service;
        // A service whose entry was cut short is not put back half-known.
        if (!ReadText(key, ServiceValue(i, L"Name"), &name) ||
            !ReadNumber(key, ServiceValue(i, L"StartType"), &service.startType) ||
            !ReadNumber(key, ServiceValue(i, L"State"), &service.state)) {
            continue;
        }
        service.name.assign(name.begin(), name.end());
        record.services.push_back(service);
    }
    RegCloseKey(key);
    return record;
}

bool SystemRunRecordStore::Save(const RunRecord& record) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool ok = WriteText(key, L"Folder", record.workFolder.wstring()) &&
              WriteNumber(key, L"DesktopLinkReleased", record.desktopLinkReleased ? 1 : 0);
    for (std::size_t i = 0; ok && i < record.services.size(); ++i) {
        const RecordedService& service = record.services[i];
        ok = WriteText(key, ServiceValue(i, L"Name"), std::wstring(service.name.begin(), service.name.end())) &&
             WriteNumber(key, ServiceValue(i, L"StartType"), service.startType) &&
             WriteNumber(key, ServiceValue(i, L"State"), service.state);
    }
    // The count last: a record cut short by a power loss names no service it lacks.
    ok = ok && WriteNumber(key, L"Services", static_cast<std::uint32_t>(record.services.size()));
    ok = ok && RegFlushKey(key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

void SystemRunRecordStore::Remove() {
    HKEY program = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProgramKey, 0, KEY_READ | KEY_WRITE, &program) != ERROR_SUCCESS) return;
    RegDeleteKeyW(program, kRunSubkey);
    RegFlushKey(program);
    RegCloseKey(program);
    // The program's key goes too once nothing else is in it.
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProgramKey);
}

}  // namespace flashwise::update
