#pragma once
// Shared by the link tests: the worked-example section header, status records, and
// a pause recorder and clock that never wait. Scratch folders and image files come
// from tests/support; the link finds ExtRom.tmp by its relative name, so its tests run
// inside their scratch folder (ScratchFolder::Use::AsCurrentFolder).

#include <cstdint>
#include <vector>

#include "image/FirmwareImage.h"
#include "link/Clock.h"
#include "link/Pause.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"

namespace flashwise::test {

// The section header of unit 50 in the worked example (L50 = 4, data 01 02 03 04).
inline std::vector<std::uint8_t> WorkedExampleSectionHeader() {
    std::vector<std::uint8_t> h(256, 0);
    const std::uint8_t lead[12] = {0x01, 0x13, 0x15, 0x13, '3', 'G', 'I', 'M', 'A', 'G', 'E', ' '};
    std::copy(lead, lead + 12, h.begin());
    StoreLe32(&h[0x0C], 0x04030616);
    StoreLe32(&h[0x10], 0x409);
    StoreLe32(&h[0x30], 4);
    StoreLe32(&h[0x34], 4);
    StoreLe32(&h[0x40], 4);
    return h;
}

// Records every pause and advances the fake clock by it, so time-based bounds are
// reached without waiting.
struct FakeTime {
    std::uint64_t now = 0;
    std::vector<std::uint32_t> pauses;

    PauseFn Pause() {
        return [this](std::uint32_t ms) {
            pauses.push_back(ms);
            now += ms;
        };
    }
    ClockFn Clock() {
        return [this] { return now; };
    }
    std::uint64_t PausedFor(std::uint32_t ms) const {
        std::uint64_t n = 0;
        for (auto p : pauses) n += p == ms;
        return n;
    }
};

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> v;
    for (int b : values) v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

// A 20-byte status record.
inline std::vector<std::uint8_t> Record(std::uint32_t kind, std::uint32_t value, std::uint32_t word8 = 0) {
    std::vector<std::uint8_t> r(20, 0);
    StoreLe32(&r[0], kind);
    StoreLe32(&r[4], value);
    StoreLe32(&r[8], word8);
    return r;
}

}  // namespace flashwise::test
