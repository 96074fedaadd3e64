// DeviceMode.exe: marks the phone to start its boot loader at the next restart.

#include "helpers/phone/HelperEntry.h"
#include "helpers/phone/PhonePlatform.h"

namespace flashwise::phone {

int HelperMain()
{
    if (KernelIoControlFn kernelIoControl = LoadKernelIoControl()) {
        DWORD bootLoader = 1;
        DWORD returned = 0;
        kernelIoControl(kIoctlBootLoaderAtRestart, &bootLoader, sizeof bootLoader, nullptr, 0,
                        &returned);
    }
    // Nobody reads the outcome; the restart that follows shows it.
    return 0;
}

}  // namespace flashwise::phone
