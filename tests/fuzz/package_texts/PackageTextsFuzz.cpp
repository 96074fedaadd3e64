// The package's texts as a release brings them: a "TXT" entry in either layer chosen
// by the layer rule, read under each caller's length rule, a string-table block cut
// into its strings, and every string filled with a display name.
//
// Input: one byte of choices (bit 0: a language-neutral entry, bit 1: a base entry),
// one byte that splits the rest between the two entries, then the bytes.

#include <algorithm>
#include <optional>
#include <string>

#include "package/LayerRule.h"
#include "package/ReleaseText.h"
#include "package/StringTable.h"
#include "package/TextTemplate.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using namespace flashwise::package;

bool NoZeroAndNarrow(const std::u16string& text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c != 0 && c < 0x100; });
}

std::size_t CountTokens(std::u16string_view text) {
    std::size_t n = 0;
    for (std::size_t at = text.find(kTemplateToken); at != std::u16string_view::npos;
         at = text.find(kTemplateToken, at + kTemplateToken.size())) {
        ++n;
    }
    return n;
}

void CheckFill(const std::u16string& text, const std::u16string& name) {
    const std::u16string filled = FillTemplate(text, name);
    const std::size_t tokens = CountTokens(text);
    FUZZ_CHECK(filled.size() == text.size() - tokens * kTemplateToken.size() + tokens * name.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    flashwise::fuzz::InputReader in(data, size);
    const std::uint8_t choices = in.Byte();
    const std::size_t share = in.Byte();
    const std::size_t split = in.Left() * share / 256;
    const ByteView neutral{in.Rest(), split};
    const ByteView base{in.Rest() + split, in.Left() - split};

    const LayeredEntry entry = LookupByLayer([&](std::uint16_t language) -> std::optional<ByteView> {
        if (language == kNeutralLanguage && (choices & 1)) return neutral;
        if (language == kBaseLanguage && (choices & 2)) return base;
        return std::nullopt;
    });
    std::optional<ByteView> found;
    if (entry.layer != Layer::Missing) found = entry.bytes;
    FUZZ_CHECK(entry.layer != Layer::Neutral || (choices & 1));
    FUZZ_CHECK(entry.layer != Layer::Base || (!(choices & 1) && (choices & 2)));

    const std::u16string name = ApplyReleaseTextRule(found, ReleaseTextRule::ModelName);
    const std::u16string language = ApplyReleaseTextRule(found, ReleaseTextRule::LanguageCode);
    const std::u16string version = ApplyReleaseTextRule(found, ReleaseTextRule::NewVersion);
    const std::size_t bytes = found ? found->size : 0;
    FUZZ_CHECK(NoZeroAndNarrow(name) && NoZeroAndNarrow(language) && NoZeroAndNarrow(version));
    FUZZ_CHECK(name.size() <= std::min<std::size_t>(bytes, kModelNameMaxBytes));
    FUZZ_CHECK(language.size() <= std::min<std::size_t>(bytes, kLanguageCodeMaxBytes));
    FUZZ_CHECK(version.size() <= std::min<std::size_t>(bytes, kNewVersionMaxChars));

    // The other layer's bytes as a string-table block; each string filled with the name.
    const ByteView block = (choices & 1) ? base : neutral;
    for (unsigned id = 0; id < kStringsPerBlock; ++id) {
        const std::optional<std::u16string> text = StringFromBlock(block, id);
        if (!text) continue;
        FUZZ_CHECK(!text->empty() && 2 + 2 * text->size() <= block.size);
        CheckFill(*text, name);
        std::u16string destination = u"before";
        FUZZ_CHECK(LoadStringInto([&](unsigned) { return text; }, id, destination) && destination == *text);
    }
    CheckFill(version, name);
    return 0;
}
