#pragma once
// The system's 32-bit millisecond tick count and the thread's sleep, injectable so
// that tests let minutes pass at once. The count wraps after about 49.7 days: time
// passed is always the unsigned difference of two counts, which a wrap does not harm.

#include <cstdint>

namespace flashwise::update {

class Ticks {
public:
    virtual ~Ticks() = default;
    virtual std::uint32_t Now() = 0;
    virtual void Sleep(std::uint32_t ms) = 0;
};

inline std::uint32_t TicksSince(std::uint32_t start, std::uint32_t now) { return now - start; }

}  // namespace flashwise::update
