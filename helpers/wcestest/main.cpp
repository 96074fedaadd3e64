// wcestest.exe: switches the connection types of the desktop synchronisation software.

#include <cstdio>
#include <string>
#include <vector>

#include "helpers/wcestest/ConnectionSwitch.h"
#include "helpers/wcestest/DccManWindow.h"

int main(int argc, char** argv)
{
    using namespace flashwise::wcestest;
    const std::vector<std::string> args(argv + 1, argv + argc);
    DccManWindow window;
    const SwitchOutcome outcome =
        RunSwitch(args, ProgramName(argc > 0 ? argv[0] : ""), window);
    std::fputs(outcome.consoleText.c_str(), stdout);
    std::fflush(stdout);
    return outcome.exitCode;
}
