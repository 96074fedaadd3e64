#pragma once
// A shipped release read as a file, on any platform: the resource directory of the
// program file, found through its PE headers. Every offset, size and count is checked
// against the file before it is followed; nothing is allocated from a size the file
// gives. The entries point into the bytes the object holds.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "package/ByteView.h"
#include "package/LayerRule.h"

namespace flashwise::package {

// The string-table resource type, and the language of the program's own texts.
constexpr std::uint32_t kStringTableType = 6;
constexpr std::uint16_t kStringLanguage = 1033;

// Larger files are refused before they are read.
constexpr std::uint64_t kMaxReleaseFileBytes = 2ull << 30;

struct ResourceEntry {
    std::u16string typeName;    // empty when the type is a number
    std::uint32_t typeId = 0;   // when typeName is empty
    std::uint32_t id = 0;
    std::uint16_t language = 0;
    ByteView bytes;
};

class ReleaseFile {
public:
    // Reads the whole file. False with a one-line reason when it cannot be read or is
    // not a program file with a resource directory.
    bool Load(const std::filesystem::path& path, std::string* error);
    // The same from bytes already in memory (copied).
    bool Parse(const std::uint8_t* data, std::size_t size, std::string* error);

    const std::vector<ResourceEntry>& Entries() const { return entries_; }

    // The entry of a custom type named `type` ("BIN", "TXT") by the layer rule.
    LayeredEntry Lookup(const std::u16string& type, std::uint32_t id) const;
    // A string-table text: language 1033 first, then whatever language holds its block.
    std::optional<std::u16string> String(unsigned id) const;
    // The languages that entries of this named type carry, ascending.
    std::vector<std::uint16_t> Languages(const std::u16string& type) const;

private:
    bool ParseHeld(std::string* error);

    std::vector<std::uint8_t> bytes_;
    std::vector<ResourceEntry> entries_;
};

}  // namespace flashwise::package
