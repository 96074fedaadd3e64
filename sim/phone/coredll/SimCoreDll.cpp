// "COREDLL.DLL" of the simulated phone: the system calls that the phone-side helpers
// make, served from the phone's state. Exported under the phone's own names
// (SimCoreDll.def). The phone's state can make DeviceSpy's run write nothing (its
// registry opens refused) or write late (its first registry open held back).

#include <windows.h>

#include <cstring>
#include <string>

#include "helpers/phone/PhonePlatform.h"
#include "helpers/phone/RomRecord.h"
#include "sim/phone/PhoneSettings.h"
#include "sim/phone/Utf16Text.h"
#include "sim/phone/win/PhoneRegistryCalls.h"
#include "sim/phone/win/PhoneStore.h"

using namespace flashwise;
using namespace flashwise::simphone;

namespace {

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

BOOL FillRomRecord(LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned)
{
    if (in == nullptr || out == nullptr || inSize != phone::kRomRecordSize || outSize != phone::kRomRecordSize)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::optional<PhoneSettings> settings = CurrentPhoneSettings();
    if (!settings)
        return Fail(ERROR_NOT_READY);
    if (!settings->romRecord)
        return Fail(ERROR_NOT_SUPPORTED);
    phone::RomRecord record;
    std::memcpy(record.data(), in, record.size());
    if (!phone::RomRecordSizeOk(record))
        return Fail(ERROR_INVALID_PARAMETER);
    phone::FillRomRecord({Utf8ToUtf16(settings->rom), Utf8ToUtf16(settings->extRom),
                          Utf8ToUtf16(settings->language)},
                         record);
    std::memcpy(out, record.data(), record.size());
    if (returned)
        *returned = static_cast<DWORD>(record.size());
    return TRUE;
}

BOOL SetBootMode(LPVOID in, DWORD inSize)
{
    if (in == nullptr || inSize != sizeof(DWORD))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD word = 0;
    std::memcpy(&word, in, sizeof word);
    PhoneStore store;
    if (!store.Ok())
        return Fail(ERROR_NOT_READY);
    SetBootModeWord(store.Document(), word);
    return store.Save() ? TRUE : Fail(ERROR_WRITE_FAULT);
}

bool RunByDeviceSpy()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    const std::wstring own(path, length);
    return EqualsIgnoringCase(WideToUtf8(own.substr(own.find_last_of(L'\\') + 1)), "DeviceSpy.exe");
}

// DeviceSpy's way into the registry; ERROR_SUCCESS lets it go on.
LONG DeviceSpyGate()
{
    static bool delayed = false;
    if (!RunByDeviceSpy())
        return ERROR_SUCCESS;
    const std::optional<PhoneSettings> settings = CurrentPhoneSettings();
    if (!settings)
        return ERROR_NOT_READY;
    if (!settings->deviceSpyWrites)
        return ERROR_ACCESS_DENIED;
    if (!delayed) {
        delayed = true;
        Sleep(settings->deviceSpyDelayMs);
    }
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

BOOL WINAPI SimKernelIoControl(DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                               LPDWORD returned)
{
    switch (code) {
    case phone::kIoctlRomInfo:
        return FillRomRecord(in, inSize, out, outSize, returned);
    case phone::kIoctlBootLoaderAtRestart:
        return SetBootMode(in, inSize);
    default:
        return Fail(ERROR_NOT_SUPPORTED);
    }
}

DWORD WINAPI SimSetSystemPowerState(LPCWSTR stateName, DWORD stateFlags, DWORD)
{
    if (stateName != nullptr || (stateFlags & phone::kPowerStateReset) == 0)
        return ERROR_NOT_SUPPORTED;
    PhoneStore store;
    if (!store.Ok())
        return ERROR_NOT_READY;
    Restart(store.Document());
    return store.Save() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

// The size for the OEM information is in bytes and must hold the terminator.
BOOL WINAPI SimSystemParametersInfoW(UINT action, UINT param, PVOID buffer, UINT)
{
    if (action != phone::kSpiGetOemInfo || buffer == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::optional<PhoneSettings> settings = CurrentPhoneSettings();
    if (!settings)
        return Fail(ERROR_NOT_READY);
    if (settings->oemError)
        return Fail(*settings->oemError);
    const std::u16string text = Utf8ToUtf16(settings->oem);
    const std::size_t bytes = (text.size() + 1) * sizeof(char16_t);
    if (bytes > param)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, text.c_str(), bytes);
    return TRUE;
}

LONG WINAPI SimRegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD, REGSAM, PHKEY key)
{
    const LONG gate = DeviceSpyGate();
    return gate != ERROR_SUCCESS ? gate : PhoneRegOpenKey(root, subKey, key);
}

LONG WINAPI SimRegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM,
                               LPSECURITY_ATTRIBUTES, PHKEY key, LPDWORD disposition)
{
    const LONG gate = DeviceSpyGate();
    return gate != ERROR_SUCCESS ? gate : PhoneRegCreateKey(root, subKey, key, disposition);
}

LONG WINAPI SimRegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return PhoneRegQueryValue(key, name, type, data, size);
}

LONG WINAPI SimRegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    return PhoneRegSetValue(key, name, type, data, size);
}

LONG WINAPI SimRegDeleteValueW(HKEY key, LPCWSTR name)
{
    return PhoneRegDeleteValue(key, name);
}

LONG WINAPI SimRegCloseKey(HKEY key)
{
    return PhoneRegCloseKey(key);
}

}  // extern "C"
