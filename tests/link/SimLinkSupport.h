#pragma once
// Drives a link against the simulated boot loader unit by unit, as the download
// driver does: section header, PrepareSection, SendSection; EndTransfer at the end.

#include <gtest/gtest.h>

#include <vector>

#include "image/FirmwareImage.h"
#include "image/SectionHeaderBuilder.h"
#include "link/ConnManager.h"
#include "tests/link/LinkTestSupport.h"

namespace flashwise::test {

// An image with units 50, 51 (two parts), 53 and 54 (two parts), 52 empty; data bytes
// that differ from unit to unit and from place to place.
struct SimImage {
    ImageSizes sizes;
    std::vector<std::uint8_t> data;

    SimImage() {
        sizes.l50 = 4;
        sizes.l51a = 10000;
        sizes.l51b = 5003;
        sizes.l53 = 17;
        sizes.l54a = 20000;
        sizes.l54b = 1;
        const std::uint32_t total = 4 + 10000 + 5003 + 17 + 20000 + 1;
        for (std::uint32_t i = 0; i < total; ++i) data.push_back(static_cast<std::uint8_t>(i * 31 + (i >> 8)));
    }
    void Write(const char* name) const { WriteFile(name, ImageFile(sizes, data)); }
    // The bytes of a unit in the file.
    std::vector<std::uint8_t> Unit(int code) const {
        std::size_t at = 0, length = 0;
        switch (code) {
            case 50: at = 0; length = 4; break;
            case 51: at = 4; length = 15003; break;
            case 53: at = 15007; length = 17; break;
            case 54: at = 15024; length = 20001; break;
            default: break;
        }
        return std::vector<std::uint8_t>(data.begin() + at, data.begin() + at + length);
    }
};

// One unit: header, announce, send. Returns which step failed ("" when written).
inline std::string SendUnit(CConnManager& link, CFirmwareImage& image, std::vector<std::uint8_t>& request,
                            int code) {
    SectionHeaderBuilder builder(image);
    std::vector<std::uint8_t> header(256, 0);
    if (builder.BuildSectionHeader(header.data(), code) != SectionHeaderBuilder::kBuilt) return "header";
    if (!link.PrepareSection(&image, request.data(), header.data(), code)) return "prepare";
    if (!link.SendSection(&image, request.data(), header.data(), code)) return "send";
    return "";
}

}  // namespace flashwise::test
