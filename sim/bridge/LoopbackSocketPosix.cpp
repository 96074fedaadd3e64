#include "sim/bridge/LoopbackSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

void NoDelay(int s) {
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

bool Startup() {
    // A peer that goes away must fail a send, not end the process.
    signal(SIGPIPE, SIG_IGN);
    return true;
}

Socket ListenLoopback(std::uint16_t port, std::uint16_t* bound) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return kNoSocket;
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = Loopback(port);
    socklen_t length = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 8) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        close(s);
        return kNoSocket;
    }
    *bound = ntohs(a.sin_port);
    return s;
}

Socket Accept(Socket listener) {
    const int s = accept(static_cast<int>(listener), nullptr, nullptr);
    if (s < 0) return kNoSocket;
    NoDelay(s);
    return s;
}

Socket ConnectLoopback(std::uint16_t port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return kNoSocket;
    sockaddr_in a = Loopback(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return kNoSocket;
    }
    NoDelay(s);
    return s;
}

int WaitReadable(const std::vector<Socket>& sockets, std::uint32_t timeoutMs, std::vector<bool>* ready) {
    std::vector<pollfd> fds(sockets.size());
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        fds[i].fd = static_cast<int>(sockets[i]);
        fds[i].events = POLLIN;
        fds[i].revents = 0;
    }
    int n;
    do {
        n = poll(fds.data(), fds.size(), static_cast<int>(timeoutMs));
    } while (n < 0 && errno == EINTR);
    ready->assign(sockets.size(), false);
    if (n < 0) return -1;
    for (std::size_t i = 0; i < sockets.size(); ++i) (*ready)[i] = fds[i].revents != 0;
    return n;
}

long Receive(Socket socket, std::uint8_t* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = recv(static_cast<int>(socket), buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<long>(n);
}

bool SendAll(Socket socket, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void Close(Socket socket) {
    if (socket != kNoSocket) close(static_cast<int>(socket));
}

}  // namespace flashwise::bridge::net
