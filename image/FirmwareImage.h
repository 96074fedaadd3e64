#pragma once
// The image object: an open firmware image file with copies of its 256-byte header
// and 2048-byte extension table. Nothing is validated here; the boot loader judges
// the data through the checksums of the link.

#include <array>
#include <cstdint>
#include <filesystem>

#include "image/DataSums.h"
#include "image/RandomAccessFile.h"
#include "image/WorkFolder.h"

namespace flashwise {

class CFirmwareImage {
public:
    static constexpr std::size_t kHeaderSize = 256;
    static constexpr std::size_t kExtensionTableSize = 2048;
    static constexpr std::uint32_t kNoFile = 0xFFFFFFFFu;       // size accessors with no open file
    static constexpr std::int32_t kNoExtendedRom = -2;
    static constexpr std::size_t kExtendedRomSizesAt = 196;     // in the extension table
    static constexpr std::size_t kExtendedRomSizeCount = (kExtensionTableSize - kExtendedRomSizesAt) / 4;

    // The object unpacks ExtRom.tmp into `folder` and everything that sends unit 55 reads
    // it from there. Without a folder: the working folder as it is when the object is made.
    CFirmwareImage();
    explicit CFirmwareImage(const WorkFolder& folder);

    // Opens the file read-only and loads the header and the extension table; what a
    // short file does not hold reads as zeros. False when the file cannot be opened.
    bool OpenImage(const std::filesystem::path& path);
    void CloseImage();
    bool IsOpen() const { return file_.IsOpen(); }

    // Header size words; kNoFile when no file is open.
    std::uint32_t L50() const { return SectionSizeWord(0x30); }
    std::uint32_t L51a() const { return SectionSizeWord(0x14); }
    std::uint32_t L51b() const { return SectionSizeWord(0x18); }
    std::uint32_t L52() const { return SectionSizeWord(0x24); }
    std::uint32_t L53() const { return SectionSizeWord(0x28); }
    std::uint32_t L54a() const { return SectionSizeWord(0x1C); }
    std::uint32_t L54b() const { return SectionSizeWord(0x2C); }
    // The size word at header offset `offset`; kNoFile when no file is open.
    std::uint32_t SectionSizeWord(std::size_t offset) const { return IsOpen() ? HeaderWord(offset) : kNoFile; }

    // Any little-endian word of the header copy, whether or not a file is open.
    std::uint32_t HeaderWord(std::size_t offset) const;
    const std::array<std::uint8_t, kHeaderSize>& Header() const { return header_; }
    const std::array<std::uint8_t, kExtensionTableSize>& ExtensionTable() const { return table_; }

    // Size of extended-ROM entry k from the extension table (0 outside the table).
    std::uint32_t ExtendedRomSize(std::int32_t k) const;
    std::int32_t ExtendedRomSelection() const { return selection_; }
    // Nothing in the updater selects an entry; tests and tools may.
    void SelectExtendedRom(std::int32_t index) { selection_ = index; }
    // File offset of the selected entry (of entry 0 when none is selected).
    std::uint64_t ExtendedRomOffset() const;

    const std::filesystem::path& Path() const { return path_; }
    // ExtRom.tmp: the one path the unpacker, the section-header builder and both links use.
    const std::filesystem::path& ExtRomPath() const { return extRomPath_; }
    RandomAccessFile& File() { return file_; }
    // The second file object, used to write and read ExtRom.tmp.
    RandomAccessFile& ExtRomFile() { return extRomFile_; }

    // The data sums of the last range of the image file that was summed in full, so
    // that a unit's header and both of its section operations cost one pass over its
    // bytes, not three. Forgotten whenever a file is opened or closed.
    void RememberSums(std::uint64_t offset, std::uint32_t length, const DataSums& sums);
    bool RecallSums(std::uint64_t offset, std::uint32_t length, DataSums* sums) const;

private:
    std::array<std::uint8_t, kHeaderSize> header_{};
    std::array<std::uint8_t, kExtensionTableSize> table_{};
    RandomAccessFile file_;
    std::int32_t selection_ = kNoExtendedRom;
    RandomAccessFile extRomFile_;
    std::filesystem::path path_;
    std::filesystem::path extRomPath_;

    struct SummedRange {
        bool valid = false;
        std::uint64_t offset = 0;
        std::uint32_t length = 0;
        DataSums sums;
    };
    SummedRange summed_;
};

// Little-endian words on the wire and on disk.
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline void StoreLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace flashwise
