#pragma once
// The stand-in's side of the framing: one connection to the bridge, one request and
// its answer at a time (callers on several threads take turns). A connection that
// breaks, or an answer that does not come within the bound, counts as the device gone.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/bridge/Framing.h"
#include "sim/bridge/LoopbackSocket.h"

namespace flashwise::bridge {

class BridgeClient {
public:
    explicit BridgeClient(std::uint32_t answerBoundMs = 30000) : answerBoundMs_(answerBoundMs) {}
    ~BridgeClient();
    BridgeClient(const BridgeClient&) = delete;
    BridgeClient& operator=(const BridgeClient&) = delete;

    // Connects and greets; false (with the bridge's reason in `error`) when refused.
    bool Connect(std::uint16_t port, std::uint8_t transport, std::string* error = nullptr);
    bool Connected() const { return socket_ != net::kNoSocket; }
    // Sends a Bye when connected, then closes.
    void Disconnect();

    // One request and its answer; false when the connection failed (then closed).
    bool Request(MsgType type, const std::vector<std::uint8_t>& payload, Message* answer);

private:
    bool RequestLocked(MsgType type, const std::vector<std::uint8_t>& payload, Message* answer);
    void CloseLocked();

    std::mutex lock_;
    net::Socket socket_ = net::kNoSocket;
    FrameReader reader_;
    std::uint32_t answerBoundMs_;
};

// "PORT" or "127.0.0.1:PORT" -> port; false for anything else.
bool ParseBridgeAddress(const std::string& text, std::uint16_t* port);

}  // namespace flashwise::bridge
