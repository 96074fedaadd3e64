#include "sim/bridge/BridgeClient.h"

#include <cstdlib>

namespace flashwise::bridge {

BridgeClient::~BridgeClient() { Disconnect(); }

bool BridgeClient::Connect(std::uint16_t port, std::uint8_t transport, std::string* error) {
    std::lock_guard<std::mutex> guard(lock_);
    CloseLocked();
    if (!net::Startup()) {
        if (error) *error = "the socket library did not start";
        return false;
    }
    socket_ = net::ConnectLoopback(port);
    if (socket_ == net::kNoSocket) {
        if (error) *error = "no bridge on 127.0.0.1:" + std::to_string(port);
        return false;
    }
    Message answer;
    if (!RequestLocked(MsgType::Hello, HelloPayload(transport), &answer)) {
        if (error) *error = "the bridge did not answer the greeting";
        return false;
    }
    if (answer.type != MsgType::Ok) {
        if (error) *error = "refused: " + std::string(answer.payload.begin(), answer.payload.end());
        CloseLocked();
        return false;
    }
    return true;
}

void BridgeClient::Disconnect() {
    std::lock_guard<std::mutex> guard(lock_);
    if (socket_ == net::kNoSocket) return;
    Message answer;
    RequestLocked(MsgType::Bye, {}, &answer);
    CloseLocked();
}

void BridgeClient::CloseLocked() {
    net::Close(socket_);
    socket_ = net::kNoSocket;
    reader_ = FrameReader();
}

bool BridgeClient::Request(MsgType type, const std::vector<std::uint8_t>& payload, Message* answer) {
    std::lock_guard<std::mutex> guard(lock_);
    return RequestLocked(type, payload, answer);
}

bool BridgeClient::RequestLocked(MsgType type, const std::vector<std::uint8_t>& payload, Message* answer) {
    if (socket_ == net::kNoSocket) return false;
    const auto frame = EncodeFrame(type, payload.data(), payload.size());
    if (!net::SendAll(socket_, frame.data(), frame.size())) {
        CloseLocked();
        return false;
    }
    std::uint8_t buffer[16 * 1024];
    while (!reader_.Next(answer)) {
        std::vector<bool> ready;
        if (reader_.Broken() || net::WaitReadable({socket_}, answerBoundMs_, &ready) <= 0) {
            CloseLocked();
            return false;
        }
        const long n = net::Receive(socket_, buffer, sizeof buffer);
        if (n <= 0) {
            CloseLocked();
            return false;
        }
        reader_.Feed(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

bool ParseBridgeAddress(const std::string& text, std::uint16_t* port) {
    std::string digits = text;
    const std::string host = "127.0.0.1:";
    if (digits.compare(0, host.size(), host) == 0) digits = digits.substr(host.size());
    if (digits.empty() || digits.size() > 5) return false;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
    }
    const long value = std::strtol(digits.c_str(), nullptr, 10);
    if (value <= 0 || value > 65535) return false;
    *port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace flashwise::bridge
