#include "tests/support/PeFiles.h"

#include <map>

#include "tests/support/ImageFiles.h"

namespace flashwise::test {

namespace {

constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::uint32_t kSectionFileAt = 0x200;

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

std::vector<std::uint8_t> MakePeFile(const std::vector<PeResource>& resources) {
    // type key -> id -> language -> resource index
    using Key = std::pair<std::u16string, std::uint32_t>;
    std::map<Key, std::map<std::uint32_t, std::map<std::uint16_t, std::size_t>>> tree;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const PeResource& r = resources[i];
        tree[{r.typeName, r.typeId}][r.id][r.language] = i;
    }
    // Sizes first: directories, then data entries, then names, then the data.
    std::size_t dirs = 16 + 8 * tree.size();
    std::size_t dataEntries = 0;
    for (const auto& type : tree) {
        dirs += 16 + 8 * type.second.size();
        for (const auto& id : type.second) {
            dirs += 16 + 8 * id.second.size();
            dataEntries += id.second.size();
        }
    }
    std::size_t names = 0;
    for (const auto& type : tree) {
        if (!type.first.first.empty()) names += 2 + 2 * type.first.first.size();
    }
    const std::size_t dataEntriesAt = dirs;
    const std::size_t namesAt = dataEntriesAt + 16 * dataEntries;
    std::size_t dataAt = (namesAt + names + 7) & ~std::size_t{7};

    std::vector<std::uint8_t> rsrc(dataAt, 0);
    std::size_t nextDir = 0;
    std::size_t nextEntry = dataEntriesAt;
    std::size_t nextName = namesAt;
    auto directory = [&](std::size_t count) {
        const std::size_t at = nextDir;
        Put16(rsrc, at + 14, static_cast<std::uint16_t>(count));
        nextDir += 16 + 8 * count;
        return at;
    };
    const std::size_t root = directory(tree.size());
    std::size_t typeIndex = 0;
    for (const auto& type : tree) {
        const std::size_t typeDir = directory(type.second.size());
        const std::size_t rootEntry = root + 16 + 8 * typeIndex++;
        if (!type.first.first.empty()) {
            PutWord(rsrc, rootEntry, 0x80000000u | static_cast<std::uint32_t>(nextName));
            Put16(rsrc, nextName, static_cast<std::uint16_t>(type.first.first.size()));
            for (std::size_t k = 0; k < type.first.first.size(); ++k) {
                Put16(rsrc, nextName + 2 + 2 * k, type.first.first[k]);
            }
            nextName += 2 + 2 * type.first.first.size();
        } else {
            PutWord(rsrc, rootEntry, type.first.second);
        }
        PutWord(rsrc, rootEntry + 4, 0x80000000u | static_cast<std::uint32_t>(typeDir));
        std::size_t idIndex = 0;
        for (const auto& id : type.second) {
            const std::size_t idDir = directory(id.second.size());
            const std::size_t typeEntry = typeDir + 16 + 8 * idIndex++;
            PutWord(rsrc, typeEntry, id.first);
            PutWord(rsrc, typeEntry + 4, 0x80000000u | static_cast<std::uint32_t>(idDir));
            std::size_t languageIndex = 0;
            for (const auto& language : id.second) {
                const std::size_t idEntry = idDir + 16 + 8 * languageIndex++;
                PutWord(rsrc, idEntry, language.first);
                PutWord(rsrc, idEntry + 4, static_cast<std::uint32_t>(nextEntry));
                const auto& bytes = resources[language.second].bytes;
                PutWord(rsrc, nextEntry, kSectionRva + static_cast<std::uint32_t>(dataAt));
                PutWord(rsrc, nextEntry + 4, static_cast<std::uint32_t>(bytes.size()));
                nextEntry += 16;
                rsrc.resize(dataAt);
                rsrc.insert(rsrc.end(), bytes.begin(), bytes.end());
                dataAt = (rsrc.size() + 7) & ~std::size_t{7};
            }
        }
    }
    rsrc.resize(dataAt);

    std::vector<std::uint8_t> file(kSectionFileAt, 0);
    file[0] = 'M';
    file[1] = 'Z';
    PutWord(file, 0x3C, 0x40);
    PutWord(file, 0x40, 0x00004550);        // "PE\0\0"
    Put16(file, 0x44, 0x014C);              // i386
    Put16(file, 0x46, 1);                   // one section
    Put16(file, 0x54, 224);                 // optional header size
    const std::size_t optional = 0x58;
    Put16(file, optional, 0x10B);           // PE32
    PutWord(file, optional + 92, 16);       // data directories
    PutWord(file, optional + 96 + 16, kSectionRva);
    PutWord(file, optional + 96 + 20, static_cast<std::uint32_t>(rsrc.size()));
    const std::size_t section = optional + 224;
    const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    for (int i = 0; i < 8; ++i) file[section + i] = static_cast<std::uint8_t>(name[i]);
    PutWord(file, section + 8, static_cast<std::uint32_t>(rsrc.size()));
    PutWord(file, section + 12, kSectionRva);
    PutWord(file, section + 16, static_cast<std::uint32_t>(rsrc.size()));
    PutWord(file, section + 20, kSectionFileAt);
    file.resize(kSectionFileAt);
    file.insert(file.end(), rsrc.begin(), rsrc.end());
    return file;
}

std::vector<std::uint8_t> StringBlock(const std::vector<std::pair<unsigned, std::u16string>>& texts) {
    std::vector<std::u16string> slots(16);
    for (const auto& t : texts) slots[t.first % 16] = t.second;
    std::vector<std::uint8_t> block;
    for (const auto& s : slots) {
        Put16(block, block.size(), static_cast<std::uint16_t>(s.size()));
        for (const char16_t c : s) Put16(block, block.size(), c);
    }
    return block;
}

std::vector<PeResource> ReleaseResources(const std::vector<std::uint8_t>& image,
                                         const std::vector<std::uint8_t>& bootLoaderImage) {
    std::vector<PeResource> r;
    auto text = [&](std::uint32_t id, std::uint16_t language, const std::string& value) {
        r.push_back({u"TXT", 0, id, language, Bytes(value)});
    };
    text(156, 1028, "V1.0.0 CHT");
    text(156, 0, "V2.1.7 FRA");
    text(157, 1028, "V1.0.0_2007-01-01");
    text(157, 0, "V3.42.10.2_2008-05-30");
    text(158, 1028, std::string("Flashwise.dll\0", 14));
    text(159, 1028, "CHT");
    text(159, 0, "FRA");
    text(160, 1028, "Krov Q512");
    text(161, 1028, std::string("Krov Q512\0", 10));
    r.push_back({u"BIN", 0, 152, 1028, Bytes("fake")});
    r.push_back({u"BIN", 0, 152, 0, image});
    r.push_back({u"BIN", 0, 153, 1028, bootLoaderImage.empty() ? Bytes("fake") : bootLoaderImage});
    r.push_back({u"", 6, 3, 1033, StringBlock({{33, u"Tarn_G4.abi"}, {37, u"Tarn_G4_SPBL.abi"}})});
    return r;
}

}  // namespace flashwise::test
