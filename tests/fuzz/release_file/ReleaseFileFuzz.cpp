// A release executable as the native flasher reads it: the PE headers, the section
// table and the resource directory, then every lookup the flasher makes. Every entry
// found must lie inside the input.

#include <string>

#include "package/ReleaseFile.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace flashwise::package;
    ReleaseFile file;
    std::string error;
    const bool ok = file.Parse(data, size, &error);
    FUZZ_CHECK(ok == error.empty());
    if (!ok) {
        FUZZ_CHECK(file.Entries().empty());
        return 0;
    }
    // The object holds its own copy: entries point into it and must fit in the input's length.
    for (const ResourceEntry& e : file.Entries()) FUZZ_CHECK(e.bytes.size <= size);
    for (const std::uint32_t id : {152u, 153u}) file.Lookup(u"BIN", id);
    for (std::uint32_t id = 156; id <= 161; ++id) file.Lookup(u"TXT", id);
    for (const unsigned id : {33u, 37u}) file.String(id);
    file.Languages(u"TXT");
    return 0;
}
