#include "image/TransferUnits.h"

namespace flashwise {

bool UnitDataRange(const CFirmwareImage& image, int code, UnitRange* range) {
    const std::uint32_t l50 = image.L50(), l51a = image.L51a(), l51b = image.L51b();
    const std::uint32_t l52 = image.L52(), l53 = image.L53(), l54a = image.L54a(), l54b = image.L54b();
    // File offsets follow the file order 50, 51, 52, 53, 54, in 32-bit arithmetic.
    const std::uint32_t at51 = 256u + l50;
    const std::uint32_t at52 = at51 + l51a + l51b;
    const std::uint32_t at53 = at52 + l52;
    const std::uint32_t at54 = at53 + l53;
    UnitRange r;
    switch (code) {
        case 50: r.offset = 256u; r.length = l50; break;
        case 51: r.offset = at51; r.length = l51a + l51b; break;
        case 52: r.offset = at52; r.length = l52; break;
        case 53: r.offset = at53; r.length = l53; break;
        case 54: r.offset = at54; r.length = l54a + l54b; break;
        case 55: r.fromExtRomFile = true; break;
        case 56: r.offset = at54; r.length = kSplitOffset; break;
        case 57:
            r.offset = static_cast<std::uint64_t>(at54) + kSplitOffset;
            r.length = l54a + l54b - kSplitOffset;
            break;
        default: return false;
    }
    *range = r;
    return true;
}

}  // namespace flashwise
