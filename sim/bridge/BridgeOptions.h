#pragma once
// The bridge's command line:
//
//   BootLoaderBridge --out DIR [--transport serial|winusb] [--port N] [--port-file FILE]
//                    [--idle-timeout-ms N] [--progress-records N] [--digest]
//                    [--capture] [--hex-limit N] [--fault SPEC]... [--phone FOLDER]
//
// With --phone the device follows the simulated phone in FOLDER: unplugged until its
// phone.ini says mode=bootloader, present from then on.
//
// A fault SPEC is what:step[:unit[:value[:count]]], for example
//   silent:announce:1   result-code:data:2:0x88   zero-length-packets:data:0:0:3
//   vanish:data:1:0:5000   shift-record:announce:0:0xEE:3
// what: silent shift-record result-code readiness-word unknown-results
//       zero-length-packets reject-checksum vanish
// step: announce request header data end-of-transfer

#include <cstdint>
#include <string>
#include <vector>

#include "sim/BootLoaderSim.h"
#include "sim/DeviceFault.h"

namespace flashwise::bridge {

struct BridgeOptions {
    sim::Transport transport = sim::Transport::WinUsb;
    std::uint16_t port = 0;  // 0: any free port
    std::string portFile;
    std::string outFolder;
    std::uint32_t idleTimeoutMs = 120000;
    int progressRecords = 3;
    bool digest = false;
    bool capture = false;
    std::size_t hexLimit = 64;
    std::vector<sim::DeviceFault> faults;
    std::string phoneFolder;  // empty: the device is there from the start
    std::uint32_t writeBytesPerSecond = 0;  // 0: every write is answered at once
};

bool ParseFault(const std::string& text, sim::DeviceFault* fault, std::string* error);
// False with the reason in `error` for an unknown or malformed argument.
bool ParseBridgeOptions(const std::vector<std::string>& args, BridgeOptions* options, std::string* error);
const char* BridgeUsage();

}  // namespace flashwise::bridge
