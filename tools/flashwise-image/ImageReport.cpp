#include "tools/flashwise-image/ImageReport.h"

#include <cstdio>
#include <system_error>

#include "image/FirmwareImage.h"
#include "image/SectionHeaderBuilder.h"
#include "image/TransferPlan.h"
#include "image/TransferUnits.h"
#include "link/Blocks.h"

namespace flashwise::tool {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunk = 8192;

std::string Hex(const std::uint8_t* p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 0xF];
    }
    return out;
}

std::string Word(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}


std::string Narrow(const fs::path& p) {
    try {
        const auto u8 = p.u8string();
        return std::string(u8.begin(), u8.end());
    } catch (...) {
        return "?";
    }
}

// Byte sum of the unit's data as far as the file holds it, in transfer-sized chunks.
std::uint32_t ByteSum(RandomAccessFile& file, std::uint64_t offset, std::uint32_t length, std::uint64_t* present) {
    std::uint32_t sum = 0;
    *present = 0;
    if (length == 0 || !file.Seek(offset)) return sum;
    std::uint8_t chunk[kChunk];
    std::uint32_t owed = length;
    while (owed > 0) {
        const std::size_t got = file.Read(chunk, owed < kChunk ? owed : kChunk);
        if (got == 0) break;
        for (std::size_t i = 0; i < got; ++i) sum += chunk[i];
        owed -= static_cast<std::uint32_t>(got);
        *present += got;
    }
    return sum;
}

// The request block that SendSection sends for this unit, laid out by the link's own
// definitions of the block.
void FillSendBlock(UnitReport& unit, const std::u16string& name, std::uint32_t type) {
    std::uint8_t* block = unit.requestBlock.data();
    StoreLe32(block + 0x00, kRequestMagic0);
    StoreLe32(block + 0x04, kRequestMagic1);
    StoreLe32(block + 0x08, kRequestMagic2);
    StoreLe32(block + kRequestLengthAt, unit.requestLength);
    PutRequestFileName(block, name);
    block[kRequestFlagAt] = kSendFlag;
    block[kRequestTypeAt] = static_cast<std::uint8_t>(type);
    block[kRequestTypeAt + 1] = static_cast<std::uint8_t>(type >> 8);
    StoreLe32(block + kRequestChecksumAt, unit.byteChecksum);
}

}  // namespace

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

bool MakeImageReport(const fs::path& path, const std::u16string& name, ImageReport* report, std::string* error) {
    *report = ImageReport{};
    report->file = Narrow(path);
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        *error = "cannot open " + report->file + ": no such file";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        *error = "cannot open " + report->file + ": not a regular file";
        return false;
    }
    CFirmwareImage image;
    if (!image.OpenImage(path)) {
        *error = "cannot open " + report->file + " for reading";
        return false;
    }
    report->fileLength = image.File().Length();
    report->header = image.Header();
    std::u16string requestName = name;
    if (requestName.empty()) {
        try {
            requestName = path.filename().u16string();
        } catch (...) {
            requestName.clear();
        }
    }
    report->requestName = Narrow(fs::path(requestName));

    if (report->fileLength < CFirmwareImage::kHeaderSize) {
        report->warnings.push_back("file is " + std::to_string(report->fileLength) +
                                   " bytes, shorter than its 256-byte header; the missing header bytes read as 0");
    }

    SectionHeaderBuilder builder(image);
    for (const int code : TransferOrder(image)) {
        UnitReport unit;
        unit.code = code;
        UnitRange range;
        UnitDataRange(image, code, &range);
        unit.offset = range.offset;
        unit.length = range.length;
        unit.requestLength = range.length + 256u;
        builder.BuildSectionHeader(unit.sectionHeader.data(), code);
        unit.wordChecksum = LoadLe32(unit.sectionHeader.data() + 0x0C);
        unit.byteChecksum = ByteSum(image.File(), range.offset, range.length, &unit.bytesPresent);
        for (const std::uint8_t b : unit.sectionHeader) unit.byteChecksum += b;
        FillSendBlock(unit, requestName, image.HeaderWord(0x34) & 0xFFFFu);
        if (unit.bytesPresent < unit.length) {
            report->warnings.push_back(
                "unit " + std::to_string(code) + " runs past the end of the file: bytes " + std::to_string(unit.offset) +
                " to " + std::to_string(unit.offset + unit.length - 1) + " (" + std::to_string(unit.length) +
                " bytes) but the file ends at " + std::to_string(report->fileLength) + ", " +
                std::to_string(unit.length - unit.bytesPresent) + " bytes missing; the checksums cover the " +
                std::to_string(unit.bytesPresent) + " bytes present");
        }
        report->units.push_back(unit);
    }
    image.CloseImage();
    return true;
}

