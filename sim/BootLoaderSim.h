#pragma once
// The phone's boot loader, simulated: the peer of the download protocol, seen only
// through what crosses the link, so that any transport can drive it (in-process test
// adapters, a bridge for programs under Wine). Deterministic and synchronous: the
// device's replies are queued the moment the host's bytes are complete.
//
// The host side drives it with:
//   LineState   DTR on the serial link / vendor request 0x22 (value 0 or 1) on WinUSB
//   HostWrite   a serial write / a bulk OUT transfer
//   HostRead    a serial read / a bulk IN transfer
//   TakeCommEvents  what a serial WaitCommEvent would return now
//
// Serial events raised (the host waits for one after each request block, before and
// after the section header, and after the data):
//   - RXCHAR whenever the device queues bytes (the readiness reply, progress and result);
//   - CTS when it is ready for the next part of a unit: after a request block with
//     flag 0 (ready for the header) and after the header (ready for the data).
// Events accumulate until taken, as the serial driver keeps them for the next wait.
//
// Verdict codes: 0 written; 0x22 the header names no unit or a length that disagrees
// with the request block; 0x88 word checksum wrong; 0x99 byte checksum wrong.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/DeviceFault.h"
#include "sim/FlashStore.h"
#include "sim/LinkCapture.h"
#include "sim/StreamSums.h"

namespace flashwise::sim {

enum class Transport { Serial, WinUsb };

constexpr std::size_t kBlockSize = 72;
constexpr std::size_t kHeaderSize = 256;
constexpr std::size_t kRecordSize = 20;

constexpr std::uint32_t kResultKind = 0x55AA;
constexpr std::uint32_t kProgressKind = 0xAA55;
constexpr std::uint32_t kReady = 0x77;
constexpr std::uint32_t kWritten = 0;
constexpr std::uint32_t kRejectUnit = 0x22;
constexpr std::uint32_t kRejectWordChecksum = 0x88;
constexpr std::uint32_t kRejectByteChecksum = 0x99;
constexpr std::uint32_t kUnfinished = 0x01;  // a result value that is not final

enum class ReadKind {
    Data,              // `count` bytes were copied
    Nothing,           // nothing to send now (an empty serial read; a bulk IN that would wait)
    ZeroLengthPacket,  // WinUSB only
    Gone,              // the device has vanished: the transfer fails
};

struct ReadResult {
    ReadKind kind = ReadKind::Nothing;
    std::size_t count = 0;
};

struct CommEvents {
    bool gone = false;
    std::uint32_t mask = 0;  // 0: nothing pending (a real wait would block)
};

// One unit as the device judged it.
struct UnitVerdict {
    int ordinal = 0;        // announced units counted from 1
    int code = 0;           // from the section header, 0 when unknown
    std::uint32_t result = 0;
    std::uint64_t dataLength = 0;
};

class BootLoaderSim {
public:
    explicit BootLoaderSim(Transport transport, FlashStore::Mode storeMode = FlashStore::Mode::Bytes);

    // ---- the link, as the host sees it
    bool LineState(bool asserted);
    bool HostWrite(const std::uint8_t* data, std::size_t size);
    ReadResult HostRead(std::uint8_t* buffer, std::size_t max);
    CommEvents TakeCommEvents();

    // ---- set-up
    void AddFault(const DeviceFault& fault) { faults_.push_back({fault, false}); }
    void SetProgressRecords(int perUnit) { progressPerUnit_ = perUnit < 0 ? 0 : perUnit; }
    void Vanish();  // the device disappears now
    // A host opens the device afresh, as a phone waiting in its boot loader meets a
    // cable plugged in again: a vanished device is back, a unit received only in part
    // is dropped (the store keeps every completed unit), nothing queued for the old
    // host is delivered, and the device waits for a block. Not the new host's error.
    void NewSession();
    LinkCapture& Capture() { return capture_; }

    // ---- what happened
    const FlashStore& Store() const { return store_; }
    bool IsGone() const { return gone_; }
    bool Line() const { return line_; }
    int Announcements() const { return announcements_; }
    int EndTransfers() const { return endTransfers_; }
    const std::vector<UnitVerdict>& Verdicts() const { return verdicts_; }
    // Input the device could not place: unknown blocks, blocks without the line cleared,
    // a unit abandoned half-way. A correct host leaves this empty.
    const std::vector<std::string>& ProtocolErrors() const { return errors_; }
    std::size_t PendingReplyBytes() const;

private:
    enum class State { WaitBlock, WaitHeader, WaitData };
    struct Armed {
        DeviceFault fault;
        bool spent;
    };
    struct Chunk {
        std::vector<std::uint8_t> bytes;  // empty: a zero-length packet
        std::size_t taken = 0;
    };

    const DeviceFault* Fire(Step step, Misbehaviour what);
    bool FireVanish(Step step);
    void Error(const std::string& text);
    void QueueRecord(std::uint32_t kind, std::uint32_t value, std::uint32_t word8, Step step, bool* shifted);
    void QueueZeroLengthPackets(Step step);
    void Raise(std::uint32_t mask);

    void OnBlock();
    void OnAnnounce();
    void OnRequest();
    void OnHeader();
    void OnDataComplete();
    void Abandon(const char* why);

    Transport transport_;
    FlashStore store_;
    LinkCapture capture_;
    std::vector<Armed> faults_;
    std::deque<Chunk> outbound_;
    std::uint32_t pendingEvents_ = 0;
    bool gone_ = false;
    bool line_ = true;
    int progressPerUnit_ = 3;

    State state_ = State::WaitBlock;
    std::uint8_t block_[kBlockSize] = {};
    std::size_t blockFill_ = 0;
    std::uint8_t header_[kHeaderSize] = {};
    std::size_t headerFill_ = 0;

    // the unit under way
    int announcements_ = 0;
    int announcedOrdinal_ = 0;      // the ordinal whose readiness was sent
    std::uint32_t announcedLength_ = 0;
    std::uint32_t requestLength_ = 0;
    std::uint32_t requestByteSum_ = 0;
    std::string requestName_;
    std::uint16_t requestType_ = 0;
    std::uint64_t dataLength_ = 0;
    std::uint64_t dataReceived_ = 0;
    StreamSums sums_;

    int endTransfers_ = 0;
    int unitsWritten_ = 0;
    std::vector<UnitVerdict> verdicts_;
    std::vector<std::string> errors_;
};

}  // namespace flashwise::sim
