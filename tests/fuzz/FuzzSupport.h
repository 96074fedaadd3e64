#pragma once
// What every fuzz target shares: the entry point libFuzzer calls (the host build's
// regression rows call it too), a check that stops the run with a message when a
// property of the parser does not hold, and a reader that takes the target's own
// choices from the front of the input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__,   \
                         #condition);                                                           \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

namespace flashwise::fuzz {

// Takes bytes from the front of the input; past its end every byte reads as 0.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    const std::uint8_t* Rest() const { return data_ + at_; }
    std::size_t Left() const { return size_ - at_; }
    void Skip(std::size_t n) { at_ += n < Left() ? n : Left(); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Where the diagnostics of the code under test go: nowhere.
class NullStream : public std::ostream {
public:
    NullStream() : std::ostream(&buffer_) {}

private:
    struct Discard : std::streambuf {
        int overflow(int c) override { return c; }
    } buffer_;
};

}  // namespace flashwise::fuzz
