// BootLoaderBridge: the simulated boot loader as a process of its own, reached over
// 127.0.0.1 by the stand-ins that run under Wine in the boot loader's place.

#include <cstdio>
#include <string>
#include <vector>

#include "sim/bridge/BridgeOptions.h"
#include "sim/bridge/BridgeServer.h"

int main(int argc, char** argv) {
    using namespace flashwise::bridge;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(BridgeUsage(), stdout);
        return 0;
    }
    BridgeOptions options;
    std::string error;
    if (!ParseBridgeOptions(args, &options, &error)) {
        std::fprintf(stderr, "BootLoaderBridge: %s\n%s", error.c_str(), BridgeUsage());
        return 2;
    }
    BridgeServer server(options);
    if (!server.Start(&error)) {
        std::fprintf(stderr, "BootLoaderBridge: %s\n", error.c_str());
        return 1;
    }
    std::printf("BootLoaderBridge listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.Port()));
    std::fflush(stdout);
    switch (server.Run()) {
        case ServerEnd::Quit: return 0;
        case ServerEnd::Idle:
            std::fprintf(stderr, "BootLoaderBridge: idle for %u ms, ending\n",
                         static_cast<unsigned>(options.idleTimeoutMs));
            return 3;
        case ServerEnd::Failed: break;
    }
    return 1;
}
