#include "image/DataSums.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// 32 bytes a step, in two independent halves: the words added lane by lane (each lane
// wraps modulo 2^32 as the sum does; the lanes are added at the end) and the bytes by
// the sum-of-absolute-differences against zero, into 64-bit lanes that cannot overflow.
void AddBlocks(const std::uint8_t*& data, std::size_t& size, std::uint32_t* words, std::uint32_t* bytes) {
    const __m128i zero = _mm_setzero_si128();
    __m128i words0 = zero, words1 = zero, bytes0 = zero, bytes1 = zero;
    for (; size >= 32; size -= 32, data += 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16));
        words0 = _mm_add_epi32(words0, a);
        words1 = _mm_add_epi32(words1, b);
        bytes0 = _mm_add_epi64(bytes0, _mm_sad_epu8(a, zero));
        bytes1 = _mm_add_epi64(bytes1, _mm_sad_epu8(b, zero));
    }
    std::uint32_t w[4];
    std::uint64_t b[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_add_epi32(words0, words1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b), _mm_add_epi64(bytes0, bytes1));
    *words += w[0] + w[1] + w[2] + w[3];
    *bytes += static_cast<std::uint32_t>(b[0] + b[1]);
}
#endif

}  // namespace

void AddWholeWordsPortable(const std::uint8_t* data, std::size_t size, DataSums* sums) {
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

void AddWholeWords(const std::uint8_t* data, std::size_t size, DataSums* sums) {
#if defined(__SSE2__)
    AddBlocks(data, size, &sums->words, &sums->bytes);
#endif
    AddWholeWordsPortable(data, size, sums);
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
