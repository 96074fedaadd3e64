#include "image/TransferUnits.h"

namespace flashwise {

namespace {

constexpr std::size_t kHeaderBytes = 256;

constexpr UnitShape kUnitShapes[] = {
    {50, 50, {0x30, 0}, UnitPart::Whole},
    {51, 51, {0x14, 0x18}, UnitPart::Whole},
    {52, 52, {0x24, 0}, UnitPart::Whole},
    {53, 53, {0x28, 0}, UnitPart::Whole},
    {54, 54, {0x1C, 0x2C}, UnitPart::Whole},
    {55, 0, {0x30, 0}, UnitPart::ExtendedRom},
    {56, 54, {0x1C, 0x2C}, UnitPart::BeforeSplit},
    {57, 54, {0x1C, 0x2C}, UnitPart::AfterSplit},
};

// File offset of `section`: the header and every section before it, in 32 bits.
std::uint32_t SectionOffset(const CFirmwareImage& image, int section) {
    std::uint32_t at = kHeaderBytes;
    for (int earlier = kFirstSectionCode; earlier < section; ++earlier) at += SectionLength(image, earlier);
    return at;
}

}  // namespace

const UnitShape* FindUnitShape(int code) {
    for (const UnitShape& shape : kUnitShapes) {
        if (shape.code == code) return &shape;
    }
    return nullptr;
}

std::uint32_t SectionLength(const CFirmwareImage& image, int section) {
    const UnitShape* shape = FindUnitShape(section);
    if (shape == nullptr || shape->part != UnitPart::Whole) return 0;
    std::uint32_t length = 0;
    for (const std::size_t at : shape->sizeWords) {
        if (at != 0) length += image.SectionSizeWord(at);
    }
    return length;
}

bool UnitDataRange(const CFirmwareImage& image, int code, UnitRange* range) {
    const UnitShape* shape = FindUnitShape(code);
    if (shape == nullptr) return false;
    UnitRange r;
    if (shape->part == UnitPart::ExtendedRom) {
        r.fromExtRomFile = true;
    } else {
        r.offset = SectionOffset(image, shape->section);
        const std::uint32_t whole = SectionLength(image, shape->section);
        switch (shape->part) {
            case UnitPart::Whole: r.length = whole; break;
            case UnitPart::BeforeSplit: r.length = kSplitOffset; break;
            case UnitPart::AfterSplit:
                r.offset += kSplitOffset;   // carries into 64 bits
                r.length = whole - kSplitOffset;
                break;
            case UnitPart::ExtendedRom: break;
        }
    }
    *range = r;
    return true;
}

std::size_t UnitSizeWords(const CFirmwareImage& image, int code, std::uint32_t extRomLength, SizeWord (&words)[2]) {
    const UnitShape* shape = FindUnitShape(code);
    if (shape == nullptr) return 0;
    std::size_t count = 0;
    for (const std::size_t at : shape->sizeWords) {
        if (at != 0) words[count++] = {at, image.SectionSizeWord(at)};
    }
    switch (shape->part) {
        case UnitPart::Whole: break;
        case UnitPart::ExtendedRom: words[0].value = extRomLength; break;
        // Both transfers of section 54 keep L54a and put their share of the split in
        // place of L54b.
        case UnitPart::BeforeSplit: words[1].value = kSplitOffset; break;
        case UnitPart::AfterSplit: words[1].value -= kSplitOffset; break;
    }
    return count;
}

std::uint32_t UnitProgressBytes(const CFirmwareImage& image, int code) {
    const UnitShape* shape = FindUnitShape(code);
    if (shape == nullptr) return 0;
    switch (shape->part) {
        case UnitPart::Whole:
        case UnitPart::AfterSplit: return SectionLength(image, shape->section);
        case UnitPart::BeforeSplit:
        case UnitPart::ExtendedRom: return 0;
    }
    return 0;
}

}  // namespace flashwise
