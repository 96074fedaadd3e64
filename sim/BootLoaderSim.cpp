#include "sim/BootLoaderSim.h"

#include <algorithm>
#include <cstring>

#include "sim/CommEvents.h"
#include "sim/SectionHeaderReader.h"

namespace flashwise::sim {

namespace {

constexpr std::uint32_t kRequestMagic0 = 0x5566;
constexpr std::uint32_t kRequestMagic1 = 0x9988;
constexpr std::uint32_t kRequestMagic2 = 0x9AA80000u;
constexpr std::uint32_t kEndOfTransfer = 0x1234;
constexpr std::size_t kFlagAt = 0x2E;
constexpr std::size_t kNameAt = 0x10;
constexpr std::size_t kNameSize = 30;
constexpr std::size_t kTypeAt = 0x30;
constexpr std::size_t kByteSumAt = 0x44;

std::string Hex32(std::uint32_t v) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s = "0x";
    bool started = false;
    for (int shift = 28; shift >= 0; shift -= 4) {
        const unsigned d = (v >> shift) & 0xF;
        if (d != 0 || started || shift == 0) {
            s.push_back(kDigits[d]);
            started = true;
        }
    }
    return s;
}

}  // namespace

BootLoaderSim::BootLoaderSim(Transport transport, FlashStore::Mode storeMode)
    : transport_(transport), store_(storeMode) {}

// ---------------------------------------------------------------- host side

bool BootLoaderSim::LineState(bool asserted) {
    capture_.Line(asserted);
    if (gone_) {
        capture_.Gone("H>D");
        return false;
    }
    line_ = asserted;
    if (!asserted) {
        // The host clears the line before every block: whatever unit was under way is over.
        if (state_ != State::WaitBlock) Abandon("the line was cleared");
        if (blockFill_ != 0) {
            Error("a partial block of " + std::to_string(blockFill_) + " bytes was dropped when the line was cleared");
            blockFill_ = 0;
        }
    }
    return true;
}

bool BootLoaderSim::HostWrite(const std::uint8_t* data, std::size_t size) {
    capture_.Write(data, size);
    if (gone_) {
        capture_.Gone("H>D");
        return false;
    }
    while (size > 0 && !gone_) {
        switch (state_) {
            case State::WaitBlock: {
                const std::size_t take = std::min(size, kBlockSize - blockFill_);
                std::memcpy(block_ + blockFill_, data, take);
                blockFill_ += take;
                data += take;
                size -= take;
                if (blockFill_ == kBlockSize) {
                    blockFill_ = 0;
                    OnBlock();
                }
                break;
            }
            case State::WaitHeader: {
                const std::size_t take = std::min(size, kHeaderSize - headerFill_);
                std::memcpy(header_ + headerFill_, data, take);
                headerFill_ += take;
                data += take;
                size -= take;
                if (headerFill_ == kHeaderSize) OnHeader();
                break;
            }
            case State::WaitData: {
                std::uint64_t take = std::min<std::uint64_t>(size, dataLength_ - dataReceived_);
                const DeviceFault* vanish = nullptr;
                for (auto& armed : faults_) {
                    const DeviceFault& f = armed.fault;
                    if (!armed.spent && f.what == Misbehaviour::Vanish && f.step == Step::Data &&
                        (f.unit == 0 || f.unit == announcements_) && f.count < dataLength_ &&
                        dataReceived_ + take > f.count) {
                        armed.spent = true;
                        vanish = &f;
                        take = f.count - dataReceived_;
                        break;
                    }
                }
                sums_.Feed(data, static_cast<std::size_t>(take));
                store_.Append(data, static_cast<std::size_t>(take));
                dataReceived_ += take;
                data += take;
                size -= static_cast<std::size_t>(take);
                if (vanish != nullptr) {
                    capture_.Note("vanish after " + std::to_string(dataReceived_) + " data bytes");
                    Vanish();
                    break;
                }
                if (dataReceived_ == dataLength_) OnDataComplete();
                break;
            }
        }
    }
    if (gone_) {
        capture_.Gone("H>D");
        return false;
    }
    return true;
}

