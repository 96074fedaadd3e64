// Puts the simulated boot loader's WinUSB interface into a Wine prefix's device
// registry, and takes it out again:
//
//   BootLoaderRoutes.exe winusb-up      registers ROOT\SIMPHONE\0000 with an interface of
//                                       the boot-loader class, marked linked (present)
//   BootLoaderRoutes.exe winusb-down    removes the interface and the device
//   BootLoaderRoutes.exe winusb-query   prints the path of every present interface
//   BootLoaderRoutes.exe winusb-present 0|1
//                                       marks the interface absent or present
//   BootLoaderRoutes.exe winusb-follow [--lifetime-ms N]
//                                       keeps the interface present while the simulated
//                                       phone (FLASHWISE_PHONE) runs its boot loader and
//                                       absent otherwise (PresenceFollower.h)
//
// Run by tools/wine/bootloader-routes.py, which also makes the path openable. Exit
// code 0 on success; the reason for a failure goes to the error stream.

#include <windows.h>
#include <setupapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "sim/bridge/routes/InterfaceRegistry.h"
#include "sim/bridge/routes/PresenceFollower.h"

namespace {

using namespace flashwise::bridge::routes;

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
    if (!SetInterfacePresent(true)) return Failed("marking the interface linked");
    if (CountPresentInterfaces(false) < 1) {
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
    if (CountPresentInterfaces(true) != 0) {
        std::fprintf(stderr, "BootLoaderRoutes: an interface of the boot-loader class is still present\n");
        return 1;
    }
    return 0;
}

int Present(const std::wstring& value) {
    if (value != L"0" && value != L"1") {
        std::fprintf(stderr, "BootLoaderRoutes: winusb-present takes 0 or 1\n");
        return 2;
    }
    const bool present = value == L"1";
    if (!SetInterfacePresent(present)) return Failed("setting the interface's presence");
    if (CountPresentInterfaces(true) != (present ? 1 : 0)) {
        std::fprintf(stderr, "BootLoaderRoutes: discovery does not show the interface %s\n",
                     present ? "present" : "absent");
        return 1;
    }
    return 0;
}

// A lifetime of 1 ms to one day; the default is the world's.
bool ParseLifetime(int argc, wchar_t** argv, std::uint32_t* lifetimeMs) {
    *lifetimeMs = 900000;
    if (argc == 2) return true;
    if (argc != 4 || std::wstring(argv[2]) != L"--lifetime-ms") return false;
    const std::wstring digits = argv[3];
    if (digits.empty() || digits.size() > 8) return false;
    for (wchar_t c : digits) {
        if (!std::iswdigit(c)) return false;
    }
    *lifetimeMs = static_cast<std::uint32_t>(std::wcstoul(digits.c_str(), nullptr, 10));
    return *lifetimeMs >= 1 && *lifetimeMs <= 86400000u;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"winusb-up" && argc == 2) return Up();
    if (verb == L"winusb-down" && argc == 2) return Down();
    if (verb == L"winusb-query" && argc == 2) return CountPresentInterfaces(false) >= 0 ? 0 : 1;
    if (verb == L"winusb-present" && argc == 3) return Present(argv[2]);
    std::uint32_t lifetimeMs = 0;
    if (verb == L"winusb-follow" && ParseLifetime(argc, argv, &lifetimeMs)) return FollowPhone(lifetimeMs);
    std::fprintf(stderr,
                 "usage: BootLoaderRoutes.exe winusb-up | winusb-down | winusb-query | winusb-present 0|1 |\n"
                 "                            winusb-follow [--lifetime-ms N]\n");
    return 2;
}
