// SysReboot.exe: restarts the phone at once.

#include "helpers/phone/HelperEntry.h"
#include "helpers/phone/PhonePlatform.h"

namespace flashwise::phone {

int HelperMain()
{
    return RequestSystemPowerState(nullptr, kPowerStateReset, kPowerForce) == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace flashwise::phone
