#include "package/ReleaseFile.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "package/StringTable.h"

namespace flashwise::package {

namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::size_t kDirectorySize = 16;
constexpr std::size_t kDirectoryEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;
constexpr std::size_t kSectionSize = 40;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
// Directories may share children, so a small file can describe a vast tree: the walk
// stops at this many entries visited, far above any release.
constexpr std::uint64_t kMaxEntriesVisited = 1u << 16;

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// True when [at, at + length) lies within `size`, computed without overflow.
bool Within(std::uint64_t at, std::uint64_t length, std::uint64_t size) {
    return at <= size && length <= size - at;
}

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

class Walker {
public:
    Walker(const std::vector<std::uint8_t>& bytes, std::vector<Section> sections)
        : bytes_(bytes), sections_(std::move(sections)) {}

    // The file offset of `length` bytes at `rva`, when one section's raw data holds them all.
    std::optional<std::uint64_t> FileOffset(std::uint32_t rva, std::uint64_t length) const {
        for (const Section& s : sections_) {
            if (rva < s.virtualAddress) continue;
            const std::uint64_t into = static_cast<std::uint64_t>(rva) - s.virtualAddress;
            if (!Within(into, length, s.rawSize)) continue;
            const std::uint64_t at = static_cast<std::uint64_t>(s.rawOffset) + into;
            if (Within(at, length, bytes_.size())) return at;
        }
        return std::nullopt;
    }

    // How many bytes of raw section data follow `rva` within its section and the file.
    std::uint64_t Extent(std::uint32_t rva) const {
        for (const Section& s : sections_) {
            if (rva < s.virtualAddress || rva - s.virtualAddress >= s.rawSize) continue;
            const std::uint64_t into = static_cast<std::uint64_t>(rva) - s.virtualAddress;
            const std::uint64_t at = static_cast<std::uint64_t>(s.rawOffset) + into;
            if (at >= bytes_.size()) continue;
            const std::uint64_t inSection = s.rawSize - into;
            const std::uint64_t inFile = bytes_.size() - at;
            return inSection < inFile ? inSection : inFile;
        }
        return 0;
    }

    // Resource directory offsets are relative to its root. Linkers differ in what the
    // directory's declared size covers, so the structures may use the rest of the
    // root's section, never more.
    bool WalkRoot(std::uint32_t rootRva, std::vector<ResourceEntry>* out, std::string* error) {
        const std::uint64_t extent = Extent(rootRva);
        const auto root = FileOffset(rootRva, extent);
        if (!root || extent < kDirectorySize) {
            *error = "its resource directory lies outside the file";
            return false;
        }
        root_ = *root;
        rootSize_ = extent;
        return Directory(0, 0, {}, out, error);
    }

private:
    const std::uint8_t* At(std::uint64_t relative) const { return bytes_.data() + root_ + relative; }

    bool Directory(std::uint32_t offset, int depth, ResourceEntry path, std::vector<ResourceEntry>* out,
                   std::string* error) {
        if (!Within(offset, kDirectorySize, rootSize_)) {
            *error = "a resource directory lies outside the resource section";
            return false;
        }
        const std::uint8_t* dir = At(offset);
        const std::uint64_t count = static_cast<std::uint64_t>(Le16(dir + 12)) + Le16(dir + 14);
        if (!Within(offset + kDirectorySize, count * kDirectoryEntrySize, rootSize_)) {
            *error = "a resource directory's entries run past the resource section";
            return false;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            if (++visited_ > kMaxEntriesVisited) {
                *error = "its resource directory holds more entries than any release";
                return false;
            }
            const std::uint8_t* entry = At(offset + kDirectorySize + i * kDirectoryEntrySize);
            const std::uint32_t name = Le32(entry);
            const std::uint32_t target = Le32(entry + 4);
            ResourceEntry next = path;
            if (depth == 0) {
                if (name & kHighBit) {
                    if (!Name(name & ~kHighBit, &next.typeName, error)) return false;
                } else {
                    next.typeId = name;
                }
            } else if (depth == 1) {
                if (name & kHighBit) continue;   // entries named by string are not the package's
                next.id = name;
            } else {
                next.language = static_cast<std::uint16_t>(name);
            }
            const bool isDirectory = (target & kHighBit) != 0;
            if (depth < 2) {
                // Only the three levels exist; a data entry higher up is malformed, and a
                // directory deeper down (or pointing back up) could make the walk endless.
                if (!isDirectory) {
                    *error = "a resource directory entry points to data where a directory belongs";
                    return false;
                }
                const std::uint32_t child = target & ~kHighBit;
                if (child <= offset) {
                    *error = "a resource directory points back to itself or an earlier one";
                    return false;
                }
                if (!Directory(child, depth + 1, next, out, error)) return false;
            } else {
                if (isDirectory) {
                    *error = "a resource language entry points to a further directory";
                    return false;
                }
                if (!Within(target, kDataEntrySize, rootSize_)) {
                    *error = "a resource data entry lies outside the resource section";
                    return false;
                }
                const std::uint32_t dataRva = Le32(At(target));
                const std::uint32_t dataSize = Le32(At(target) + 4);
                const auto data = FileOffset(dataRva, dataSize);
                if (!data) {
                    *error = "resource " + std::to_string(next.id) + " (" + std::to_string(dataSize) +
                             " bytes) lies outside the file";
                    return false;
                }
                next.bytes = {bytes_.data() + *data, dataSize};
                out->push_back(next);
            }
        }
        return true;
    }

