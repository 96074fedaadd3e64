#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "sim/bridge/LoopbackSocket.h"

namespace flashwise::bridge::net {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

SOCKET Raw(Socket s) { return static_cast<SOCKET>(s); }
Socket Wrap(SOCKET s) { return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s); }

void NoDelay(SOCKET s) {
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

}  // namespace

bool Startup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Socket ListenLoopback(std::uint16_t port, std::uint16_t* bound) {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    sockaddr_in a = Loopback(port);
    int length = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 8) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    *bound = ntohs(a.sin_port);
    return Wrap(s);
}

Socket Accept(Socket listener) {
    const SOCKET s = accept(Raw(listener), nullptr, nullptr);
    if (s != INVALID_SOCKET) NoDelay(s);
    return Wrap(s);
}

Socket ConnectLoopback(std::uint16_t port) {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    sockaddr_in a = Loopback(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    NoDelay(s);
    return Wrap(s);
}

int WaitReadable(const std::vector<Socket>& sockets, std::uint32_t timeoutMs, std::vector<bool>* ready) {
    ready->assign(sockets.size(), false);
    fd_set set;
    FD_ZERO(&set);
    for (Socket s : sockets) FD_SET(Raw(s), &set);
    timeval t;
    t.tv_sec = static_cast<long>(timeoutMs / 1000);
    t.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    const int n = select(0, &set, nullptr, nullptr, &t);
    if (n == SOCKET_ERROR) return -1;
    for (std::size_t i = 0; i < sockets.size(); ++i) (*ready)[i] = FD_ISSET(Raw(sockets[i]), &set) != 0;
    return n;
}

long Receive(Socket socket, std::uint8_t* buffer, std::size_t size) {
    const int n = recv(Raw(socket), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    return n == SOCKET_ERROR ? -1 : static_cast<long>(n);
}

bool SendAll(Socket socket, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const int n = send(Raw(socket), reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void Close(Socket socket) {
    if (socket != kNoSocket) closesocket(Raw(socket));
}

}  // namespace flashwise::bridge::net
