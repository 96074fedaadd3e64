#include "image/ImageCheck.h"

#include <cstring>

namespace flashwise {

namespace {

constexpr std::uint32_t kMagic = 0x13151301u;
constexpr char kTag[] = "3GIMAGE ";

struct SectionWords {
    int section;
    std::size_t words[2];
};
// In file order; each section's parts lie back to back.
constexpr SectionWords kFileOrder[] = {
    {50, {0x30, 0}}, {51, {0x14, 0x18}}, {52, {0x24, 0}}, {53, {0x28, 0}}, {54, {0x1C, 0x2C}},
};

}  // namespace

ImageCheck CheckWholeImage(const CFirmwareImage& image, std::uint64_t fileLength) {
    ImageCheck check;
    if (!image.IsOpen()) {
        check.failure = "the image file is not open";
        return check;
    }
    if (fileLength < CFirmwareImage::kHeaderSize) {
        check.failure = "the image is " + std::to_string(fileLength) + " bytes, shorter than its 256-byte header";
        return check;
    }
    if (image.HeaderWord(0x00) != kMagic) {
        check.failure = "the image's magic word is not 01 13 15 13";
        return check;
    }
    if (std::memcmp(image.Header().data() + 4, kTag, 8) != 0) {
        check.failure = "the image's tag is not \"3GIMAGE \"";
        return check;
    }
    const std::uint32_t type = image.HeaderWord(0x34);
    if (type == 0 || type > 0xFFFFu) {
        check.failure = "the image's type " + std::to_string(type) + " does not fit a request block";
        return check;
    }
    // Sums in 64 bits: a 32-bit sum that wraps would put a unit somewhere else.
    std::uint64_t at = CFirmwareImage::kHeaderSize;
    bool anyUnit = false;
    for (const SectionWords& s : kFileOrder) {
        std::uint64_t length = 0;
        for (const std::size_t word : s.words) {
            if (word != 0) length += image.HeaderWord(word);
        }
        if (length > 0xFFFFFFFFull) {
            check.failure = "section " + std::to_string(s.section) + " is " + std::to_string(length) +
                            " bytes, more than a unit's 32-bit length";
            return check;
        }
        if (at + length > fileLength) {
            check.failure = "section " + std::to_string(s.section) + " runs from byte " + std::to_string(at) +
                            " to byte " + std::to_string(at + length) + " but the image ends at " +
                            std::to_string(fileLength);
            return check;
        }
        anyUnit = anyUnit || length != 0;
        at += length;
    }
    if (!anyUnit) {
        check.failure = "the image holds no section to send";
        return check;
    }
    check.whole = true;
    return check;
}

}  // namespace flashwise
