#include "image/SectionHeaderBuilder.h"

#include "image/TransferUnits.h"

namespace flashwise {

SectionHeaderBuilder::SectionHeaderBuilder(CFirmwareImage& image) : image_(image), chunk_(kChunkSize) {}

int SectionHeaderBuilder::BuildSectionHeader(std::uint8_t* header, int code) {
    if (code < kFirstSectionCode || code > kLastSectionCode) return kUnknownCode;

    const auto copy = [&](std::size_t from, std::size_t to) { StoreLe32(header + to, image_.HeaderWord(from)); };
    copy(0x00, 0x00);
    copy(0x04, 0x04);
    copy(0x08, 0x08);
    copy(0x10, 0x10);
    copy(0x34, 0x34);
    StoreLe32(header + 0x38, image_.L53());
    StoreLe32(header + 0x3C, image_.L54b());
    StoreLe32(header + 0x40, image_.L50());

    UnitRange range;
    if (code == kExtendedRomCode) {
        if (!extRomFile_.Open(image_.ExtRomPath(), RandomAccessFile::Mode::ReadWrite)) return kExtRomUnavailable;
        range.length = static_cast<std::uint32_t>(extRomFile_.Length());
    } else {
        UnitDataRange(image_, code, &range);
    }
    SizeWord words[2];
    const std::size_t count = UnitSizeWords(image_, code, range.length, words);
    for (std::size_t i = 0; i < count; ++i) StoreLe32(header + words[i].at, words[i].value);
    if (code == 57) StoreLe32(header + 0x4C, 1);   // the second part of a split section

    std::uint32_t sum = SumDataWords(range.offset, range.length, code);
    if (code == kExtendedRomCode) extRomFile_.Close();
    for (std::size_t at : {0x10, 0x34, 0x38, 0x3C, 0x40}) sum += LoadLe32(header + at);
    if (code == 57) sum += 1;
    StoreLe32(header + 0x0C, sum);
    return kBuilt;
}

std::uint32_t SectionHeaderBuilder::SumDataWords(std::uint64_t offset, std::uint32_t length, int code) {
    // The unit's size words as its header carries them.
    SizeWord words[2];
    const std::size_t count = UnitSizeWords(image_, code, length, words);
    std::uint32_t start = 0;
    for (std::size_t i = 0; i < count; ++i) start += words[i].value;
    if (length == 0) return start;
    const bool fromImage = code != kExtendedRomCode;
    DataSums known;
    if (fromImage && image_.RecallSums(offset, length, &known)) return start + known.words;

    RandomAccessFile* source = &extRomFile_;
    if (fromImage) {
        source = &image_.File();
        if (!source->Seek(offset)) return start;
    }
    // The byte sum is taken in the same pass: the section operations reuse it.
    DataSummer summer;
    std::uint32_t owed = length;
    while (owed > 0) {
        const std::size_t want = owed < chunk_.size() ? owed : chunk_.size();
        const std::size_t got = source->Read(chunk_.data(), want);
        if (got == 0) break;  // end of the file
        summer.Add(chunk_.data(), got);
        owed -= static_cast<std::uint32_t>(got);
    }
    if (fromImage && owed == 0) image_.RememberSums(offset, length, summer.Sums());
    return start + summer.Sums().words;
}

}  // namespace flashwise
