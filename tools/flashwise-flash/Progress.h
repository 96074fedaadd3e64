#pragma once
// What the user sees while units go over: on a terminal one line per unit, rewritten a
// few times a second with bytes, rate and time left; otherwise a plain line when each
// unit ends. The driver and links never print; they are watched from here.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "link/Clock.h"

namespace flashwise::flash {

class Progress {
public:
    // `bytesSent`: what the transport has sent so far, any thread may ask.
    Progress(std::FILE* out, bool terminal, ClockFn clock, std::function<std::uint64_t()> bytesSent);

    void BeginPass(const std::string& title);
    void BeginUnit(int code, std::uint64_t length);
    void EndUnit(bool written);
    // Rewrites the terminal line; nothing otherwise.
    void Tick();

    std::uint64_t UnitBytes() const;

private:
    std::string Line(bool final) const;

    std::FILE* out_;
    bool terminal_;
    ClockFn clock_;
    std::function<std::uint64_t()> bytesSent_;
    mutable std::mutex lock_;
    bool inUnit_ = false;
    int code_ = 0;
    std::uint64_t length_ = 0;
    std::uint64_t startBytes_ = 0;
    std::uint64_t startMs_ = 0;
};

}  // namespace flashwise::flash
