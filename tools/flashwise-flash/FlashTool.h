#pragma once
// flashwise-flash: writes a shipped release to a phone already in its boot loader, from
// Linux, through the same links the wizard uses. The verbs live one to a file; this is
// the entry they share, callable in process so tests can drive it.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/ConnManagerVista.h"
#include "link/Pause.h"

namespace flashwise::flash {

// Exit statuses, as --help lists them.
enum ExitCode : int {
    kExitWritten = 0,          // the phone was written (or --info, --dry-run, --help went well)
    kExitUsage = 1,            // the command line is wrong
    kExitNotARelease = 2,      // the file is not a release, or its image fails its check; nothing opened
    kExitNoDevice = 3,         // the device could not be opened; nothing sent
    kExitTransferFailed = 4,   // a unit was refused or the device went away; the phone is not written
};

// What the process gives the tool; tests pass their own.
struct Environment {
    PauseFn pause = RealPause();
    ClockFn clock = RealClock();
    BulkTransferBounds usbBounds;
    std::uint32_t serialEventWaitMs = kSerialEventWaitMs;
    bool terminal = false;     // progress rewrites one line instead of printing plain lines
};

int RunFlashTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const Environment& env);

}  // namespace flashwise::flash
