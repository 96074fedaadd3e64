#pragma once
// Appends the world's acts to "world.log" in the simulated phone's folder (the log's
// format: sim/phone/WorldLog.h). Every process of the world writes it, one whole line
// at a time under a named mutex, with the time of one clock they all share.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace flashwise::simphone {

using WorldFields = std::vector<std::pair<std::string, std::string>>;

std::wstring WorldLogPath();
// Milliseconds of the machine's monotonic clock, the same in every process.
std::uint64_t WorldClockMs();
void LogWorldAct(const std::string& source, const std::string& act, const WorldFields& fields = {});

}  // namespace flashwise::simphone