    bool Name(std::uint32_t offset, std::u16string* name, std::string* error) {
        if (!Within(offset, 2, rootSize_)) {
            *error = "a resource type name lies outside the resource section";
            return false;
        }
        const std::uint16_t length = Le16(At(offset));
        if (!Within(offset + 2u, 2u * length, rootSize_)) {
            *error = "a resource type name runs past the resource section";
            return false;
        }
        name->resize(length);
        for (std::uint16_t i = 0; i < length; ++i) (*name)[i] = static_cast<char16_t>(Le16(At(offset + 2u + 2u * i)));
        return true;
    }

    const std::vector<std::uint8_t>& bytes_;
    std::vector<Section> sections_;
    std::uint64_t root_ = 0;
    std::uint64_t rootSize_ = 0;
    std::uint64_t visited_ = 0;
};

}  // namespace

bool ReleaseFile::Load(const std::filesystem::path& path, std::string* error) {
    entries_.clear();
    bytes_.clear();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        *error = ec || !std::filesystem::exists(path, ec) ? "no such file" : "not a regular file";
        return false;
    }
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        *error = "cannot read its size: " + ec.message();
        return false;
    }
    if (size > kMaxReleaseFileBytes) {
        *error = "it is " + std::to_string(size) + " bytes, larger than any release";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open it for reading";
        return false;
    }
    bytes_.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes_.data()), static_cast<std::streamsize>(size));
    if (static_cast<std::uint64_t>(in.gcount()) != size) {
        bytes_.clear();
        *error = "it could not be read to its end";
        return false;
    }
    return ParseHeld(error);
}

bool ReleaseFile::Parse(const std::uint8_t* data, std::size_t size, std::string* error) {
    entries_.clear();
    bytes_.assign(data, data + size);
    return ParseHeld(error);
}

bool ReleaseFile::ParseHeld(std::string* error) {
    const std::uint64_t size = bytes_.size();
    const std::uint8_t* b = bytes_.data();
    if (size < 64 || b[0] != 'M' || b[1] != 'Z') {
        *error = "it is not a program file (no MZ header)";
        return false;
    }
    const std::uint32_t pe = Le32(b + 0x3C);
    if (!Within(pe, 24, size) || Le32(b + pe) != 0x00004550u) {
        *error = "it is not a program file (no PE header)";
        return false;
    }
    const std::uint16_t sectionCount = Le16(b + pe + 6);
    const std::uint16_t optionalSize = Le16(b + pe + 20);
    const std::uint64_t optional = static_cast<std::uint64_t>(pe) + 24;
    if (!Within(optional, optionalSize, size) || optionalSize < 2) {
        *error = "its optional header runs past the end of the file";
        return false;
    }
    const std::uint16_t magic = Le16(b + optional);
    std::uint64_t countAt = 0;
    if (magic == 0x10B) {
        countAt = 92;
    } else if (magic == 0x20B) {
        countAt = 108;
    } else {
        *error = "its optional header is of an unknown kind";
        return false;
    }
    if (countAt + 4 > optionalSize) {
        *error = "its optional header has no data directories";
        return false;
    }
    const std::uint32_t directoryCount = Le32(b + optional + countAt);
    const std::uint64_t resourceAt = countAt + 4 + 8ull * kResourceDirectoryIndex;
    if (directoryCount <= kResourceDirectoryIndex || resourceAt + 8 > optionalSize) {
        *error = "it has no resource directory";
        return false;
    }
    const std::uint32_t resourceRva = Le32(b + optional + resourceAt);
    const std::uint32_t resourceSize = Le32(b + optional + resourceAt + 4);
    if (resourceRva == 0 || resourceSize == 0) {
        *error = "it has no resource directory";
        return false;
    }
    const std::uint64_t table = optional + optionalSize;
    if (!Within(table, static_cast<std::uint64_t>(sectionCount) * kSectionSize, size)) {
        *error = "its section table runs past the end of the file";
        return false;
    }
    std::vector<Section> sections;
    sections.reserve(sectionCount);
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* s = b + table + i * kSectionSize;
        sections.push_back({Le32(s + 12), Le32(s + 8), Le32(s + 16), Le32(s + 20)});
    }
    Walker walker(bytes_, std::move(sections));
    std::vector<ResourceEntry> found;
    if (!walker.WalkRoot(resourceRva, &found, error)) return false;
    entries_ = std::move(found);
    return true;
}

LayeredEntry ReleaseFile::Lookup(const std::u16string& type, std::uint32_t id) const {
    return LookupByLayer([&](std::uint16_t language) -> std::optional<ByteView> {
        for (const ResourceEntry& e : entries_) {
            if (e.typeName == type && e.id == id && e.language == language) return e.bytes;
        }
        return std::nullopt;
    });
}

std::optional<std::u16string> ReleaseFile::String(unsigned id) const {
    const std::uint32_t block = StringBlockId(id);
    const ResourceEntry* any = nullptr;
    for (const ResourceEntry& e : entries_) {
        if (!e.typeName.empty() || e.typeId != kStringTableType || e.id != block) continue;
        if (e.language == kStringLanguage) return StringFromBlock(e.bytes, id);
        if (any == nullptr) any = &e;
    }
    if (any == nullptr) return std::nullopt;
    return StringFromBlock(any->bytes, id);
}

std::vector<std::uint16_t> ReleaseFile::Languages(const std::u16string& type) const {
    std::vector<std::uint16_t> languages;
    for (const ResourceEntry& e : entries_) {
        if (e.typeName == type && std::find(languages.begin(), languages.end(), e.language) == languages.end()) {
            languages.push_back(e.language);
        }
    }
    std::sort(languages.begin(), languages.end());
    return languages;
}

}  // namespace flashwise::package
