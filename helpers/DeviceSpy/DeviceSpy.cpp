// DeviceSpy.exe: leaves the phone's model identity and its ROM, extended-ROM and
// radio versions under HKEY_LOCAL_MACHINE\KROV\SYSVERSION for the updater to read.

#include <optional>
#include <string>

#include "helpers/DeviceSpy/RadioRevision.h"
#include "helpers/DeviceSpy/VersionTexts.h"
#include "helpers/phone/HelperEntry.h"
#include "helpers/phone/PhonePlatform.h"

namespace flashwise::phone {

namespace {

constexpr wchar_t kVersionKey[] = L"KROV\\SYSVERSION";
constexpr DWORD kIdentityBufferBytes = 2048;

std::optional<RomRecord> QueryRomRecord()
{
    KernelIoControlFn kernelIoControl = LoadKernelIoControl();
    if (!kernelIoControl)
        return std::nullopt;
    RomRecord record = EmptyRomRecord();
    DWORD returned = 0;
    if (!kernelIoControl(kIoctlRomInfo, record.data(), kRomRecordSize, record.data(),
                         kRomRecordSize, &returned))
        return std::nullopt;
    return record;
}

// The identity goes into the registry as the whole buffer, terminator and padding included.
void QueryIdentity(wchar_t (&identity)[kIdentityBufferBytes / sizeof(wchar_t)])
{
    ZeroMemory(identity, sizeof identity);
    if (GetSystemParameter(kSpiGetOemInfo, kOemInfoBufferSize, identity, 0))
        return;
    const std::u16string text = IdentityAfterFailedQuery(GetLastError());
    ZeroMemory(identity, sizeof identity);
    for (std::size_t i = 0; i < text.size(); ++i)
        identity[i] = static_cast<wchar_t>(text[i]);
}

LONG SetText(HKEY key, const wchar_t* name, const std::u16string& text)
{
    std::wstring wide(text.begin(), text.end());
    return RegistrySetValue(key, name, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                            static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

int HelperMain()
{
    const VersionTexts texts = MakeVersionTexts(QueryRomRecord(), QueryRadioRevision());
    static wchar_t identity[kIdentityBufferBytes / sizeof(wchar_t)];
    QueryIdentity(identity);

    HKEY key = nullptr;
    if (RegistryOpenKey(HKEY_LOCAL_MACHINE, kVersionKey, &key) == ERROR_SUCCESS) {
        RegistryDeleteValue(key, L"ID");
    } else {
        DWORD disposition = 0;
        if (RegistryCreateKey(HKEY_LOCAL_MACHINE, kVersionKey, &key, &disposition) != ERROR_SUCCESS)
            return 1;
    }
    LONG failed = RegistrySetValue(key, L"ID", REG_SZ, reinterpret_cast<const BYTE*>(identity),
                                   kIdentityBufferBytes);
    failed |= SetText(key, L"vROM", texts.rom);
    failed |= SetText(key, L"vExtROM", texts.extRom);
    failed |= SetText(key, L"vRadio", texts.radio);
    RegistryCloseKey(key);
    return failed == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace flashwise::phone
