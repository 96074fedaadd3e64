#include "sim/bridge/BridgeServer.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "sim/bridge/BridgeService.h"
#include "sim/bridge/Framing.h"
#include "sim/bridge/LoopbackSocket.h"
#include "sim/bridge/PhoneModeWatch.h"
#include "sim/bridge/ResultFiles.h"

namespace flashwise::bridge {

namespace {

// More stand-ins than this at once means something leaks connections.
constexpr std::size_t kMaxConnections = 32;
constexpr std::uint32_t kPollMs = 200;

struct Connection {
    net::Socket socket = net::kNoSocket;
    FrameReader reader;
    ConnectionState state;
};

std::uint64_t NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace

bool WritePortFile(const std::string& path, std::uint16_t port) {
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::trunc);
        if (!out) return false;
        out << port << "\n";
        if (!out) return false;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    return !ec;
}

BridgeServer::BridgeServer(const BridgeOptions& options) : options_(options) {}

BridgeServer::~BridgeServer() { net::Close(listener_); }

bool BridgeServer::Start(std::string* error) {
    ResultFiles files(options_.outFolder);
    if (!files.Prepare(error)) return false;
    if (!net::Startup()) {
        *error = "the socket library did not start";
        return false;
    }
    listener_ = net::ListenLoopback(options_.port, &port_);
    if (listener_ == net::kNoSocket) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(options_.port);
        return false;
    }
    if (!options_.portFile.empty() && !WritePortFile(options_.portFile, port_)) {
        *error = "cannot write the port file " + options_.portFile;
        return false;
    }
    return true;
}

ServerEnd BridgeServer::Run(const std::atomic<bool>* stop) {
    sim::BootLoaderSim device(options_.transport,
                              options_.digest ? sim::FlashStore::Mode::DigestOnly : sim::FlashStore::Mode::Bytes);
    device.SetProgressRecords(options_.progressRecords);
    device.Capture().Enable(options_.capture);
    device.Capture().SetHexLimit(options_.hexLimit);
    for (const auto& f : options_.faults) device.AddFault(f);

    ResultFiles files(options_.outFolder);
    bool writeFailed = false;
    auto writeResults = [&] {
        if (!files.WriteResults(device)) writeFailed = true;
    };
    BridgeService service(device, options_.transport, writeResults);
    std::unique_ptr<PhoneModeWatch> phone;
    if (!options_.phoneFolder.empty()) {
        phone = std::make_unique<PhoneModeWatch>(options_.phoneFolder);
        service.SetOpenRefusal([&phone] { return phone->OpenRefusal(); });
    }
    writeResults();  // an empty store until the first unit

    std::vector<std::unique_ptr<Connection>> connections;
    std::uint64_t lastActivity = NowMs();
    ServerEnd end = ServerEnd::Idle;
    std::vector<std::uint8_t> buffer(64 * 1024);

    while (true) {
        if (stop != nullptr && stop->load()) {
            end = ServerEnd::Quit;
            break;
        }
        if (service.QuitRequested()) {
            end = ServerEnd::Quit;
            break;
        }
        if (NowMs() - lastActivity >= options_.idleTimeoutMs) {
            end = ServerEnd::Idle;
            break;
        }
        std::vector<net::Socket> sockets{listener_};
        for (const auto& c : connections) sockets.push_back(c->socket);
        std::vector<bool> ready;
        if (net::WaitReadable(sockets, kPollMs, &ready) < 0) {
            end = ServerEnd::Failed;
            break;
        }
        if (ready[0]) {
            const net::Socket s = net::Accept(listener_);
            if (s != net::kNoSocket) {
                lastActivity = NowMs();
                if (connections.size() >= kMaxConnections) {
                    net::Close(s);
                } else {
                    auto c = std::make_unique<Connection>();
                    c->socket = s;
                    connections.push_back(std::move(c));
                }
            }
        }
        for (std::size_t i = 1; i < ready.size(); ++i) {
            if (!ready[i]) continue;
            Connection& c = *connections[i - 1];
            const long n = net::Receive(c.socket, buffer.data(), buffer.size());
            if (n <= 0) {
                c.state.closing = true;
                continue;
            }
            lastActivity = NowMs();
            c.reader.Feed(buffer.data(), static_cast<std::size_t>(n));
            Message request;
            while (!c.state.closing && c.reader.Next(&request)) {
                const Message answer = service.Handle(request, &c.state);
                if (request.type == MsgType::Write && options_.writeBytesPerSecond != 0) {
                    // A phone's flash takes its time: the write is answered when it would be done.
                    std::this_thread::sleep_for(std::chrono::milliseconds(
                        request.payload.size() * 1000 / options_.writeBytesPerSecond));
                    lastActivity = NowMs();
                }
                const auto frame = EncodeFrame(answer);
                if (service.QuitRequested()) {
                    // The results are complete before the stand-in hears the answer.
                    writeResults();
                    if (!files.WriteCapture(device)) writeFailed = true;
                }
                if (!net::SendAll(c.socket, frame.data(), frame.size())) c.state.closing = true;
            }
            if (c.reader.Broken()) c.state.closing = true;
        }
        // Closed connections go; the device keeps what they did.
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->state.closing) {
                service.Forget(&(*it)->state);
                net::Close((*it)->socket);
                it = connections.erase(it);
                if (!files.WriteCapture(device)) writeFailed = true;
            } else {
                ++it;
            }
        }
    }
    for (auto& c : connections) net::Close(c->socket);
    writeResults();
    if (!files.WriteCapture(device)) writeFailed = true;
    if (writeFailed) {
        std::fprintf(stderr, "BootLoaderBridge: some result files could not be written in %s\n",
                     options_.outFolder.c_str());
        return ServerEnd::Failed;
    }
    return end;
}

}  // namespace flashwise::bridge
