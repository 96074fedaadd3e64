#pragma once
// Unpacks the selected extended-ROM entry (a gzip stream inside the image) into
// ExtRom.tmp, memory to memory. The gzip framing and its checks are our own; the
// DEFLATE data goes through zlib. Diagnostics go to the given streams only, never
// to the user.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iostream>

#include "image/FirmwareImage.h"

namespace flashwise {

constexpr std::size_t kUnpackCapacity = 0xA00000;  // 10,485,760 bytes of output at most
constexpr std::size_t kUnpackWindow = 0x8000;      // output leaves the window 32 KiB at a time

// Decoder result codes, as printed after "res = ".
enum GunzipResult : int {
    kInflateOk = 0,
    kInflateBadData = 1,       // bad code lengths, codes or distances
    kInflateBadBlockType = 2,
    kInflateNoMemory = 3,
    kInflateInputEnded = 4,    // the input ran out before the data or the trailer was complete
};

// Unpacks one gzip member from `input`. Output goes to `output` in window flushes; a
// flush that would pass `capacity` is dropped (and reported), which then fails the
// length check. `stored` receives the count of output bytes kept. Every text goes to
// `out`, except "out of memory", which goes to `err`.
bool GunzipBuffer(const std::uint8_t* input, std::size_t inputLength, std::uint8_t* output,
                  std::size_t capacity, std::size_t* stored, std::ostream& out = std::cout,
                  std::ostream& err = std::cerr);

// Unpacks the image's selected entry into the image's ExtRom.tmp (created or emptied). On
// a false result the file stays behind, empty, and closed; the next unpacking replaces it.
bool UnpackExtendedRom(CFirmwareImage& image, std::ostream& out = std::cout, std::ostream& err = std::cerr);

}  // namespace flashwise
