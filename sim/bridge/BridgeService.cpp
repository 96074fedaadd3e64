#include "sim/bridge/BridgeService.h"

#include <utility>

namespace flashwise::bridge {

namespace {

Message Answer(MsgType type, std::vector<std::uint8_t> payload = {}) {
    Message m;
    m.type = type;
    m.payload = std::move(payload);
    return m;
}

}  // namespace

BridgeService::BridgeService(sim::BootLoaderSim& device, sim::Transport transport, std::function<void()> onUnitJudged)
    : device_(device), transport_(transport), onUnitJudged_(std::move(onUnitJudged)) {}

Message BridgeService::Refuse(const std::string& why, ConnectionState* connection) {
    if (!connection->greeted) connection->closing = true;
    return Answer(MsgType::Refused, std::vector<std::uint8_t>(why.begin(), why.end()));
}

bool BridgeService::AnotherHostIsOpen(const ConnectionState* connection) const {
    for (const ConnectionState* other : greeted_) {
        if (other != connection && other->greeted && !other->closing) return true;
    }
    return false;
}

Message BridgeService::Handle(const Message& request, ConnectionState* connection) {
    ++requests_;
    if (request.type == MsgType::Hello) {
        const auto& p = request.payload;
        if (p.size() != 6 || p[0] != 'F' || p[1] != 'W' || p[2] != 'B' || p[3] != 'L') {
            connection->greeted = false;
            return Refuse("not a greeting", connection);
        }
        if (p[4] != kProtocolVersion) return Refuse("protocol version " + std::to_string(p[4]), connection);
        const std::uint8_t wanted = transport_ == sim::Transport::Serial ? kTransportSerial : kTransportWinUsb;
        if (p[5] != wanted) {
            return Refuse(transport_ == sim::Transport::Serial ? "this device is on the serial transport"
                                                               : "this device is on the WinUSB transport",
                          connection);
        }
        if (refusal_) {
            const std::string why = refusal_();
            if (!why.empty()) return Refuse(why, connection);
        }
        if (sessionBegun_ && !AnotherHostIsOpen(connection)) device_.NewSession();
        sessionBegun_ = true;
        connection->greeted = true;
        greeted_.insert(connection);
        return Answer(MsgType::Ok);
    }
    if (request.type == MsgType::Quit) {
        quit_ = true;
        connection->closing = true;
        return Answer(MsgType::Ok);
    }
    if (request.type == MsgType::Bye) {
        connection->closing = true;
        return Answer(MsgType::Ok);
    }
    if (!connection->greeted) return Refuse("greet first", connection);

    switch (request.type) {
        case MsgType::Line: {
            if (request.payload.size() != 1 || request.payload[0] > 1) return Refuse("line takes 0 or 1", connection);
            return Answer(device_.LineState(request.payload[0] == 1) ? MsgType::Ok : MsgType::Gone);
        }
        case MsgType::Write: {
            const std::size_t judged = device_.Verdicts().size();
            const int ends = device_.EndTransfers();
            const bool ok = device_.HostWrite(request.payload.data(), request.payload.size());
            if (onUnitJudged_ && (device_.Verdicts().size() != judged || device_.EndTransfers() != ends)) {
                onUnitJudged_();
            }
            return Answer(ok ? MsgType::Ok : MsgType::Gone);
        }
        case MsgType::Read: {
            std::uint32_t max = 0;
            if (!DecodeWord(request.payload, &max) || max > kMaxPayload) {
                return Refuse("read takes a size up to 1 MiB", connection);
            }
            std::vector<std::uint8_t> buffer(max);
            const sim::ReadResult r = device_.HostRead(buffer.data(), buffer.size());
            switch (r.kind) {
                case sim::ReadKind::Data:
                    buffer.resize(r.count);
                    return Answer(MsgType::Data, std::move(buffer));
                case sim::ReadKind::ZeroLengthPacket: return Answer(MsgType::Zlp);
                case sim::ReadKind::Gone: return Answer(MsgType::Gone);
                case sim::ReadKind::Nothing: break;
            }
            return Answer(MsgType::Nothing);
        }
        case MsgType::TakeEvents: {
            std::uint32_t mask = 0;
            if (!DecodeWord(request.payload, &mask)) return Refuse("take-events takes a mask", connection);
            const sim::CommEvents events = device_.TakeCommEvents();
            if (events.gone) return Answer(MsgType::Gone);
            return Answer(MsgType::Events, EncodeWord(events.mask & mask));
        }
        default: break;
    }
    return Refuse(std::string("unknown request ") + std::to_string(static_cast<int>(request.type)), connection);
}

}  // namespace flashwise::bridge
