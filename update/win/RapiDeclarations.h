#pragma once
// The Remote API of the desktop synchronisation software ("Rapi.dll") as the program
// calls it: the records it passes and the entry points with the library's calling
// convention. The program never links to these names; it binds them at run time
// (update/win/SystemRapi.cpp) with the types declared here. The test double of the
// library defines them from this same header, so a signature that drifts fails to build.

#include <windows.h>

namespace flashwise::rapi {

// The initialisation record of CeRapiInitEx.
struct RapiInit {
    DWORD size;      // 12
    HANDLE event;    // signalled when the attempt ends
    HRESULT result;  // how it ended
};
static_assert(sizeof(RapiInit) == 12, "the library reads a 12-byte record");

struct CeOsVersionInfo {
    DWORD size;
    DWORD majorVersion;
    DWORD minorVersion;
    DWORD buildNumber;
    DWORD platformId;
    WCHAR csdVersion[128];
};

struct CeSystemPowerStatusEx {
    BYTE acLineStatus;
    BYTE batteryFlag;
    BYTE batteryLifePercent;
    BYTE reserved1;
    DWORD batteryLifeTime;
    DWORD batteryFullLifeTime;
    BYTE reserved2;
    BYTE backupBatteryFlag;
    BYTE backupBatteryLifePercent;
    BYTE reserved3;
    DWORD backupBatteryLifeTime;
    DWORD backupBatteryFullLifeTime;
};

constexpr DWORD kPlatformWindowsCe = 3;

}  // namespace flashwise::rapi

extern "C" {

HRESULT WINAPI CeRapiInit();
HRESULT WINAPI CeRapiInitEx(flashwise::rapi::RapiInit* record);
HRESULT WINAPI CeRapiUninit();
DWORD WINAPI CeGetLastError();
LONG WINAPI CeRegOpenKeyEx(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY key);
LONG WINAPI CeRegQueryValueEx(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                              LPDWORD size);
LONG WINAPI CeRegCloseKey(HKEY key);
HANDLE WINAPI CeCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD creation, DWORD flags, HANDLE templateFile);
BOOL WINAPI CeWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
BOOL WINAPI CeSetEndOfFile(HANDLE file);
BOOL WINAPI CeCloseHandle(HANDLE handle);
BOOL WINAPI CeCreateProcess(LPCWSTR name, LPCWSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                            LPSECURITY_ATTRIBUTES threadSecurity, BOOL inheritHandles, DWORD flags,
                            LPVOID environment, LPWSTR folder, LPSTARTUPINFOW startup,
                            LPPROCESS_INFORMATION info);
BOOL WINAPI CeGetSystemPowerStatusEx(flashwise::rapi::CeSystemPowerStatusEx* status, BOOL refresh);
BOOL WINAPI CeGetVersionEx(flashwise::rapi::CeOsVersionInfo* version);

}  // extern "C"
