#pragma once
// What the release engineer's image tool reports about an image file: the header
// words, the sizes, and every unit in send order with the numbers the boot loader will
// check. Units are streamed in 8192-byte chunks; the file is never held whole.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace flashwise::tool {

struct UnitReport {
    int code = 0;
    std::uint64_t offset = 0;
    std::uint32_t length = 0;
    std::uint32_t requestLength = 0;    // length + 256, as in the request block
    std::uint32_t wordChecksum = 0;
    std::uint32_t byteChecksum = 0;     // data bytes present plus the 256 header bytes
    std::uint64_t bytesPresent = 0;     // less than length when the file ends early
    std::array<std::uint8_t, 256> sectionHeader{};
    std::array<std::uint8_t, 72> requestBlock{};  // as SendSection sends it (flag 0)
};

struct ImageReport {
    std::string file;           // as given
    std::string requestName;    // the name put into the request blocks
    std::uint64_t fileLength = 0;
    std::array<std::uint8_t, 256> header{};
    std::vector<UnitReport> units;      // in send order
    std::vector<std::string> warnings;  // damage found on the way, with the numbers
};

// False (with `error` set) when the file cannot be opened as a regular file.
// `name` empty: the file's own name part.
bool MakeImageReport(const std::filesystem::path& path, const std::u16string& name, ImageReport* report,
                     std::string* error);

std::string ReportAsJson(const ImageReport& report);
// A JSON string of the text, quoted and escaped.
std::string JsonString(const std::string& s);
std::string ReportAsText(const ImageReport& report);

}  // namespace flashwise::tool
