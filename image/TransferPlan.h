#pragma once
// The order in which the units of an image go to the boot loader: 51, 54 (or 56 and
// 57 when section 54 is longer than the split), 55 when an extended-ROM entry is
// selected, 52, 50, 53. The order differs from the order of the sections in the file.

#include <cstdint>
#include <vector>

#include "image/FirmwareImage.h"

namespace flashwise {

// Codes to send for the open image, in send order; empty when no file is open.
std::vector<int> TransferOrder(const CFirmwareImage& image);

// What a written unit adds to the completed byte count: its length from the image
// header in 32 bits; nothing for 56, the whole of section 54 for 57. Unit 55 has no
// header word of its own and is counted by the caller from ExtRom.tmp.
std::uint32_t UnitProgressBytes(const CFirmwareImage& image, int code);

}  // namespace flashwise
