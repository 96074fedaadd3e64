#pragma once
// Whether an image file is whole enough to send: its magic and tag, a type that fits
// the request blocks, at least one unit, and every section inside the file. The image
// object itself takes whatever it is given; a tool that can refuse before it touches a
// phone asks this first.

#include <cstdint>
#include <string>

#include "image/FirmwareImage.h"

namespace flashwise {

struct ImageCheck {
    bool whole = false;
    std::string failure;   // which check failed, with the numbers
};

// `image` is open; `fileLength` is its file's length.
ImageCheck CheckWholeImage(const CFirmwareImage& image, std::uint64_t fileLength);

}  // namespace flashwise
