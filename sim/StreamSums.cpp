#include "sim/StreamSums.h"

#include <cstring>

#include <zlib.h>

namespace flashwise::sim {

namespace {

std::uint32_t AddBytes(std::uint32_t sum, const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sum += p[i];
    return sum;
}

std::uint32_t CrcUpdate(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    // zlib takes a uInt length; feed very long buffers in slices.
    constexpr std::size_t kSlice = 1u << 30;
    while (n > 0) {
        const std::size_t take = n < kSlice ? n : kSlice;
        crc = static_cast<std::uint32_t>(::crc32(crc, p, static_cast<uInt>(take)));
        p += take;
        n -= take;
    }
    return crc;
}

}  // namespace

void StreamSums::Reset() { *this = StreamSums(); }

void StreamSums::Feed(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    byteSum_ = AddBytes(byteSum_, data, size);
    crc_ = CrcUpdate(crc_, data, size);

    const std::uint8_t* p = data;
    std::size_t n = size;
    // Finish a word that an earlier piece began.
    while (n > 0 && (length_ & 3u) != 0) {
        partialWord_ |= static_cast<std::uint32_t>(*p) << (8u * (length_ & 3u));
        ++p;
        --n;
        ++length_;
        if ((length_ & 3u) == 0) {
            wordSum_ += partialWord_;
            partialWord_ = 0;
        }
    }
    const std::size_t words = n / 4;
    std::uint32_t sum = wordSum_;
    for (std::size_t i = 0; i < words; ++i) {
        const std::uint8_t* w = p + 4 * i;
        sum += static_cast<std::uint32_t>(w[0]) | static_cast<std::uint32_t>(w[1]) << 8 |
               static_cast<std::uint32_t>(w[2]) << 16 | static_cast<std::uint32_t>(w[3]) << 24;
    }
    wordSum_ = sum;
    p += 4 * words;
    n -= 4 * words;
    length_ += 4 * words;
    for (std::size_t i = 0; i < n; ++i) {
        partialWord_ |= static_cast<std::uint32_t>(p[i]) << (8u * (length_ & 3u));
        ++length_;
    }
}

std::uint32_t ByteSumOf(const std::uint8_t* data, std::size_t size) { return AddBytes(0, data, size); }

std::uint32_t Crc32Of(const std::uint8_t* data, std::size_t size) { return CrcUpdate(0, data, size); }

}  // namespace flashwise::sim
