#include "tools/flashwise-flash/Progress.h"

namespace flashwise::flash {

namespace {

// The request block and section header that go ahead of a unit's data.
constexpr std::uint64_t kBlocksBeforeData = 72 + 72 + 256;

std::string Duration(double seconds) {
    char text[32];
    if (seconds < 60) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else {
        const int whole = static_cast<int>(seconds);
        std::snprintf(text, sizeof text, "%d min %02d s", whole / 60, whole % 60);
    }
    return text;
}

}  // namespace

Progress::Progress(std::FILE* out, bool terminal, ClockFn clock, std::function<std::uint64_t()> bytesSent)
    : out_(out), terminal_(terminal), clock_(std::move(clock)), bytesSent_(std::move(bytesSent)) {}

void Progress::BeginPass(const std::string& title) {
    std::lock_guard<std::mutex> hold(lock_);
    std::fprintf(out_, "%s\n", title.c_str());
    std::fflush(out_);
}

void Progress::BeginUnit(int code, std::uint64_t length) {
    std::lock_guard<std::mutex> hold(lock_);
    inUnit_ = true;
    code_ = code;
    length_ = length;
    startBytes_ = bytesSent_();
    startMs_ = clock_();
}

std::uint64_t Progress::UnitBytes() const {
    const std::uint64_t moved = bytesSent_() - startBytes_;
    const std::uint64_t data = moved > kBlocksBeforeData ? moved - kBlocksBeforeData : 0;
    return data < length_ ? data : length_;
}

std::string Progress::Line(bool final) const {
    const std::uint64_t bytes = UnitBytes();
    const double seconds = static_cast<double>(clock_() - startMs_) / 1000.0;
    const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0;
    char text[160];
    if (final) {
        std::snprintf(text, sizeof text, "unit %d: %llu bytes written in %s (%.2f MB/s)", code_,
                      static_cast<unsigned long long>(bytes), Duration(seconds).c_str(), rate / 1e6);
    } else {
        const std::string left = rate > 0 ? Duration(static_cast<double>(length_ - bytes) / rate) : "?";
        std::snprintf(text, sizeof text, "unit %d: %llu of %llu bytes, %.2f MB/s, %s left", code_,
                      static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(length_), rate / 1e6,
                      left.c_str());
    }
    return text;
}

void Progress::EndUnit(bool written) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!inUnit_) return;
    inUnit_ = false;
    const std::string line =
        written ? Line(true)
                : "unit " + std::to_string(code_) + ": failed after " + std::to_string(UnitBytes()) + " of " +
                      std::to_string(length_) + " bytes";
    std::fprintf(out_, terminal_ ? "\r\033[K%s\n" : "%s\n", line.c_str());
    std::fflush(out_);
}

void Progress::Tick() {
    std::lock_guard<std::mutex> hold(lock_);
    if (!terminal_ || !inUnit_) return;
    std::fprintf(out_, "\r\033[K%s", Line(false).c_str());
    std::fflush(out_);
}

}  // namespace flashwise::flash
