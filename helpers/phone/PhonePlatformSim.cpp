// The simulated phone's platform: every call goes to the simulated phone's
// "COREDLL.DLL", which exports them under the phone's own names and keeps the
// phone's state. A missing library or export fails the call like an absent service.

#include "helpers/phone/PhonePlatform.h"

namespace flashwise::phone {

namespace {

template <typename Fn>
Fn Core(const char* name)
{
    static HMODULE core = LoadPhoneLibrary(L"COREDLL.DLL");
    return reinterpret_cast<Fn>(FindPhoneExport(core, name));
}

using SetPowerStateFn = DWORD(WINAPI*)(LPCWSTR, DWORD, DWORD);
using SystemParametersInfoFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT);
using RegOpenKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
using RegCreateKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM,
                                       LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);
using RegDeleteValueFn = LONG(WINAPI*)(HKEY, LPCWSTR);
using RegSetValueExFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
using RegCloseKeyFn = LONG(WINAPI*)(HKEY);

}  // namespace

DWORD RequestSystemPowerState(const wchar_t* stateName, DWORD stateFlags, DWORD options)
{
    auto fn = Core<SetPowerStateFn>("SetSystemPowerState");
    return fn ? fn(stateName, stateFlags, options) : ERROR_PROC_NOT_FOUND;
}

BOOL GetSystemParameter(UINT action, UINT param, void* buffer, UINT winIni)
{
    auto fn = Core<SystemParametersInfoFn>("SystemParametersInfoW");
    if (!fn) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return fn(action, param, buffer, winIni);
}

LONG RegistryOpenKey(HKEY root, const wchar_t* subKey, HKEY* key)
{
    auto fn = Core<RegOpenKeyExFn>("RegOpenKeyExW");
    return fn ? fn(root, subKey, 0, 0, key) : ERROR_PROC_NOT_FOUND;
}

LONG RegistryCreateKey(HKEY root, const wchar_t* subKey, HKEY* key, DWORD* disposition)
{
    auto fn = Core<RegCreateKeyExFn>("RegCreateKeyExW");
    return fn ? fn(root, subKey, 0, nullptr, 0, 0, nullptr, key, disposition) : ERROR_PROC_NOT_FOUND;
}

LONG RegistryDeleteValue(HKEY key, const wchar_t* name)
{
    auto fn = Core<RegDeleteValueFn>("RegDeleteValueW");
    return fn ? fn(key, name) : ERROR_PROC_NOT_FOUND;
}

LONG RegistrySetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size)
{
    auto fn = Core<RegSetValueExFn>("RegSetValueExW");
    return fn ? fn(key, name, 0, type, data, size) : ERROR_PROC_NOT_FOUND;
}

LONG RegistryCloseKey(HKEY key)
{
    auto fn = Core<RegCloseKeyFn>("RegCloseKey");
    return fn ? fn(key) : ERROR_PROC_NOT_FOUND;
}

}  // namespace flashwise::phone
