#include "image/SectionHeaderBuilder.h"

#include "image/TransferUnits.h"

namespace flashwise {

namespace {

std::uint32_t SizeWordsOf(const CFirmwareImage& image, std::uint32_t length, int code) {
    switch (code) {
        case 50: return image.L50();
        case 51: return image.L51a() + image.L51b();
        case 52: return image.L52();
        case 53: return image.L53();
        case 54: return image.L54a() + image.L54b();
        case 55: return length;
        case 56: return image.L54a() + kSplitOffset;
        case 57: return image.L54a() + image.L54b() - kSplitOffset;
        default: return 0;
    }
}

}  // namespace

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
    switch (code) {
        case 50: StoreLe32(header + 0x30, image_.L50()); break;
        case 51:
            StoreLe32(header + 0x14, image_.L51a());
            StoreLe32(header + 0x18, image_.L51b());
            break;
        case 52: StoreLe32(header + 0x24, image_.L52()); break;
        case 53: StoreLe32(header + 0x28, image_.L53()); break;
        case 54:
            StoreLe32(header + 0x1C, image_.L54a());
            StoreLe32(header + 0x2C, image_.L54b());
            break;
        case 56:
            StoreLe32(header + 0x1C, image_.L54a());
            StoreLe32(header + 0x2C, kSplitOffset);
            break;
        case 57:
            StoreLe32(header + 0x1C, image_.L54a());
            StoreLe32(header + 0x2C, image_.L54b() - kSplitOffset);
            StoreLe32(header + 0x4C, 1);
            break;
        case 55:
            if (!extRomFile_.Open(image_.ExtRomPath(), RandomAccessFile::Mode::ReadWrite)) return kExtRomUnavailable;
            range.length = static_cast<std::uint32_t>(extRomFile_.Length());
            StoreLe32(header + 0x30, range.length);
            break;
    }
    if (code != 55) UnitDataRange(image_, code, &range);

    std::uint32_t sum = SumDataWords(range.offset, range.length, code);
    if (code == 55) extRomFile_.Close();
    for (std::size_t at : {0x10, 0x34, 0x38, 0x3C, 0x40}) sum += LoadLe32(header + at);
    if (code == 57) sum += 1;
    StoreLe32(header + 0x0C, sum);
    return kBuilt;
}

std::uint32_t SectionHeaderBuilder::SumDataWords(std::uint64_t offset, std::uint32_t length, int code) {
    const std::uint32_t start = SizeWordsOf(image_, length, code);
    if (length == 0) return start;
    const bool fromImage = code != 55;
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
