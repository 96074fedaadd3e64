#pragma once
// The two sums the boot loader checks over a unit's data, taken together in one pass:
// the word sum (consecutive 32-bit little-endian words from the unit's start; a final
// 1 to 3 bytes are left out) and the byte sum (every byte unsigned), both modulo 2^32.

#include <cstddef>
#include <cstdint>

namespace flashwise {

struct DataSums {
    std::uint32_t words = 0;
    std::uint32_t bytes = 0;
};

// Adds a byte stream that arrives in pieces of any size; words are counted from the
// first byte ever added, whatever the piece boundaries.
class DataSummer {
public:
    void Add(const std::uint8_t* data, std::size_t size);
    DataSums Sums() const { return sums_; }  // a partial last word is left out
    std::uint64_t Length() const { return length_; }

private:
    DataSums sums_;
    std::uint64_t length_ = 0;
    std::uint32_t partialWord_ = 0;  // the bytes of a word not yet complete
};

// Adds the sums of `size` bytes, a multiple of 4, that start on a word boundary of the
// stream. At memory speed: the caller's chunks are summed, not re-read byte by byte.
void AddWholeWords(const std::uint8_t* data, std::size_t size, DataSums* sums);
// The same without vector instructions: what a processor without them runs (the
// Windows build), here so that every build tests it.
void AddWholeWordsPortable(const std::uint8_t* data, std::size_t size, DataSums* sums);

}  // namespace flashwise
