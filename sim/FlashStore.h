#pragma once
// The simulated boot loader's flash: what each accepted unit left behind, keyed by
// section code. A unit's bytes are staged while they arrive and only become part of
// the store when the unit is accepted. In digest mode only the length and a CRC-32
// are kept, so memory stays small however large the image is.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/StreamSums.h"

namespace flashwise::sim {

struct StoredUnit {
    int code = 0;
    std::uint64_t length = 0;
    std::uint32_t crc32 = 0;
    int writes = 0;                  // how often this code was accepted
    std::string fileName;            // from the request block
    std::uint16_t imageType = 0;     // from the request block
    std::vector<std::uint8_t> data;  // empty in digest mode
};

class FlashStore {
public:
    enum class Mode { Bytes, DigestOnly };

    explicit FlashStore(Mode mode = Mode::Bytes) : mode_(mode) {}
    Mode GetMode() const { return mode_; }

    void BeginUnit();
    void Append(const std::uint8_t* data, std::size_t size);  // staged bytes only
    // Turns the staged unit into the stored unit of `code` (digest given by the caller,
    // who already computes it while the bytes arrive).
    void CommitUnit(int code, std::uint64_t length, std::uint32_t crc32, const std::string& fileName,
                    std::uint16_t imageType);
    void DiscardUnit();

    const StoredUnit* Find(int code) const;
    std::vector<int> Codes() const;  // in ascending order
    std::size_t Size() const { return units_.size(); }

private:
    Mode mode_;
    std::vector<std::uint8_t> staged_;
    std::map<int, StoredUnit> units_;
};

}  // namespace flashwise::sim