ReadResult BootLoaderSim::HostRead(std::uint8_t* buffer, std::size_t max) {
    ReadResult result;
    if (gone_) {
        capture_.Gone("D>H");
        result.kind = ReadKind::Gone;
        return result;
    }
    if (!outbound_.empty() && outbound_.front().bytes.empty()) {
        outbound_.pop_front();
        if (transport_ == Transport::WinUsb) {
            capture_.ZeroLengthPacket();
            result.kind = ReadKind::ZeroLengthPacket;
        } else {
            capture_.EmptyRead();  // the serial link has no packets: the read just comes back empty
        }
        return result;
    }
    std::size_t copied = 0;
    while (copied < max && !outbound_.empty() && !outbound_.front().bytes.empty()) {
        Chunk& chunk = outbound_.front();
        const std::size_t take = std::min(max - copied, chunk.bytes.size() - chunk.taken);
        std::memcpy(buffer + copied, chunk.bytes.data() + chunk.taken, take);
        chunk.taken += take;
        copied += take;
        if (chunk.taken == chunk.bytes.size()) outbound_.pop_front();
        // A bulk IN transfer ends with the device's short packet; a serial read takes
        // whatever is waiting.
        if (transport_ == Transport::WinUsb) break;
    }
    if (copied == 0) {
        if (max > 0) capture_.EmptyRead();
        return result;
    }
    capture_.Read(buffer, copied);
    result.kind = ReadKind::Data;
    result.count = copied;
    return result;
}

CommEvents BootLoaderSim::TakeCommEvents() {
    CommEvents events;
    if (gone_) {
        capture_.Gone("H>D");
        events.gone = true;
        return events;
    }
    events.mask = pendingEvents_;
    pendingEvents_ = 0;
    capture_.Wait(events.mask);
    return events;
}

void BootLoaderSim::Vanish() {
    if (gone_) return;
    gone_ = true;
    outbound_.clear();
    pendingEvents_ = 0;
    if (state_ != State::WaitBlock) store_.DiscardUnit();
    capture_.Note("device gone");
}

void BootLoaderSim::NewSession() {
    std::string dropped;
    auto also = [&dropped](const std::string& what) { dropped += (dropped.empty() ? "" : ", ") + what; };
    if (gone_) also("the device is back");
    if (state_ != State::WaitBlock) {
        also("unit " + std::to_string(announcements_) + " dropped after " + std::to_string(dataReceived_) + " of " +
             std::to_string(dataLength_) + " data bytes");
        store_.DiscardUnit();
    }
    if (blockFill_ != 0) also("a partial block of " + std::to_string(blockFill_) + " bytes dropped");
    if (!outbound_.empty()) also("replies for the old host dropped (" + std::to_string(PendingReplyBytes()) + " bytes)");
    capture_.Note("new session" + (dropped.empty() ? std::string() : ": " + dropped));
    gone_ = false;
    line_ = true;
    outbound_.clear();
    pendingEvents_ = 0;
    state_ = State::WaitBlock;
    blockFill_ = 0;
    headerFill_ = 0;
    dataLength_ = 0;
    dataReceived_ = 0;
    // The old host's readiness reply licenses no send by the new one.
    announcedOrdinal_ = 0;
}

std::size_t BootLoaderSim::PendingReplyBytes() const {
    std::size_t n = 0;
    for (const auto& chunk : outbound_) n += chunk.bytes.size() - chunk.taken;
    return n;
}

// ---------------------------------------------------------------- faults and replies

const DeviceFault* BootLoaderSim::Fire(Step step, Misbehaviour what) {
    for (auto& armed : faults_) {
        const DeviceFault& f = armed.fault;
        if (armed.spent || f.step != step || f.what != what) continue;
        if (f.unit != 0 && f.unit != announcements_) continue;
        armed.spent = true;
        return &f;
    }
    return nullptr;
}

bool BootLoaderSim::FireVanish(Step step) {
    if (Fire(step, Misbehaviour::Vanish) == nullptr) return false;
    Vanish();
    return true;
}

void BootLoaderSim::Error(const std::string& text) {
    errors_.push_back(text);
    capture_.Note("error: " + text);
}

