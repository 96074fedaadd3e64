// What reaches the bridge over its socket: frames cut from the byte stream whatever
// pieces it arrives in, each request answered by the bridge service and its simulated
// boot loader, as the server does. A connection that ends (refused, Bye, a broken
// stream) is followed by a fresh one on the rest of the input; the device stays.
//
// Input: one byte of choices (bit 0: WinUSB instead of serial; the rest, plus one,
// the size of the pieces the stream arrives in), then the stream.

#include <memory>

#include "sim/BootLoaderSim.h"
#include "sim/bridge/BridgeService.h"
#include "sim/bridge/Framing.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using namespace flashwise;
using bridge::Message;
using bridge::MsgType;

bool IsAnswer(MsgType type) {
    switch (type) {
        case MsgType::Ok:
        case MsgType::Gone:
        case MsgType::Data:
        case MsgType::Nothing:
        case MsgType::Zlp:
        case MsgType::Events:
        case MsgType::Refused: return true;
        default: return false;
    }
}

// The answer's frame read back by a stand-in: exactly the one message.
void CheckAnswerFrame(const Message& answer) {
    const auto frame = bridge::EncodeFrame(answer);
    bridge::FrameReader standIn;
    standIn.Feed(frame.data(), frame.size());
    Message back;
    FUZZ_CHECK(standIn.Next(&back));
    FUZZ_CHECK(back.type == answer.type && back.payload == answer.payload);
    FUZZ_CHECK(standIn.Buffered() == 0 && !standIn.Next(&back));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    const std::uint8_t choices = in.Byte();
    const sim::Transport transport = (choices & 1) ? sim::Transport::WinUsb : sim::Transport::Serial;
    const std::size_t piece = static_cast<std::size_t>(choices >> 1) + 1;

    sim::BootLoaderSim device(transport, sim::FlashStore::Mode::DigestOnly);
    bridge::BridgeService service(device, transport);
    auto reader = std::make_unique<bridge::FrameReader>();
    bridge::ConnectionState connection;

    while (in.Left() > 0 && !service.QuitRequested()) {
        const std::size_t n = piece < in.Left() ? piece : in.Left();
        reader->Feed(in.Rest(), n);
        in.Skip(n);
        Message request;
        while (!connection.closing && reader->Next(&request)) {
            const Message answer = service.Handle(request, &connection);
            FUZZ_CHECK(IsAnswer(answer.type));
            if (answer.type == MsgType::Data) {
                std::uint32_t asked = 0;
                FUZZ_CHECK(bridge::DecodeWord(request.payload, &asked));
                FUZZ_CHECK(!answer.payload.empty() && answer.payload.size() <= asked);
            }
            CheckAnswerFrame(answer);
        }
        if (reader->Broken()) {
            FUZZ_CHECK(!reader->Next(&request));
            connection.closing = true;
        }
        if (connection.closing) {
            reader = std::make_unique<bridge::FrameReader>();
            connection = bridge::ConnectionState();
        }
    }
    return 0;
}
