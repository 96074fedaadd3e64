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

}  // namespace flashwise
