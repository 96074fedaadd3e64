#pragma once
// What the update logic reads from the package: the "BIN" payloads it writes out and
// the string-table texts that name files, and the release's version.

#include <cstddef>
#include <cstdint>
#include <string>

namespace flashwise::update {

class PackagePayloads {
public:
    virtual ~PackagePayloads() = default;
    // False when the entry is missing or cannot be loaded. The bytes stay valid for
    // the rest of the run.
    virtual bool ReadBinary(unsigned id, const std::uint8_t** data, std::size_t* size) = 0;
    // String-table text `id` of the active source; empty when missing.
    virtual std::u16string Text(unsigned id) = 0;
    // The release's new ROM version (TXT 156), as the update page shows it.
    virtual std::u16string NewRomVersion() = 0;
};

}  // namespace flashwise::update