void BootLoaderSim::QueueZeroLengthPackets(Step step) {
    if (const DeviceFault* f = Fire(step, Misbehaviour::ZeroLengthPackets)) {
        for (std::uint32_t i = 0; i < f->count; ++i) outbound_.push_back(Chunk{});
    }
}

void BootLoaderSim::QueueRecord(std::uint32_t kind, std::uint32_t value, std::uint32_t word8, Step step,
                                bool* shiftChecked) {
    Chunk chunk;
    if (!*shiftChecked) {
        *shiftChecked = true;
        if (const DeviceFault* f = Fire(step, Misbehaviour::ShiftRecord)) {
            chunk.bytes.assign(f->count, static_cast<std::uint8_t>(f->value));
        }
    }
    const std::size_t at = chunk.bytes.size();
    chunk.bytes.resize(at + kRecordSize, 0);
    StoreWord(chunk.bytes.data() + at, kind);
    StoreWord(chunk.bytes.data() + at + 4, value);
    StoreWord(chunk.bytes.data() + at + 8, word8);
    outbound_.push_back(std::move(chunk));
}

void BootLoaderSim::Raise(std::uint32_t mask) {
    if (transport_ != Transport::Serial) return;
    pendingEvents_ |= mask;
    capture_.Event(mask);
}

// ---------------------------------------------------------------- the protocol

void BootLoaderSim::OnBlock() {
    if (line_) Error("a 72-byte block arrived while the line was set");
    const std::uint32_t w0 = LoadWord(block_);
    if (w0 == kEndOfTransfer) {
        bool rest = true;
        for (std::size_t i = 4; i < kBlockSize; ++i) rest = rest && block_[i] == 0;
        if (!rest) Error("end-of-transfer block with non-zero bytes after its first word");
        ++endTransfers_;
        capture_.Note("end of transfer");
        FireVanish(Step::EndOfTransfer);
        return;
    }
    if (w0 != kRequestMagic0 || LoadWord(block_ + 4) != kRequestMagic1 || LoadWord(block_ + 8) != kRequestMagic2) {
        Error("unknown 72-byte block starting " + Hex32(w0));
        return;
    }
    requestLength_ = LoadWord(block_ + 0x0C);
    requestByteSum_ = LoadWord(block_ + kByteSumAt);
    requestType_ = static_cast<std::uint16_t>(block_[kTypeAt] | block_[kTypeAt + 1] << 8);
    const char* name = reinterpret_cast<const char*>(block_ + kNameAt);
    std::size_t nameLength = 0;
    while (nameLength < kNameSize && name[nameLength] != 0) ++nameLength;
    requestName_.assign(name, nameLength);
    if (block_[kNameAt + kNameSize - 1] != 0) Error("file name field not NUL-terminated");
    switch (block_[kFlagAt]) {
        case 1: OnAnnounce(); break;
        case 0: OnRequest(); break;
        default: Error("request block with operation flag " + std::to_string(block_[kFlagAt])); break;
    }
}

void BootLoaderSim::OnAnnounce() {
    ++announcements_;
    capture_.Note("announce unit " + std::to_string(announcements_) + " length " + std::to_string(requestLength_));
    if (FireVanish(Step::Announce)) return;
    if (Fire(Step::Announce, Misbehaviour::Silent)) return;
    QueueZeroLengthPackets(Step::Announce);
    std::uint32_t value = kReady, word8 = 1;
    if (const DeviceFault* f = Fire(Step::Announce, Misbehaviour::ResultCode)) value = f->value;
    if (const DeviceFault* f = Fire(Step::Announce, Misbehaviour::ReadinessWord)) word8 = f->value;
    bool shift = false;
    QueueRecord(kResultKind, value, word8, Step::Announce, &shift);
    announcedOrdinal_ = announcements_;
    announcedLength_ = requestLength_;
    Raise(kEventRxChar);
}

