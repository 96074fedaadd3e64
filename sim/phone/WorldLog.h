#pragma once
// The simulated world's log: one line per act of the desktop's stand-ins (every Remote
// API call, service request and state, start-type change, connection-manager message,
// boot-loader open), so that tests can check order, balance and timing:
//
//   <ms> <source> <act> [<name>=<value>]...
//
// ms is a millisecond count of one clock that every process of the world reads; source
// says who acted (rapi, dccman, service, scm, bridge); a value holds no blank (a blank
// is written %20, a percent sign %25, a line break %0A). The format is described in
// sim/phone/README.md.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace flashwise::simphone {

struct WorldAct {
    std::uint64_t ms = 0;
    std::string source;
    std::string act;
    std::vector<std::pair<std::string, std::string>> fields;

    // The value of a field; nullopt when the act has none of that name.
    std::optional<std::string> Field(const std::string& name) const;
};

// The line for an act, its line break included.
std::string FormatWorldAct(const WorldAct& act);

// "0x8000FFFF": how results and error codes are written.
std::string HexWord(std::uint32_t word);

// Every well-formed line of a log, in order; a line that does not parse is skipped
// (a writer that died half-way through a line).
std::vector<WorldAct> ParseWorldLog(const std::string& text);

}  // namespace flashwise::simphone
