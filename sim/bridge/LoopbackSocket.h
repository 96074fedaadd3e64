#pragma once
// TCP on 127.0.0.1 only, the few calls the bridge and its clients make; one
// implementation per platform (LoopbackSocketPosix.cpp, LoopbackSocketWin.cpp).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace flashwise::bridge::net {

using Socket = std::intptr_t;
constexpr Socket kNoSocket = -1;

bool Startup();  // once per process before any other call
// Listens on 127.0.0.1:`port` (0: any free port); `bound` receives the port.
Socket ListenLoopback(std::uint16_t port, std::uint16_t* bound);
Socket Accept(Socket listener);
Socket ConnectLoopback(std::uint16_t port);
// Waits up to `timeoutMs` for any of `sockets` to become readable (or closed);
// `ready` gets one flag per socket. -1 on failure, else the number ready.
int WaitReadable(const std::vector<Socket>& sockets, std::uint32_t timeoutMs, std::vector<bool>* ready);
// Bytes received; 0 when the peer has closed; -1 on failure.
long Receive(Socket socket, std::uint8_t* buffer, std::size_t size);
bool SendAll(Socket socket, const std::uint8_t* data, std::size_t size);
void Close(Socket socket);

}  // namespace flashwise::bridge::net
