#pragma once
// Small program files with a resource directory, written here so the release reader can
// be tested in the host build, which cannot build the real release.

#include <cstdint>
#include <string>
#include <vector>

namespace flashwise::test {

struct PeResource {
    std::u16string typeName;   // "BIN", "TXT"; empty for a numbered type
    std::uint32_t typeId = 0;
    std::uint32_t id = 0;
    std::uint16_t language = 0;
    std::vector<std::uint8_t> bytes;
};

// A 32-bit program file whose one section holds these resources.
std::vector<std::uint8_t> MakePeFile(const std::vector<PeResource>& resources);

// A release as the wizard's build lays it out: the texts of the demo release (French,
// Krov Q512) in their layers, string-table block 3 with the image file names (33, 37),
// BIN 152 (neutral) = `image`, BIN 153 = `bootLoaderImage` in the base layer, or the
// 4-byte placeholder "fake" when it is empty.
std::vector<PeResource> ReleaseResources(const std::vector<std::uint8_t>& image,
                                         const std::vector<std::uint8_t>& bootLoaderImage = {});

// The string-table block holding `texts` at the positions (id % 16) given.
std::vector<std::uint8_t> StringBlock(const std::vector<std::pair<unsigned, std::u16string>>& texts);

}  // namespace flashwise::test
