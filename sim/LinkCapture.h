#pragma once
// A record of everything that crossed the simulated link, one text line per event
// (format in sim/README.md):
//
//   <seq> <dir> <kind> [fields...]
//
//   seq   decimal sequence number from 1
//   dir   H>D host to device, D>H device to host, SIM the device's own notes
//   kind  line <0|1> | write <len> <hex> | read <len> <hex> | zlp | empty | gone |
//         event <names> | wait <names|none> | note <text>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace flashwise::sim {

class LinkCapture {
public:
    void Enable(bool on) { enabled_ = on; }
    bool Enabled() const { return enabled_; }
    // Longer transfers keep their true length but show only this many bytes, then "...".
    void SetHexLimit(std::size_t bytes) { hexLimit_ = bytes; }

    void Line(bool asserted);
    void Write(const std::uint8_t* data, std::size_t size);
    void Read(const std::uint8_t* data, std::size_t size);
    void ZeroLengthPacket();
    void EmptyRead();
    void Gone(const char* dir);
    void Event(std::uint32_t mask);
    void Wait(std::uint32_t mask);
    void Note(const std::string& text);

    const std::vector<std::string>& Lines() const { return lines_; }
    std::string Text() const;  // every line, each ending in '\n'
    void Clear() { lines_.clear(); seq_ = 0; }

    static std::string EventNames(std::uint32_t mask);

private:
    void Add(const char* dir, const std::string& rest);
    std::string Hex(const std::uint8_t* data, std::size_t size) const;

    bool enabled_ = false;
    std::size_t hexLimit_ = std::numeric_limits<std::size_t>::max();
    std::uint64_t seq_ = 0;
    std::vector<std::string> lines_;
};

}  // namespace flashwise::sim
