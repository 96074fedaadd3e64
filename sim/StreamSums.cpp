#include "sim/StreamSums.h"

#include <cstring>

#include <zlib.h>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace flashwise::sim {

namespace {

std::uint32_t AddBytes(std::uint32_t sum, const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sum += p[i];
    return sum;
}

std::uint32_t LittleWord(const std::uint8_t* w) {
    return static_cast<std::uint32_t>(w[0]) | static_cast<std::uint32_t>(w[1]) << 8 |
           static_cast<std::uint32_t>(w[2]) << 16 | static_cast<std::uint32_t>(w[3]) << 24;
}

// Word sum and byte sum of `words` whole words in one pass. The device keeps its own
// arithmetic, apart from the host's, so that a fault in either shows as a rejection.
void AddWordsAndBytes(const std::uint8_t* p, std::size_t words, std::uint32_t* wordSum, std::uint32_t* byteSum) {
    std::uint32_t wsum = *wordSum, bsum = *byteSum;
#if defined(__SSE2__)
    // Four words a load, added lane by lane (each lane wraps as the sum does); the
    // bytes by the sum of absolute differences against zero, into 64-bit lanes.
    const __m128i zero = _mm_setzero_si128();
    __m128i wordLanes = zero, byteLanes = zero;
    for (; words >= 4; words -= 4, p += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        wordLanes = _mm_add_epi32(wordLanes, x);
        byteLanes = _mm_add_epi64(byteLanes, _mm_sad_epu8(x, zero));
    }
    std::uint32_t w[4];
    std::uint64_t b[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w), wordLanes);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b), byteLanes);
    wsum += w[0] + w[1] + w[2] + w[3];
    bsum += static_cast<std::uint32_t>(b[0] + b[1]);
#endif
    for (; words > 0; --words, p += 4) {
        wsum += LittleWord(p);
        bsum += static_cast<std::uint32_t>(p[0]) + p[1] + p[2] + p[3];
    }
    *wordSum = wsum;
    *byteSum = bsum;
}

std::uint32_t ZlibCrc(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
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

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define FLASHWISE_SIM_CLMUL_CRC 1

// The same CRC-32 (reflected polynomial 0xEDB88320) by carry-less multiplication:
// 64 bytes are folded per step, then reduced to 32 bits (Barrett). Several times the
// speed of the table code, so the simulated device's digest does not dominate a
// benchmark of the host. `state` and the result are the register without zlib's
// inversions; `n` is a multiple of 16 and at least 64.
#define FLASHWISE_CLMUL_TARGET __attribute__((target("pclmul,sse2")))

FLASHWISE_CLMUL_TARGET inline __m128i Load16(const std::uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// x times the two halves of k, moved 128 or 512 bits along, plus the next 16 bytes.
FLASHWISE_CLMUL_TARGET inline __m128i Fold16(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

FLASHWISE_CLMUL_TARGET std::uint32_t FoldCrc(std::uint32_t state, const std::uint8_t* p, std::size_t n) {
    // Fold constants, bit-reflected and shifted left by one: for a distance of D bits
    // the high half is x^(D-32) mod P, the low half x^(D+32) mod P.
    const __m128i fold4 = _mm_set_epi64x(0x1c6e41596LL, 0x154442bd4LL);  // D = 512
    const __m128i fold1 = _mm_set_epi64x(0x0ccaa009eLL, 0x1751997d0LL);  // D = 128
    const __m128i fold32 = _mm_set_epi64x(0, 0x163cd6124LL);             // x^64 mod P
    const __m128i barrett = _mm_set_epi64x(0x1f7011641LL, 0x1db710641LL);  // mu, P
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);

    __m128i x1 = _mm_xor_si128(Load16(p), _mm_cvtsi32_si128(static_cast<int>(state)));
    __m128i x2 = Load16(p + 16), x3 = Load16(p + 32), x4 = Load16(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; n -= 64, p += 64) {
        x1 = Fold16(x1, fold4, Load16(p));
        x2 = Fold16(x2, fold4, Load16(p + 16));
        x3 = Fold16(x3, fold4, Load16(p + 32));
        x4 = Fold16(x4, fold4, Load16(p + 48));
    }
    x1 = Fold16(x1, fold1, x2);
    x1 = Fold16(x1, fold1, x3);
    x1 = Fold16(x1, fold1, x4);
    for (; n >= 16; n -= 16, p += 16) x1 = Fold16(x1, fold1, Load16(p));

    // 128 bits to 64, then to 32, then the Barrett reduction to the remainder.
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(fold1, x1, 0x01));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), fold32, 0x00));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), barrett, 0x00);
    x1 = _mm_xor_si128(x1, t);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

bool HasClmul() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    return has;
}
#endif

std::uint32_t CrcUpdate(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
#ifdef FLASHWISE_SIM_CLMUL_CRC
    constexpr std::size_t kMinFold = 64;
    if (n >= kMinFold && HasClmul()) {
        const std::size_t body = n & ~static_cast<std::size_t>(15);
        crc = ~FoldCrc(~crc, p, body);
        return ZlibCrc(crc, p + body, n - body);
    }
#endif
    return ZlibCrc(crc, p, n);
}

}  // namespace

void StreamSums::Reset() { *this = StreamSums(); }

void StreamSums::Feed(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    crc_ = CrcUpdate(crc_, data, size);

    const std::uint8_t* p = data;
    std::size_t n = size;
    // Finish a word that an earlier piece began.
    while (n > 0 && (length_ & 3u) != 0) {
        partialWord_ |= static_cast<std::uint32_t>(*p) << (8u * (length_ & 3u));
        byteSum_ += *p;
        ++p;
        --n;
        ++length_;
        if ((length_ & 3u) == 0) {
            wordSum_ += partialWord_;
            partialWord_ = 0;
        }
    }
    const std::size_t words = n / 4;
    AddWordsAndBytes(p, words, &wordSum_, &byteSum_);
    p += 4 * words;
    n -= 4 * words;
    length_ += 4 * words;
    for (std::size_t i = 0; i < n; ++i) {
        partialWord_ |= static_cast<std::uint32_t>(p[i]) << (8u * (length_ & 3u));
        byteSum_ += p[i];
        ++length_;
    }
}

std::uint32_t ByteSumOf(const std::uint8_t* data, std::size_t size) { return AddBytes(0, data, size); }

std::uint32_t Crc32Of(const std::uint8_t* data, std::size_t size) { return CrcUpdate(0, data, size); }

}  // namespace flashwise::sim
