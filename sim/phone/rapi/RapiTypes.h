#pragma once
// The records of the desktop synchronisation software's Remote API, as its callers
// pass them.

#include <windows.h>

namespace flashwise::simphone {

struct RapiInit {
    DWORD size;       // 12
    HANDLE event;     // signalled when the attempt ends
    HRESULT result;   // how it ended
};
static_assert(sizeof(RapiInit) == 12, "the caller's record is 12 bytes");

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

}  // namespace flashwise::simphone