namespace {

struct HeaderField {
    const char* name;
    std::size_t at;
};
const HeaderField kHeaderFields[] = {
    {"magic", 0x00}, {"word_10", 0x10}, {"type", 0x34}, {"table_offset", 0x44},
    {"L50", 0x30},   {"L51a", 0x14},    {"L51b", 0x18}, {"L52", 0x24},
    {"L53", 0x28},   {"L54a", 0x1C},    {"L54b", 0x2C},
};

std::string Tag(const std::array<std::uint8_t, 256>& header) {
    std::string tag;
    for (std::size_t i = 4; i < 12; ++i) {
        const char c = static_cast<char>(header[i]);
        tag += (c >= 0x20 && c < 0x7F) ? c : '.';
    }
    return tag;
}

}  // namespace

std::string ReportAsJson(const ImageReport& r) {
    std::string j = "{";
    j += "\"file\":" + JsonString(r.file);
    j += ",\"file_length\":" + std::to_string(r.fileLength);
    j += ",\"request_name\":" + JsonString(r.requestName);
    j += ",\"header\":{\"tag\":" + JsonString(Tag(r.header));
    for (const HeaderField& f : kHeaderFields) {
        j += ",\"" + std::string(f.name) + "\":" + std::to_string(LoadLe32(r.header.data() + f.at));
    }
    j += "},\"units\":[";
    for (std::size_t i = 0; i < r.units.size(); ++i) {
        const UnitReport& u = r.units[i];
        if (i > 0) j += ",";
        j += "{\"code\":" + std::to_string(u.code);
        j += ",\"offset\":" + std::to_string(u.offset);
        j += ",\"length\":" + std::to_string(u.length);
        j += ",\"request_length\":" + std::to_string(u.requestLength);
        j += ",\"word_checksum\":" + std::to_string(u.wordChecksum);
        j += ",\"byte_checksum\":" + std::to_string(u.byteChecksum);
        j += ",\"bytes_present\":" + std::to_string(u.bytesPresent);
        j += ",\"section_header_hex\":\"" + Hex(u.sectionHeader.data(), u.sectionHeader.size()) + "\"";
        j += ",\"request_block_hex\":\"" + Hex(u.requestBlock.data(), u.requestBlock.size()) + "\"}";
    }
    j += "],\"warnings\":[";
    for (std::size_t i = 0; i < r.warnings.size(); ++i) j += (i > 0 ? "," : "") + JsonString(r.warnings[i]);
    j += "]}\n";
    return j;
}

std::string ReportAsText(const ImageReport& r) {
    std::string t;
    t += "file            " + r.file + " (" + std::to_string(r.fileLength) + " bytes)\n";
    t += "request name    " + r.requestName + "\n";
    t += "tag             \"" + Tag(r.header) + "\"\n";
    for (const HeaderField& f : kHeaderFields) {
        const std::uint32_t v = LoadLe32(r.header.data() + f.at);
        char line[96];
        std::snprintf(line, sizeof line, "%-15s %s  %u\n", f.name, Word(v).c_str(), v);
        t += line;
    }
    t += "\ntransfer plan (" + std::to_string(r.units.size()) + (r.units.size() == 1 ? " unit" : " units") +
         ", in send order)\n";
    if (r.units.empty()) t += "  no unit: only the end of the transfer is sent\n";
    for (const UnitReport& u : r.units) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "unit %d  offset %llu  length %u  request length %u  word checksum %s  byte checksum %s\n",
                      u.code, static_cast<unsigned long long>(u.offset), u.length, u.requestLength,
                      Word(u.wordChecksum).c_str(), Word(u.byteChecksum).c_str());
        t += line;
        for (std::size_t row = 0; row < u.sectionHeader.size(); row += 32) {
            bool zero = true;
            for (std::size_t i = row; i < row + 32; ++i) zero = zero && u.sectionHeader[i] == 0;
            if (zero && row >= 0x60) continue;  // the tail of the header is zeros
            char at[16];
            std::snprintf(at, sizeof at, "  %02zx: ", row);
            t += at + Hex(u.sectionHeader.data() + row, 32) + "\n";
        }
    }
    return t;
}

}  // namespace flashwise::tool
