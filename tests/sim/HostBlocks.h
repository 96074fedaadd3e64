#pragma once
// A tiny host side for driving the simulated boot loader by hand: builds request
// blocks, section headers and the end-of-transfer block, and plays the transfers of
// one unit in the order the links use.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/BootLoaderSim.h"
#include "sim/SectionHeaderReader.h"
#include "sim/StreamSums.h"

namespace flashwise::sim::testing {

using Bytes = std::vector<std::uint8_t>;
using Header = std::array<std::uint8_t, kHeaderSize>;

struct HostUnit {
    Header header{};
    Bytes data;
};

// A section header for `data` with the given words set (offset, value) and the image
// words every header carries, with its word checksum at 0x0C.
inline Header MakeHeader(std::initializer_list<std::pair<unsigned, std::uint32_t>> words, const Bytes& data) {
    Header h{};
    StoreWord(h.data() + 0x00, 0x13151301u);
    std::memcpy(h.data() + 0x04, "3GIMAGE ", 8);
    StoreWord(h.data() + 0x10, 0x409);
    StoreWord(h.data() + 0x34, 4);
    for (const auto& w : words) StoreWord(h.data() + w.first, w.second);
    StreamSums sums;
    sums.Feed(data.data(), data.size());
    StoreWord(h.data() + 0x0C, HeaderWordSum(h.data()) + sums.WordSum());
    return h;
}

// Unit 50 of an image whose only section is 50.
inline HostUnit Unit50(const Bytes& data) {
    const auto n = static_cast<std::uint32_t>(data.size());
    return {MakeHeader({{0x30, n}, {0x40, n}}, data), data};
}

inline HostUnit Unit52(const Bytes& data) {
    return {MakeHeader({{0x24, static_cast<std::uint32_t>(data.size())}}, data), data};
}

inline std::uint32_t ByteChecksum(const HostUnit& unit) {
    return ByteSumOf(unit.header.data(), kHeaderSize) + ByteSumOf(unit.data.data(), unit.data.size());
}

inline Bytes RequestBlock(std::uint32_t length, std::uint8_t flag, std::uint32_t byteChecksum,
                          const std::string& name = "Tarn_G4.abi") {
    Bytes b(kBlockSize, 0);
    StoreWord(b.data() + 0x00, 0x5566);
    StoreWord(b.data() + 0x04, 0x9988);
    StoreWord(b.data() + 0x08, 0x9AA80000u);
    StoreWord(b.data() + 0x0C, length);
    std::memcpy(b.data() + 0x10, name.data(), name.size());
    b[0x2E] = flag;
    b[0x30] = 4;
    StoreWord(b.data() + 0x44, byteChecksum);
    return b;
}

inline Bytes EndBlock() {
    Bytes b(kBlockSize, 0);
    StoreWord(b.data(), 0x1234);
    return b;
}

inline Bytes Record(std::uint32_t kind, std::uint32_t value, std::uint32_t word8 = 0) {
    Bytes r(kRecordSize, 0);
    StoreWord(r.data(), kind);
    StoreWord(r.data() + 4, value);
    StoreWord(r.data() + 8, word8);
    return r;
}

// Reads exactly what the device has queued now, in reads of at most `max` bytes.
inline Bytes ReadAll(BootLoaderSim& sim, std::size_t max = 20) {
    Bytes out;
    std::uint8_t buf[256];
    for (;;) {
        const ReadResult r = sim.HostRead(buf, max);
        if (r.kind == ReadKind::Data) {
            out.insert(out.end(), buf, buf + r.count);
        } else if (r.kind != ReadKind::ZeroLengthPacket) {
            return out;
        }
    }
}

inline bool WriteBytes(BootLoaderSim& sim, const Bytes& bytes) { return sim.HostWrite(bytes.data(), bytes.size()); }

// The announcement as the links make it: line 0, request block with flag 1, line 1.
inline bool Announce(BootLoaderSim& sim, const HostUnit& unit, std::uint32_t checksum) {
    return sim.LineState(false) &&
           WriteBytes(sim, RequestBlock(static_cast<std::uint32_t>(unit.data.size() + kHeaderSize), 1, checksum)) &&
           sim.LineState(true);
}

// The send as the links make it: line 0, request block with flag 0, line 1, header, data
// (in pieces of `piece` bytes), line 1.
inline bool Send(BootLoaderSim& sim, const HostUnit& unit, std::uint32_t checksum, std::size_t piece = 8192) {
    if (!sim.LineState(false)) return false;
    if (!WriteBytes(sim, RequestBlock(static_cast<std::uint32_t>(unit.data.size() + kHeaderSize), 0, checksum)))
        return false;
    if (!sim.LineState(true)) return false;
    if (!sim.HostWrite(unit.header.data(), kHeaderSize)) return false;
    for (std::size_t at = 0; at < unit.data.size(); at += piece) {
        const std::size_t n = std::min(piece, unit.data.size() - at);
        if (!sim.HostWrite(unit.data.data() + at, n)) return false;
    }
    return sim.LineState(true);
}

inline bool EndTransfer(BootLoaderSim& sim) {
    return sim.LineState(false) && WriteBytes(sim, EndBlock()) && sim.LineState(true);
}

}  // namespace flashwise::sim::testing
