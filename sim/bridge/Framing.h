#pragma once
// The messages between a stand-in for the boot loader's USB function (a serial driver
// or a WinUSB library running under Wine) and the bridge process that holds the
// simulated boot loader. Every message is one frame:
//
//   u32 length (little-endian; counts the type byte and the payload) | u8 type | payload
//
// The stand-in asks, the bridge answers each request with exactly one message, in
// order. The full description is in sim/bridge/FRAMING.md.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace flashwise::bridge {

enum class MsgType : std::uint8_t {
    // stand-in -> bridge
    Hello = 0x01,       // "FWBL", u8 version, u8 transport (0 serial, 1 WinUSB)
    Line = 0x02,        // u8 0 (DTR cleared / value 0) or 1
    Write = 0x03,       // the bytes of one serial write / bulk OUT transfer
    Read = 0x04,        // u32 the most bytes the host takes
    TakeEvents = 0x05,  // u32 the host's event mask
    Bye = 0x06,         // the stand-in is done with this connection
    Quit = 0x07,        // the bridge writes its results and ends
    // bridge -> stand-in
    Ok = 0x80,          // done
    Gone = 0x81,        // the device has vanished: the call fails
    Data = 0x82,        // read: the bytes
    Nothing = 0x83,     // read: nothing waiting now
    Zlp = 0x84,         // read: a zero-length packet (WinUSB only)
    Events = 0x85,      // u32 the events taken, within the mask (0: none pending)
    Refused = 0x86,     // text: the request is not understood here
};

constexpr std::uint8_t kProtocolVersion = 1;
constexpr std::uint8_t kTransportSerial = 0;
constexpr std::uint8_t kTransportWinUsb = 1;
// A longer frame is a broken stream, not a message.
constexpr std::uint32_t kMaxPayload = 1u << 20;

struct Message {
    MsgType type = MsgType::Ok;
    std::vector<std::uint8_t> payload;
};

std::vector<std::uint8_t> EncodeFrame(MsgType type, const std::uint8_t* payload = nullptr, std::size_t size = 0);
std::vector<std::uint8_t> EncodeFrame(const Message& message);
std::vector<std::uint8_t> EncodeWord(std::uint32_t value);
std::vector<std::uint8_t> HelloPayload(std::uint8_t transport);

// Little-endian 32-bit word at `at` of `payload`; false when it is not there.
bool DecodeWord(const std::vector<std::uint8_t>& payload, std::uint32_t* value);

// Cuts a byte stream into messages, whatever pieces it arrives in.
class FrameReader {
public:
    void Feed(const std::uint8_t* data, std::size_t size);
    // The next whole message, if one has arrived.
    bool Next(Message* message);
    // A frame that announced a length of 0 or above the limit: nothing after it can be trusted.
    bool Broken() const { return broken_; }
    std::size_t Buffered() const { return buffer_.size() - start_; }

private:
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;
    bool broken_ = false;
};

const char* TypeName(MsgType type);

}  // namespace flashwise::bridge
