#include "image/DataSums.h"

#include <cstring>

namespace flashwise {

namespace {

constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
// Each 16-bit lane gains at most 2 * 255 per 8 bytes; flushed before it can overflow.
constexpr std::size_t kLaneRounds = 128;

// Four 16-bit lanes folded into one sum.
std::uint32_t FoldLanes(std::uint64_t lanes) {
    lanes = (lanes & 0x0000FFFF0000FFFFull) + ((lanes >> 16) & 0x0000FFFF0000FFFFull);
    return static_cast<std::uint32_t>(lanes) + static_cast<std::uint32_t>(lanes >> 32);
}

std::uint32_t LoadLittle32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

void AddWholeWords(const std::uint8_t* data, std::size_t size, DataSums* sums) {
    std::uint32_t words = sums->words;
    std::uint32_t bytes = sums->bytes;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Eight bytes at a time: the two words of a little-endian 64-bit load, and its
    // bytes added pairwise into 16-bit lanes. memcpy keeps the loads alignment-safe.
    std::uint64_t wordsLow = 0, wordsHigh = 0;
    while (size >= 8) {
        std::size_t rounds = size / 8 < kLaneRounds ? size / 8 : kLaneRounds;
        size -= rounds * 8;
        std::uint64_t lanes = 0;
        for (; rounds > 0; --rounds, data += 8) {
            std::uint64_t x;
            std::memcpy(&x, data, 8);
            wordsLow += x & 0xFFFFFFFFull;
            wordsHigh += x >> 32;
            lanes += (x & kLowBytes) + ((x >> 8) & kLowBytes);
        }
        bytes += FoldLanes(lanes);
    }
    words += static_cast<std::uint32_t>(wordsLow + wordsHigh);
#endif
    for (; size >= 4; size -= 4, data += 4) {
        words += LoadLittle32(data);
        bytes += static_cast<std::uint32_t>(data[0]) + data[1] + data[2] + data[3];
    }
    sums->words = words;
    sums->bytes = bytes;
}

void DataSummer::Add(const std::uint8_t* data, std::size_t size) {
    // Finish a word that an earlier piece began.
    while (size > 0 && (length_ & 3u) != 0) {
        partialWord_ |= static_cast<std::uint32_t>(*data) << (8u * (length_ & 3u));
        sums_.bytes += *data;
        ++data;
        --size;
        if ((++length_ & 3u) == 0) {
            sums_.words += partialWord_;
            partialWord_ = 0;
        }
    }
    const std::size_t whole = size & ~static_cast<std::size_t>(3);
    AddWholeWords(data, whole, &sums_);
    length_ += whole;
    for (std::size_t i = whole; i < size; ++i) {
        partialWord_ |= static_cast<std::uint32_t>(data[i]) << (8u * (length_ & 3u));
        sums_.bytes += data[i];
        ++length_;
    }
}

}  // namespace flashwise
