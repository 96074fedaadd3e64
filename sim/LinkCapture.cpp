#include "sim/LinkCapture.h"

#include <cstdio>

#include "sim/CommEvents.h"

namespace flashwise::sim {

void LinkCapture::Add(const char* dir, const std::string& rest) {
    if (!enabled_) return;
    lines_.push_back(std::to_string(++seq_) + " " + dir + " " + rest);
}

std::string LinkCapture::Hex(const std::uint8_t* data, std::size_t size) const {
    static const char kDigits[] = "0123456789abcdef";
    const std::size_t shown = size < hexLimit_ ? size : hexLimit_;
    std::string out;
    out.reserve(shown * 2 + 3);
    for (std::size_t i = 0; i < shown; ++i) {
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 0x0F]);
    }
    if (shown < size) out += "...";
    return out;
}

void LinkCapture::Line(bool asserted) { Add("H>D", asserted ? "line 1" : "line 0"); }

void LinkCapture::Write(const std::uint8_t* data, std::size_t size) {
    if (!enabled_) return;
    Add("H>D", "write " + std::to_string(size) + (size ? " " + Hex(data, size) : std::string()));
}

void LinkCapture::Read(const std::uint8_t* data, std::size_t size) {
    if (!enabled_) return;
    Add("D>H", "read " + std::to_string(size) + (size ? " " + Hex(data, size) : std::string()));
}

void LinkCapture::ZeroLengthPacket() { Add("D>H", "zlp"); }
void LinkCapture::EmptyRead() { Add("D>H", "empty"); }
void LinkCapture::Gone(const char* dir) { Add(dir, "gone"); }
void LinkCapture::Event(std::uint32_t mask) { Add("D>H", "event " + EventNames(mask)); }
void LinkCapture::Wait(std::uint32_t mask) { Add("H>D", "wait " + EventNames(mask)); }
void LinkCapture::Note(const std::string& text) { Add("SIM", "note " + text); }

std::string LinkCapture::EventNames(std::uint32_t mask) {
    static const struct {
        std::uint32_t bit;
        const char* name;
    } kNames[] = {{kEventRxChar, "RXCHAR"}, {kEventRxFlag, "RXFLAG"}, {kEventCts, "CTS"},
                  {kEventDsr, "DSR"},       {kEventBreak, "BREAK"},   {kEventError, "ERR"}};
    std::string out;
    for (const auto& n : kNames) {
        if ((mask & n.bit) == 0) continue;
        if (!out.empty()) out += "|";
        out += n.name;
        mask &= ~n.bit;
    }
    if (mask != 0) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(mask));
        if (!out.empty()) out += "|";
        out += buf;
    }
    return out.empty() ? "none" : out;
}

std::string LinkCapture::Text() const {
    std::string out;
    for (const auto& line : lines_) {
        out += line;
        out += '\n';
    }
    return out;
}

}  // namespace flashwise::sim
