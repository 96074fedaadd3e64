#pragma once
// Running sums over a unit's bytes as they arrive in pieces of any size: the byte
// sum, the sum of whole 32-bit little-endian words counted from the unit's start
// (a final 1 to 3 bytes are left out), and a CRC-32 for the flash store's digest.

#include <cstddef>
#include <cstdint>

namespace flashwise::sim {

class StreamSums {
public:
    void Reset();
    void Feed(const std::uint8_t* data, std::size_t size);

    std::uint32_t ByteSum() const { return byteSum_; }
    std::uint32_t WordSum() const { return wordSum_; }
    std::uint32_t Crc32() const { return crc_; }
    std::uint64_t Length() const { return length_; }

private:
    std::uint32_t byteSum_ = 0;
    std::uint32_t wordSum_ = 0;
    std::uint32_t partialWord_ = 0;  // bytes of a word not yet complete
    std::uint32_t crc_ = 0;
    std::uint64_t length_ = 0;
};

// One-shot forms for buffers held whole (section headers, test data).
std::uint32_t ByteSumOf(const std::uint8_t* data, std::size_t size);
std::uint32_t Crc32Of(const std::uint8_t* data, std::size_t size);

}  // namespace flashwise::sim
