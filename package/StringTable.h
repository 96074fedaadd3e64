#pragma once
// String-table entries as the resource compiler stores them: blocks of 16 strings,
// block n holding ids 16(n-1) to 16(n-1)+15, each string a 16-bit length followed
// by that many UTF-16 code units. A zero length means the id is not in the table.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "package/ByteView.h"

namespace flashwise::package {

constexpr unsigned kStringsPerBlock = 16;

// Resource id of the block that holds the string id.
constexpr unsigned StringBlockId(unsigned id) { return id / kStringsPerBlock + 1; }

// The string of this id out of its block, or nothing when the block does not hold
// it (or is cut short).
std::optional<std::u16string> StringFromBlock(ByteView block, unsigned id);

// Looks a string id up in whatever source is active.
using StringLookup = std::function<std::optional<std::u16string>(unsigned id)>;

// A missing id leaves the destination as it was; returns whether it was found.
bool LoadStringInto(const StringLookup& lookup, unsigned id, std::u16string& destination);

}  // namespace flashwise::package
