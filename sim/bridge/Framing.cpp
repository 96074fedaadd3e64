#include "sim/bridge/Framing.h"

namespace flashwise::bridge {

namespace {

void PutWord(std::vector<std::uint8_t>* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t GetWord(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::vector<std::uint8_t> EncodeFrame(MsgType type, const std::uint8_t* payload, std::size_t size) {
    std::vector<std::uint8_t> frame;
    frame.reserve(5 + size);
    PutWord(&frame, static_cast<std::uint32_t>(size + 1));
    frame.push_back(static_cast<std::uint8_t>(type));
    if (size > 0) frame.insert(frame.end(), payload, payload + size);
    return frame;
}

std::vector<std::uint8_t> EncodeFrame(const Message& message) {
    return EncodeFrame(message.type, message.payload.data(), message.payload.size());
}

std::vector<std::uint8_t> EncodeWord(std::uint32_t value) {
    std::vector<std::uint8_t> out;
    PutWord(&out, value);
    return out;
}

std::vector<std::uint8_t> HelloPayload(std::uint8_t transport) {
    return {'F', 'W', 'B', 'L', kProtocolVersion, transport};
}

bool DecodeWord(const std::vector<std::uint8_t>& payload, std::uint32_t* value) {
    if (payload.size() != 4) return false;
    *value = GetWord(payload.data());
    return true;
}

void FrameReader::Feed(const std::uint8_t* data, std::size_t size) {
    if (broken_ || size == 0) return;
    // Drop what has been taken before the buffer grows again.
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    } else if (start_ > 65536) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

bool FrameReader::Next(Message* message) {
    if (broken_ || Buffered() < 4) return false;
    const std::uint32_t length = GetWord(buffer_.data() + start_);
    if (length == 0 || length > kMaxPayload + 1) {
        broken_ = true;
        return false;
    }
    if (Buffered() < 4 + static_cast<std::size_t>(length)) return false;
    const std::uint8_t* at = buffer_.data() + start_ + 4;
    message->type = static_cast<MsgType>(at[0]);
    message->payload.assign(at + 1, at + length);
    start_ += 4 + length;
    return true;
}

const char* TypeName(MsgType type) {
    switch (type) {
        case MsgType::Hello: return "hello";
        case MsgType::Line: return "line";
        case MsgType::Write: return "write";
        case MsgType::Read: return "read";
        case MsgType::TakeEvents: return "take-events";
        case MsgType::Bye: return "bye";
        case MsgType::Quit: return "quit";
        case MsgType::Ok: return "ok";
        case MsgType::Gone: return "gone";
        case MsgType::Data: return "data";
        case MsgType::Nothing: return "nothing";
        case MsgType::Zlp: return "zlp";
        case MsgType::Events: return "events";
        case MsgType::Refused: return "refused";
    }
    return "unknown";
}

}  // namespace flashwise::bridge