void BootLoaderSim::OnRequest() {
    capture_.Note("request unit " + std::to_string(announcements_) + " length " + std::to_string(requestLength_));
    if (announcedOrdinal_ != announcements_ || announcements_ == 0) {
        Error("unit sent without a readiness reply");
    } else if (announcedLength_ != requestLength_) {
        Error("unit sent with length " + std::to_string(requestLength_) + " but announced with " +
              std::to_string(announcedLength_));
    }
    announcedOrdinal_ = 0;  // one send per announcement
    if (FireVanish(Step::Request)) return;
    if (requestLength_ < kHeaderSize) {
        // Not even a section header: judge it at once.
        verdicts_.push_back({announcements_, 0, kRejectUnit, 0});
        bool shift = false;
        QueueRecord(kResultKind, kRejectUnit, 0, Step::Data, &shift);
        Raise(kEventRxChar);
        return;
    }
    dataLength_ = requestLength_ - kHeaderSize;
    dataReceived_ = 0;
    headerFill_ = 0;
    sums_.Reset();
    store_.BeginUnit();
    state_ = State::WaitHeader;
    QueueZeroLengthPackets(Step::Request);
    if (!Fire(Step::Request, Misbehaviour::Silent)) Raise(kEventCts);
}

void BootLoaderSim::OnHeader() {
    if (FireVanish(Step::Header)) return;
    QueueZeroLengthPackets(Step::Header);
    const bool silent = Fire(Step::Header, Misbehaviour::Silent) != nullptr;
    if (dataLength_ == 0) {
        OnDataComplete();
        return;
    }
    state_ = State::WaitData;
    if (!silent) Raise(kEventCts);
}

void BootLoaderSim::OnDataComplete() {
    state_ = State::WaitBlock;
    const HeaderUnit unit = UnitFromHeader(header_);
    const std::uint32_t wordSum = HeaderWordSum(header_) + sums_.WordSum();
    const std::uint32_t byteSum = ByteSumOf(header_, kHeaderSize) + sums_.ByteSum();

    std::uint32_t verdict = kWritten;
    if (unit.code == 0 || unit.dataLength != dataLength_) {
        verdict = kRejectUnit;
    } else if (wordSum != LoadWord(header_ + 0x0C)) {
        verdict = kRejectWordChecksum;
    } else if (byteSum != requestByteSum_) {
        verdict = kRejectByteChecksum;
    }
    if (Fire(Step::Data, Misbehaviour::RejectChecksum)) verdict = kRejectByteChecksum;
    const DeviceFault* forced = Fire(Step::Data, Misbehaviour::ResultCode);
    const std::uint32_t sent = forced ? forced->value : verdict;

    capture_.Note("unit " + std::to_string(announcements_) + " code " + std::to_string(unit.code) + " data " +
                  std::to_string(dataLength_) + " byte sum " + Hex32(byteSum) + " word sum " + Hex32(wordSum) +
                  " verdict " + Hex32(verdict));
    verdicts_.push_back({announcements_, unit.code, verdict, dataLength_});
    if (FireVanish(Step::Data)) {
        store_.DiscardUnit();
        return;
    }
    if (sent == kWritten) {
        store_.CommitUnit(unit.code, dataLength_, sums_.Crc32(), requestName_, requestType_);
        ++unitsWritten_;
    } else {
        store_.DiscardUnit();
    }
    // A silent device has still written the unit; it only never says so.
    if (Fire(Step::Data, Misbehaviour::Silent)) return;
    QueueZeroLengthPackets(Step::Data);
    bool shift = false;
    const std::uint32_t base = static_cast<std::uint32_t>(announcements_ - 1) * 100u;
    for (int k = 1; k <= progressPerUnit_; ++k) {
        QueueRecord(kProgressKind, base + static_cast<std::uint32_t>(k * 100 / (progressPerUnit_ + 1)), 0, Step::Data,
                    &shift);
    }
    if (const DeviceFault* f = Fire(Step::Data, Misbehaviour::UnknownResults)) {
        for (std::uint32_t i = 0; i < f->count; ++i) QueueRecord(kResultKind, f->value, 0, Step::Data, &shift);
    }
    QueueRecord(kResultKind, sent, 0, Step::Data, &shift);
    Raise(kEventRxChar);
}

void BootLoaderSim::Abandon(const char* why) {
    capture_.Note(std::string("unit ") + std::to_string(announcements_) + " abandoned: " + why);
    store_.DiscardUnit();
    state_ = State::WaitBlock;
    headerFill_ = 0;
}

}  // namespace flashwise::sim
