#include "tools/flashwise-flash/Options.h"

#include <cctype>
#include <cstdlib>

namespace flashwise::flash {

const char kHelpText[] =
    "usage: flashwise-flash --info [--json] RELEASE.exe\n"
    "       flashwise-flash (--usb VID:PID | --serial TTY) [--boot-loader-pass] [--dry-run] RELEASE.exe\n"
    "\n"
    "Writes the firmware image of a release executable, as shipped, to a phone that is\n"
    "already in its boot loader. The image is checked whole before any device is opened.\n"
    "\n"
    "  --info               print the release's model, languages, versions and image units\n"
    "  --json               with --info: the same as JSON\n"
    "  --usb VID:PID        the boot loader on USB, by its vendor and product ids in hex\n"
    "                       (read them with lsusb while the phone shows its boot loader)\n"
    "  --serial TTY         the boot loader's serial device, e.g. /dev/ttyUSB0 or /dev/ttyACM0\n"
    "  --boot-loader-pass   send the release's boot-loader image first, then the main image.\n"
    "                       A phone that still runs the older system (Windows CE 5.1) needs\n"
    "                       it; a phone with the newer system does not.\n"
    "  --dry-run            open and check everything, send nothing\n"
    "  --help               this text\n"
    "\n"
    "Exit status: 0 the phone was written (or --info/--dry-run/--help succeeded);\n"
    "1 wrong command line; 2 not a release, or its image fails its check (no device opened;\n"
    "--info still prints what it found);\n"
    "3 no device could be opened (nothing sent); 4 the transfer failed (the phone is not written).\n";

namespace {

bool ParseHex16(const std::string& text, std::uint16_t* value) {
    if (text.empty() || text.size() > 4) return false;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    *value = static_cast<std::uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
    return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* o, std::string* error) {
    *o = Options{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            o->help = true;
        } else if (a == "--info") {
            o->info = true;
        } else if (a == "--json") {
            o->json = true;
        } else if (a == "--dry-run") {
            o->dryRun = true;
        } else if (a == "--boot-loader-pass") {
            o->bootLoaderPass = true;
        } else if (a == "--usb") {
            const std::string id = hasValue ? args[++i] : "";
            const auto colon = id.find(':');
            if (colon == std::string::npos || !ParseHex16(id.substr(0, colon), &o->vendor) ||
                !ParseHex16(id.substr(colon + 1), &o->product)) {
                *error = "--usb wants VID:PID in hex, e.g. --usb f1a5:b007 (see lsusb)";
                return false;
            }
            o->usb = true;
        } else if (a == "--serial") {
            if (!hasValue) {
                *error = "--serial wants a device, e.g. --serial /dev/ttyUSB0";
                return false;
            }
            o->serial = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            *error = "unknown option " + a;
            return false;
        } else if (o->release.empty()) {
            o->release = a;
        } else {
            *error = "one release at a time (" + o->release + " and " + a + ")";
            return false;
        }
    }
    if (o->help) return true;
    if (o->release.empty()) {
        *error = "name the release executable";
        return false;
    }
    if (o->info) {
        if (o->usb || !o->serial.empty() || o->dryRun || o->bootLoaderPass) {
            *error = "--info opens no device; drop the device options";
            return false;
        }
        return true;
    }
    if (o->json) {
        *error = "--json goes with --info";
        return false;
    }
    if (o->usb == !o->serial.empty()) {
        *error = "name the device: --usb VID:PID or --serial TTY (one of them)";
        return false;
    }
    return true;
}

}  // namespace flashwise::flash
