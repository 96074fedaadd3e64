// Puts the simulated boot loader's WinUSB interface into a Wine prefix's device
// registry, and takes it out again:
//
//   BootLoaderRoutes.exe winusb-up      registers ROOT\SIMPHONE\0000 with an interface of
//                                       the boot-loader class, marked linked (present)
//   BootLoaderRoutes.exe winusb-down    removes the interface and the device
//   BootLoaderRoutes.exe winusb-query   prints the path of every present interface
//
// Run by tools/wine/bootloader-routes.py, which also makes the path openable. Exit
// code 0 on success; the reason for a failure goes to the error stream.

#include <windows.h>
#include <setupapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The boot loader's device interface class.
const GUID kInterfaceClass = {0x25DBCE51, 0x6C8F, 0x4A72, {0x8A, 0x6D, 0xB5, 0x4C, 0x2B, 0x4F, 0xC8, 0x35}};
// The setup class of USB devices.
const GUID kDeviceClass = {0x88BAE032, 0x5A81, 0x49F0, {0xBC, 0x3D, 0xA4, 0xFF, 0x13, 0x82, 0x16, 0xD6}};
const wchar_t kInstanceId[] = L"ROOT\\SIMPHONE\\0000";
const wchar_t kClassesKey[] =
    L"System\\CurrentControlSet\\Control\\DeviceClasses\\{25dbce51-6c8f-4a72-8a6d-b54c2b4fc835}";

int Failed(const char* what) {
    std::fprintf(stderr, "BootLoaderRoutes: %s failed (error %lu)\n", what, static_cast<unsigned long>(GetLastError()));
    return 1;
}

// Every interface key of the class that belongs to the simulated device.
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

bool MarkLinked() {
    const auto keys = OurInterfaceKeys();
    if (keys.empty()) return false;
    for (const auto& key : keys) {
        const std::wstring control = std::wstring(kClassesKey) + L"\\" + key + L"\\#\\Control";
        HKEY h = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, control.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h,
                            nullptr) != ERROR_SUCCESS) {
            return false;
        }
        const DWORD one = 1;
        const LONG r = RegSetValueExW(h, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
        RegCloseKey(h);
        if (r != ERROR_SUCCESS) return false;
    }
    return true;
}

int Query(bool quiet) {
    HDEVINFO set = SetupDiGetClassDevsW(&kInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return Failed("SetupDiGetClassDevsW");
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

int Up() {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kDeviceClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) return Failed("SetupDiCreateDeviceInfoList");
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    bool fresh = true;
    if (!SetupDiCreateDeviceInfoW(set, kInstanceId, &kDeviceClass, L"Simulated phone boot loader", nullptr, 0,
                                  &device)) {
        // Already there from an earlier run: take it as it is.
        fresh = false;
        device.cbSize = sizeof device;
        if (!SetupDiOpenDeviceInfoW(set, kInstanceId, nullptr, 0, &device)) {
            SetupDiDestroyDeviceInfoList(set);
            return Failed("SetupDiCreateDeviceInfoW / SetupDiOpenDeviceInfoW");
        }
    }
    if (fresh && !SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
        SetupDiDestroyDeviceInfoList(set);
        return Failed("SetupDiRegisterDeviceInfo");
    }
    SP_DEVICE_INTERFACE_DATA iface;
    iface.cbSize = sizeof iface;
    if (!SetupDiCreateDeviceInterfaceW(set, &device, &kInterfaceClass, nullptr, 0, &iface)) {
        SetupDiDestroyDeviceInfoList(set);
        return Failed("SetupDiCreateDeviceInterfaceW");
    }
    SetupDiDestroyDeviceInfoList(set);
    if (!MarkLinked()) return Failed("marking the interface linked");
    if (Query(false) < 1) {
        std::fprintf(stderr, "BootLoaderRoutes: the interface is registered but not present\n");
        return 1;
    }
    return 0;
}

int Down() {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kDeviceClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) return Failed("SetupDiCreateDeviceInfoList");
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    if (SetupDiOpenDeviceInfoW(set, kInstanceId, nullptr, 0, &device)) {
        SP_DEVICE_INTERFACE_DATA iface;
        iface.cbSize = sizeof iface;
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, &device, &kInterfaceClass, i, &iface); ++i) {
            SetupDiRemoveDeviceInterface(set, &iface);
        }
        if (!SetupDiRemoveDevice(set, &device)) {
            SetupDiDestroyDeviceInfoList(set);
            return Failed("SetupDiRemoveDevice");
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    // Whatever the removal left of the interface keys goes too, so no later
    // enumeration finds a path that leads nowhere.
    for (const auto& key : OurInterfaceKeys()) {
        const std::wstring path = std::wstring(kClassesKey) + L"\\" + key;
        SHDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    }
    if (Query(true) != 0) {
        std::fprintf(stderr, "BootLoaderRoutes: an interface of the boot-loader class is still present\n");
        return 1;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"winusb-up") return Up();
    if (verb == L"winusb-down") return Down();
    if (verb == L"winusb-query") return Query(false) >= 0 ? 0 : 1;
    std::fprintf(stderr, "usage: BootLoaderRoutes.exe winusb-up | winusb-down | winusb-query\n");
    return 2;
}
