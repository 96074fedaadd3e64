#include "package/ReleaseText.h"

namespace flashwise::package {

std::u16string WidenReleaseText(ByteView bytes) {
    std::u16string text;
    if (bytes.data == nullptr) {
        return text;
    }
    text.reserve(bytes.size);
    for (std::size_t i = 0; i < bytes.size && bytes.data[i] != 0; ++i) {
        text.push_back(static_cast<char16_t>(bytes.data[i]));
    }
    return text;
}

std::u16string ApplyReleaseTextRule(const std::optional<ByteView>& entry, ReleaseTextRule rule) {
    if (!entry) {
        return {};
    }
    const std::size_t size = entry->size;
    switch (rule) {
    case ReleaseTextRule::ModelName:
        if (size < 1 || size > kModelNameMaxBytes) {
            return {};
        }
        return WidenReleaseText(*entry);
    case ReleaseTextRule::LanguageCode:
        if (size > kLanguageCodeMaxBytes) {
            return {};
        }
        return WidenReleaseText(*entry);
    case ReleaseTextRule::NewVersion: {
        std::u16string text = WidenReleaseText(*entry);
        if (text.size() > kNewVersionMaxChars) {
            text.resize(kNewVersionMaxChars);
        }
        return text;
    }
    }
    return {};
}

}  // namespace flashwise::package
