// The phone's own platform calls; built only with the phone's toolchain.

#include "helpers/phone/PhonePlatform.h"

#include <pm.h>

namespace flashwise::phone {

DWORD RequestSystemPowerState(const wchar_t* stateName, DWORD stateFlags, DWORD options)
{
    return SetSystemPowerState(stateName, stateFlags, options);
}

BOOL GetSystemParameter(UINT action, UINT param, void* buffer, UINT winIni)
{
    return SystemParametersInfoW(action, param, buffer, winIni);
}

LONG RegistryOpenKey(HKEY root, const wchar_t* subKey, HKEY* key)
{
    return RegOpenKeyExW(root, subKey, 0, 0, key);
}

LONG RegistryCreateKey(HKEY root, const wchar_t* subKey, HKEY* key, DWORD* disposition)
{
    return RegCreateKeyExW(root, subKey, 0, nullptr, 0, 0, nullptr, key, disposition);
}

LONG RegistryDeleteValue(HKEY key, const wchar_t* name)
{
    return RegDeleteValueW(key, name);
}

LONG RegistrySetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size)
{
    return RegSetValueExW(key, name, 0, type, data, size);
}

LONG RegistryCloseKey(HKEY key)
{
    return RegCloseKey(key);
}

}  // namespace flashwise::phone
