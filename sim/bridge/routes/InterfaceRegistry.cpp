#include "sim/bridge/routes/InterfaceRegistry.h"

#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cwchar>

namespace flashwise::bridge::routes {

namespace {

// The boot loader's device interface class.
const GUID kInterfaceClass = {0x25DBCE51, 0x6C8F, 0x4A72, {0x8A, 0x6D, 0xB5, 0x4C, 0x2B, 0x4F, 0xC8, 0x35}};
const wchar_t kClassesKey[] =
    L"System\\CurrentControlSet\\Control\\DeviceClasses\\{25dbce51-6c8f-4a72-8a6d-b54c2b4fc835}";

}  // namespace

std::vector<std::wstring> OurInterfaceKeys() {
    std::vector<std::wstring> keys;
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassesKey, 0, KEY_READ, &classes) != ERROR_SUCCESS) return keys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[512];
        DWORD length = 512;
        if (RegEnumKeyExW(classes, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::wstring lower(name, length);
        for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
        if (lower.find(L"#simphone#0000#") != std::wstring::npos) keys.push_back(std::wstring(name, length));
    }
    RegCloseKey(classes);
    return keys;
}

bool SetInterfacePresent(bool present) {
    const auto keys = OurInterfaceKeys();
    if (keys.empty()) return false;
    for (const auto& key : keys) {
        const std::wstring control = std::wstring(kClassesKey) + L"\\" + key + L"\\#\\Control";
        HKEY h = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, control.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h,
                            nullptr) != ERROR_SUCCESS) {
            return false;
        }
        const DWORD linked = present ? 1 : 0;
        const LONG r =
            RegSetValueExW(h, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked), sizeof linked);
        RegCloseKey(h);
        if (r != ERROR_SUCCESS) return false;
    }
    return true;
}

int CountPresentInterfaces(bool quiet) {
    HDEVINFO set = SetupDiGetClassDevsW(&kInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return -1;
    int found = 0;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data;
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kInterfaceClass, index, &data)) break;
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr);
        std::vector<BYTE> block(required + sizeof(wchar_t));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr)) continue;
        ++found;
        if (!quiet) {
            char path[1024];
            WideCharToMultiByte(CP_UTF8, 0, detail->DevicePath, -1, path, sizeof path, nullptr, nullptr);
            std::printf("%s\n", path);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

}  // namespace flashwise::bridge::routes
