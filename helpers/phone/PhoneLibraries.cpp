#include "helpers/phone/PhonePlatform.h"

namespace flashwise::phone {

HMODULE LoadPhoneLibrary(const wchar_t* name)
{
    return LoadLibraryW(name);
}

void* FindPhoneExport(HMODULE module, const char* name)
{
    if (module == nullptr)
        return nullptr;
#ifdef UNDER_CE
    // The phone's loader looks exports up by wide name.
    wchar_t wide[64] = {};
    for (int i = 0; i < 63 && name[i] != '\0'; ++i)
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    return reinterpret_cast<void*>(GetProcAddressW(module, wide));
#else
    return reinterpret_cast<void*>(GetProcAddress(module, name));
#endif
}

KernelIoControlFn LoadKernelIoControl()
{
    return reinterpret_cast<KernelIoControlFn>(
        FindPhoneExport(LoadPhoneLibrary(L"COREDLL.DLL"), "KernelIoControl"));
}

}  // namespace flashwise::phone
