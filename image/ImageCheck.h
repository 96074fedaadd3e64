#pragma once
// Whether an image file is whole and fit to be sent, judged before the phone is touched:
// the header's magic, tag and type, and every unit's data inside the file. Sizes are
// summed in 64 bits, so header words that wrap a 32-bit sum cannot pass for a short image.

#include <cstddef>
#include <cstdint>

namespace flashwise {

enum class ImageFault {
    None,
    Short,        // fewer bytes than the 256-byte header
    Magic,        // not 01 13 15 13
    Tag,          // not "3GIMAGE "
    Type,         // 0, or wider than the 16 bits the request block carries
    UnitPastEnd,  // a unit's data runs past the end of the file
    NoUnit,       // every section is empty, and a unit was required
};

// `bytes` holds the whole file, `length` bytes. With `needsUnit`, an image without a
// single unit to send is refused.
ImageFault CheckImage(const std::uint8_t* bytes, std::uint64_t length, bool needsUnit);

// What failed, said for a person ("" for None).
const char* ImageFaultText(ImageFault fault);

}  // namespace flashwise
