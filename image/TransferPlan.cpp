#include "image/TransferPlan.h"

#include "image/TransferUnits.h"

namespace flashwise {

std::vector<int> TransferOrder(const CFirmwareImage& image) {
    std::vector<int> order;
    if (!image.IsOpen()) return order;
    if (image.L51a() != 0 || image.L51b() != 0) order.push_back(51);
    const std::uint32_t s54 = SectionLength(image, 54);
    if (s54 > kSplitOffset) {
        order.push_back(56);
        order.push_back(57);
    } else if (image.L54a() != 0 || image.L54b() != 0) {
        order.push_back(54);
    }
    if (image.ExtendedRomSelection() != CFirmwareImage::kNoExtendedRom) order.push_back(kExtendedRomCode);
    if (image.L52() != 0) order.push_back(52);
    if (image.L50() != 0) order.push_back(50);
    if (image.L53() != 0) order.push_back(53);
    return order;
}

}  // namespace flashwise
