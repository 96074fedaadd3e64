// flashwise-flash: writes a shipped release to a phone in its boot loader, from Linux.
// flashwise-flash --help lists the options and the exit statuses.

#include <unistd.h>

#include <string>
#include <vector>

#include "tools/flashwise-flash/FlashTool.h"
#include "tools/flashwise-flash/Interrupt.h"

int main(int argc, char** argv) {
    flashwise::flash::CleanUpOnInterrupt();
    std::vector<std::string> args(argv + 1, argv + argc);
    flashwise::flash::Environment env;
    env.terminal = isatty(STDOUT_FILENO) != 0;
    return flashwise::flash::RunFlashTool(args, stdout, stderr, env);
}
