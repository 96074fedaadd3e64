#include "sim/FlashStore.h"

#include <utility>

namespace flashwise::sim {

void FlashStore::BeginUnit() { staged_.clear(); }

void FlashStore::Append(const std::uint8_t* data, std::size_t size) {
    if (mode_ == Mode::Bytes && size > 0) staged_.insert(staged_.end(), data, data + size);
}

void FlashStore::CommitUnit(int code, std::uint64_t length, std::uint32_t crc32, const std::string& fileName,
                            std::uint16_t imageType) {
    StoredUnit& unit = units_[code];
    unit.code = code;
    unit.length = length;
    unit.crc32 = crc32;
    unit.writes += 1;
    unit.fileName = fileName;
    unit.imageType = imageType;
    unit.data = std::move(staged_);
    staged_ = {};
}

void FlashStore::DiscardUnit() { staged_ = {}; }

const StoredUnit* FlashStore::Find(int code) const {
    const auto it = units_.find(code);
    return it == units_.end() ? nullptr : &it->second;
}

std::vector<int> FlashStore::Codes() const {
    std::vector<int> codes;
    for (const auto& entry : units_) codes.push_back(entry.first);
    return codes;
}

}  // namespace flashwise::sim
