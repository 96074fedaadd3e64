#include "package/StringTable.h"

namespace flashwise::package {

namespace {

std::uint16_t Unit(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

std::optional<std::u16string> StringFromBlock(ByteView block, unsigned id) {
    if (block.data == nullptr) {
        return std::nullopt;
    }
    const unsigned index = id % kStringsPerBlock;
    std::size_t at = 0;
    for (unsigned i = 0;; ++i) {
        if (at + 2 > block.size) {
            return std::nullopt;
        }
        const std::size_t length = Unit(block.data + at);
        at += 2;
        if (i == index) {
            if (length == 0 || at + 2 * length > block.size) {
                return std::nullopt;
            }
            std::u16string text(length, u'\0');
            for (std::size_t k = 0; k < length; ++k) {
                text[k] = static_cast<char16_t>(Unit(block.data + at + 2 * k));
            }
            return text;
        }
        at += 2 * length;
    }
}

bool LoadStringInto(const StringLookup& lookup, unsigned id, std::u16string& destination) {
    auto text = lookup(id);
    if (!text) {
        return false;
    }
    destination = std::move(*text);
    return true;
}

}  // namespace flashwise::package
