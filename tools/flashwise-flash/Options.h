#pragma once
// The command line of flashwise-flash.

#include <cstdint>
#include <string>
#include <vector>

namespace flashwise::flash {

struct Options {
    bool help = false;
    bool info = false;
    bool json = false;
    bool dryRun = false;
    bool bootLoaderPass = false;
    bool usb = false;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string serial;   // tty path, empty when --usb
    std::string release;
};

// False with a one-line reason when the command line is wrong.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

extern const char kHelpText[];

}  // namespace flashwise::flash
