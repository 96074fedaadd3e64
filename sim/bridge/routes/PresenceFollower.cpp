#include "sim/bridge/routes/PresenceFollower.h"

#include <windows.h>

#include <cstdio>

#include "sim/bridge/routes/InterfaceRegistry.h"
#include "sim/phone/win/PhoneStore.h"
#include "sim/phone/win/WorldLogFile.h"

namespace flashwise::bridge::routes {

namespace {

// A restart is seen within this; the program's own waits for the boot loader are
// seconds long, so the interface is there well before they give up.
constexpr DWORD kPollMs = 20;

}  // namespace

int FollowPhone(std::uint32_t lifetimeMs) {
    const DWORD started = GetTickCount();
    int shown = -1;  // the presence set last; none yet
    do {
        // A state that cannot be read now (another process holds it past the bound) is
        // read again at the next poll; the presence stays as it was.
        const auto settings = simphone::CurrentPhoneSettings();
        const int wanted = settings ? (settings->inBootLoader ? 1 : 0) : shown;
        if (wanted != -1 && wanted != shown) {
            // Discovery must agree before the change is reported: a test that has seen
            // the act may look at once.
            if (!SetInterfacePresent(wanted == 1) || CountPresentInterfaces(true) != wanted) {
                std::fprintf(stderr, "BootLoaderRoutes: the interface could not be made %s\n",
                             wanted == 1 ? "present" : "absent");
                simphone::LogWorldAct("usb", "interface-failed", {{"present", std::to_string(wanted)}});
                return 1;
            }
            shown = wanted;
            simphone::LogWorldAct("usb", "interface", {{"present", std::to_string(wanted)}});
        }
        Sleep(kPollMs);
    } while (GetTickCount() - started < lifetimeMs);
    return 0;
}

}  // namespace flashwise::bridge::routes
