#include "image/ImageCheck.h"

#include <cstring>

#include "image/FirmwareImage.h"

namespace flashwise {

namespace {

constexpr std::uint8_t kMagic[4] = {0x01, 0x13, 0x15, 0x13};
constexpr char kTag[8] = {'3', 'G', 'I', 'M', 'A', 'G', 'E', ' '};
constexpr std::size_t kTypeAt = 0x34;
// The size words in the order their sections lie in the file: 50, 51 (two parts), 52,
// 53, 54 (two parts). The sections follow the header back to back.
constexpr std::size_t kSizeWordsInFileOrder[] = {0x30, 0x14, 0x18, 0x24, 0x28, 0x1C, 0x2C};

}  // namespace

ImageFault CheckImage(const std::uint8_t* bytes, std::uint64_t length, bool needsUnit) {
    if (bytes == nullptr || length < CFirmwareImage::kHeaderSize) return ImageFault::Short;
    if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return ImageFault::Magic;
    if (std::memcmp(bytes + 4, kTag, sizeof kTag) != 0) return ImageFault::Tag;
    const std::uint32_t type = LoadLe32(bytes + kTypeAt);
    if (type == 0 || type > 0xFFFFu) return ImageFault::Type;

    std::uint64_t end = CFirmwareImage::kHeaderSize;
    bool anyUnit = false;
    for (const std::size_t at : kSizeWordsInFileOrder) {
        const std::uint32_t size = LoadLe32(bytes + at);
        anyUnit = anyUnit || size != 0;
        end += size;
        if (end > length) return ImageFault::UnitPastEnd;
    }
    if (needsUnit && !anyUnit) return ImageFault::NoUnit;
    return ImageFault::None;
}

const char* ImageFaultText(ImageFault fault) {
    switch (fault) {
        case ImageFault::None: return "";
        case ImageFault::Short: return "the image is shorter than its 256-byte header";
        case ImageFault::Magic: return "the image's magic word is not 01 13 15 13";
        case ImageFault::Tag: return "the image's tag is not \"3GIMAGE \"";
        case ImageFault::Type: return "the image's type does not fit a request block";
        case ImageFault::UnitPastEnd: return "a unit of the image runs past the end of its file";
        case ImageFault::NoUnit: return "the image has no unit to send";
    }
    return "the image is not whole";
}

}  // namespace flashwise
