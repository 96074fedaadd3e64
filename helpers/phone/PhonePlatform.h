#pragma once
// The phone's platform calls that the phone-side helpers make. On the phone they are
// the system's own (PhonePlatformCe.cpp, built with the phone's toolchain); in the
// simulated build the simulated phone's "COREDLL.DLL" serves them
// (PhonePlatformSim.cpp), so the helpers' own code is what runs in tests.

#include <windows.h>

namespace flashwise::phone {

using KernelIoControlFn = BOOL(WINAPI*)(DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                        DWORD outSize, LPDWORD returned);

// Hardware-layer control codes (device type 0x0101, buffered).
constexpr DWORD kIoctlRomInfo = 0x01012008;          // function 0x802: the 468-byte ROM record
constexpr DWORD kIoctlBootLoaderAtRestart = 0x01013EBC;  // function 0xFAF: one word, 1 = boot loader

constexpr UINT kSpiGetOemInfo = 0x102;
constexpr UINT kOemInfoBufferSize = 0x400;

constexpr DWORD kPowerStateReset = 0x00800000;
constexpr DWORD kPowerForce = 0x1000;

// Loads "COREDLL.DLL" and looks up "KernelIoControl"; null when either is missing.
KernelIoControlFn LoadKernelIoControl();

// A library of the phone and one of its exports by name.
HMODULE LoadPhoneLibrary(const wchar_t* name);
void* FindPhoneExport(HMODULE module, const char* name);

// The power manager's set-system-power-state.
DWORD RequestSystemPowerState(const wchar_t* stateName, DWORD stateFlags, DWORD options);

// The system parameters query; the failure reason is left in the last error.
BOOL GetSystemParameter(UINT action, UINT param, void* buffer, UINT winIni);

// The phone's registry.
LONG RegistryOpenKey(HKEY root, const wchar_t* subKey, HKEY* key);
LONG RegistryCreateKey(HKEY root, const wchar_t* subKey, HKEY* key, DWORD* disposition);
LONG RegistryDeleteValue(HKEY key, const wchar_t* name);
LONG RegistrySetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size);
LONG RegistryCloseKey(HKEY key);

}  // namespace flashwise::phone
