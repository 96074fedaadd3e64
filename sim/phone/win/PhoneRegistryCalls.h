#pragma once
// The registry calls of the simulated phone, shared by its "COREDLL.DLL" (the phone's
// own programs) and the Remote API double (the desktop's view). Keys opened here are
// handles of this process; HKEY_LOCAL_MACHINE is the one predefined root.

#include <windows.h>

namespace flashwise::simphone {

LONG PhoneRegOpenKey(HKEY root, const wchar_t* subKey, HKEY* key);
LONG PhoneRegCreateKey(HKEY root, const wchar_t* subKey, HKEY* key, DWORD* disposition);
LONG PhoneRegQueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size);
LONG PhoneRegSetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size);
LONG PhoneRegDeleteValue(HKEY key, const wchar_t* name);
LONG PhoneRegCloseKey(HKEY key);

}  // namespace flashwise::simphone
