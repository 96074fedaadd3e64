#pragma once
// The bridge process's loop: listens on 127.0.0.1, serves every connection from the
// one simulated boot loader, keeps the result files current and ends when told to
// (a Quit message) or when nothing has arrived for the idle timeout.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "sim/bridge/BridgeOptions.h"

namespace flashwise::bridge {

enum class ServerEnd { Quit, Idle, Failed };

class BridgeServer {
public:
    explicit BridgeServer(const BridgeOptions& options);
    // Binds the port and prepares the results folder; false with the reason in `error`.
    bool Start(std::string* error);
    std::uint16_t Port() const { return port_; }
    // Serves until the end; `stop` (if given) is looked at between waits.
    ServerEnd Run(const std::atomic<bool>* stop = nullptr);
    ~BridgeServer();

private:
    BridgeOptions options_;
    std::intptr_t listener_ = -1;
    std::uint16_t port_ = 0;
};

// Writes `port` as decimal text to `path` by way of a temporary name, so a reader sees
// either nothing or the whole number.
bool WritePortFile(const std::string& path, std::uint16_t port);

}  // namespace flashwise::bridge
