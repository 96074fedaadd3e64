#pragma once
// The bridge's answers: one simulated boot loader, shared by every connection the
// stand-ins make (the phone stays the same phone when the host reopens it), driven by
// the messages of Framing.h. No sockets here: the server feeds it whole messages.
//
// A greeting accepted while no other greeted connection is open starts a new session of
// the device (BootLoaderSim::NewSession): a host that comes back after the link broke,
// or after the one before it was killed half-way through a unit, starts from a clean
// exchange and finds a vanished device back. While another host's connection is open
// the session is that host's, and a second greeting joins it unchanged.

#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "sim/BootLoaderSim.h"
#include "sim/bridge/Framing.h"

namespace flashwise::bridge {

// What one connection has told the bridge so far.
struct ConnectionState {
    bool greeted = false;
    bool closing = false;  // answer sent, then the connection ends (Bye, a refused greeting)
};

class BridgeService {
public:
    // `onUnitJudged` runs whenever the device has judged a unit or taken an
    // end-of-transfer block, before the answer to the host's write goes out, so a
    // host that has seen the result finds the results written.
    BridgeService(sim::BootLoaderSim& device, sim::Transport transport, std::function<void()> onUnitJudged = {});

    Message Handle(const Message& request, ConnectionState* connection);
    // While `refusal` gives a reason, greetings are refused with it, so the host's open
    // fails as for a device that is not there or is in use. Without it, always open.
    void SetOpenRefusal(std::function<std::string()> refusal) { refusal_ = std::move(refusal); }
    // The server is done with this connection: it no longer holds the session.
    void Forget(const ConnectionState* connection) { greeted_.erase(connection); }
    bool QuitRequested() const { return quit_; }
    std::uint64_t Requests() const { return requests_; }

private:
    Message Refuse(const std::string& why, ConnectionState* connection);
    bool AnotherHostIsOpen(const ConnectionState* connection) const;

    sim::BootLoaderSim& device_;
    sim::Transport transport_;
    std::function<void()> onUnitJudged_;
    std::function<std::string()> refusal_;
    std::set<const ConnectionState*> greeted_;
    bool sessionBegun_ = false;
    bool quit_ = false;
    std::uint64_t requests_ = 0;
};

}  // namespace flashwise::bridge
