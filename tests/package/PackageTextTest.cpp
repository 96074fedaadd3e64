// The portable rules of the package: layer choice, release-text lengths per reader,
// the template token and string-table entries.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "package/LayerRule.h"
#include "package/ReleaseText.h"
#include "package/StringTable.h"
#include "package/TextTemplate.h"

using namespace flashwise::package;

namespace {

ByteView View(const std::vector<std::uint8_t>& bytes) { return {bytes.data(), bytes.size()}; }

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> Repeated(std::size_t count, char c) { return std::vector<std::uint8_t>(count, c); }

// A fake module: entries by language, and a record of the languages asked for.
struct FakeLanguages {
    std::map<std::uint16_t, std::vector<std::uint8_t>> entries;
    std::vector<std::uint16_t> asked;

    LayeredEntry Lookup() {
        return LookupByLayer([this](std::uint16_t language) -> std::optional<ByteView> {
            asked.push_back(language);
            auto it = entries.find(language);
            if (it == entries.end()) {
                return std::nullopt;
            }
            return View(it->second);
        });
    }
};

}  // namespace

TEST(LayerRule, NeutralEntryWinsAndBaseIsNotAsked) {
    FakeLanguages module;
    module.entries[0] = Bytes("FRA");
    module.entries[1028] = Bytes("CHT");
    module.entries[1033] = Bytes("ENU");
    const LayeredEntry entry = module.Lookup();
    EXPECT_EQ(entry.layer, Layer::Neutral);
    EXPECT_EQ(WidenReleaseText(entry.bytes), u"FRA");
    EXPECT_EQ(module.asked, (std::vector<std::uint16_t>{0}));
}

TEST(LayerRule, BaseEntryWhenNoNeutralAndOtherLanguagesIgnored) {
    FakeLanguages module;
    module.entries[1028] = Bytes("fake");
    module.entries[1033] = Bytes("english");
    const LayeredEntry entry = module.Lookup();
    EXPECT_EQ(entry.layer, Layer::Base);
    EXPECT_EQ(entry.bytes.size, 4u);
    EXPECT_EQ(module.asked, (std::vector<std::uint16_t>{0, 1028}));

    FakeLanguages onlyEnglish;
    onlyEnglish.entries[1033] = Bytes("english");
    EXPECT_EQ(onlyEnglish.Lookup().layer, Layer::Missing);
}

TEST(LayerRule, EmptyNeutralEntryStillWins) {
    FakeLanguages module;
    module.entries[0] = {};
    module.entries[1028] = Bytes("CHT");
    const LayeredEntry entry = module.Lookup();
    EXPECT_EQ(entry.layer, Layer::Neutral);
    EXPECT_EQ(entry.bytes.size, 0u);
}

TEST(ReleaseText, WidensByteByByteAndStopsAtFirstZero) {
    const std::vector<std::uint8_t> withZero = {'K', 'r', 'o', 'v', 0, 'X'};
    EXPECT_EQ(WidenReleaseText(View(withZero)), u"Krov");
    const std::vector<std::uint8_t> high = {'A', 0xE9, 0xFF};
    EXPECT_EQ(WidenReleaseText(View(high)), (std::u16string{u'A', char16_t(0xE9), char16_t(0xFF)}));
    EXPECT_EQ(WidenReleaseText({}), u"");
}

TEST(ReleaseText, TrailingZeroOrNotGivesTheSameTextUnderEveryRule) {
    const auto bare = Bytes("Krov Q512");
    auto zeroed = bare;
    zeroed.push_back(0);
    for (auto rule : {ReleaseTextRule::ModelName, ReleaseTextRule::LanguageCode, ReleaseTextRule::NewVersion}) {
        EXPECT_EQ(ApplyReleaseTextRule(View(bare), rule), u"Krov Q512");
        EXPECT_EQ(ApplyReleaseTextRule(View(zeroed), rule), u"Krov Q512");
    }
}

TEST(ReleaseText, ModelNameTakenOnlyFromOneTo259Bytes) {
    const auto rule = ReleaseTextRule::ModelName;
    EXPECT_EQ(ApplyReleaseTextRule(std::nullopt, rule), u"");
    EXPECT_EQ(ApplyReleaseTextRule(ByteView{nullptr, 0}, rule), u"");
    EXPECT_EQ(ApplyReleaseTextRule(View(Bytes("K")), rule), u"K");
    const auto at259 = Repeated(259, 'm');
    EXPECT_EQ(ApplyReleaseTextRule(View(at259), rule).size(), 259u);
    const auto at260 = Repeated(260, 'm');
    EXPECT_EQ(ApplyReleaseTextRule(View(at260), rule), u"");
    // The byte count of the entry decides, not the length of the text in it.
    auto shortTextLongEntry = Bytes("Krov");
    shortTextLongEntry.resize(260, 0);
    EXPECT_EQ(ApplyReleaseTextRule(View(shortTextLongEntry), rule), u"");
}

TEST(ReleaseText, LanguageCodeTakenBelow260BytesAndEmptyEntryIsEmpty) {
    const auto rule = ReleaseTextRule::LanguageCode;
    EXPECT_EQ(ApplyReleaseTextRule(ByteView{nullptr, 0}, rule), u"");
    const std::vector<std::uint8_t> empty;
    EXPECT_EQ(ApplyReleaseTextRule(View(empty), rule), u"");
    EXPECT_EQ(ApplyReleaseTextRule(View(Bytes("FRA")), rule), u"FRA");
    EXPECT_EQ(ApplyReleaseTextRule(View(Repeated(259, 'x')), rule).size(), 259u);
    EXPECT_EQ(ApplyReleaseTextRule(View(Repeated(260, 'x')), rule), u"");
    EXPECT_EQ(ApplyReleaseTextRule(std::nullopt, rule), u"");
}

TEST(ReleaseText, NewVersionCutToFiftyCharacters) {
    const auto rule = ReleaseTextRule::NewVersion;
    const std::string sixty = "V1.23.456.7890_2026-01-02-" + std::string(34, 'r');
    ASSERT_EQ(sixty.size(), 60u);
    const std::u16string shown = ApplyReleaseTextRule(View(Bytes(sixty)), rule);
    EXPECT_EQ(shown, std::u16string(sixty.begin(), sixty.begin() + 50));
    EXPECT_EQ(ApplyReleaseTextRule(View(Repeated(50, 'v')), rule).size(), 50u);
    EXPECT_EQ(ApplyReleaseTextRule(View(Bytes("V1.23.456 FRA")), rule), u"V1.23.456 FRA");
    // Long entries are still read: the cut applies to the text, not the entry.
    EXPECT_EQ(ApplyReleaseTextRule(View(Repeated(4000, 'z')), rule).size(), 50u);
    EXPECT_EQ(ApplyReleaseTextRule(std::nullopt, rule), u"");
}

TEST(TextTemplate, FillsEveryOccurrenceExactly) {
    EXPECT_EQ(FillTemplate(u"Flashwise for KROV_WORD_TEMPLATE", u"Krov Q512"), u"Flashwise for Krov Q512");
    EXPECT_EQ(FillTemplate(u"KROV_WORD_TEMPLATE and KROV_WORD_TEMPLATE", u"Q"), u"Q and Q");
    EXPECT_EQ(FillTemplate(u"KROV_WORD_TEMPLATEKROV_WORD_TEMPLATE", u"ab"), u"abab");
    EXPECT_EQ(FillTemplate(u"krov_word_template Krov_Word_Template", u"X"), u"krov_word_template Krov_Word_Template");
    EXPECT_EQ(FillTemplate(u"KROV_WORD_TEMPLAT", u"X"), u"KROV_WORD_TEMPLAT");
    EXPECT_EQ(FillTemplate(u"", u"X"), u"");
}

TEST(TextTemplate, NameHoldingTheTokenIsNotFilledAgain) {
    EXPECT_EQ(FillTemplate(u"[KROV_WORD_TEMPLATE]", u"KROV_WORD_TEMPLATE!"), u"[KROV_WORD_TEMPLATE!]");
}

TEST(TextTemplate, EmptyNameRemovesTheToken) {
    EXPECT_EQ(FillTemplate(u"Warning.\n This is not a \"KROV_WORD_TEMPLATE\" Device.", u""),
              u"Warning.\n This is not a \"\" Device.");
    EXPECT_EQ(FillTemplate(u"Flashwise -  Install Shield Wizard for KROV_WORD_TEMPLATE", u""),
              u"Flashwise -  Install Shield Wizard for ");
}

namespace {

// A string block as the resource compiler writes it.
std::vector<std::uint8_t> Block(const std::map<unsigned, std::u16string>& strings) {
    std::vector<std::uint8_t> block;
    for (unsigned i = 0; i < kStringsPerBlock; ++i) {
        auto it = strings.find(i);
        const std::u16string text = it == strings.end() ? u"" : it->second;
        block.push_back(static_cast<std::uint8_t>(text.size()));
        block.push_back(static_cast<std::uint8_t>(text.size() >> 8));
        for (char16_t c : text) {
            block.push_back(static_cast<std::uint8_t>(c));
            block.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    }
    return block;
}

}  // namespace

TEST(StringTable, BlockIdsAndEntries) {
    EXPECT_EQ(StringBlockId(2), 1u);
    EXPECT_EQ(StringBlockId(15), 1u);
    EXPECT_EQ(StringBlockId(16), 2u);
    EXPECT_EQ(StringBlockId(1004), 63u);

    // Block 3 holds ids 32..47: 33 and 37 present, 36 absent.
    const auto block = Block({{1, u"Tarn_G4.abi"}, {5, u"Tarn_G4_SPBL.abi"}, {15, u" "}});
    EXPECT_EQ(StringFromBlock(View(block), 33), u"Tarn_G4.abi");
    EXPECT_EQ(StringFromBlock(View(block), 37), u"Tarn_G4_SPBL.abi");
    EXPECT_EQ(StringFromBlock(View(block), 47), u" ");
    EXPECT_FALSE(StringFromBlock(View(block), 36).has_value());
    EXPECT_FALSE(StringFromBlock(View(block), 32).has_value());
}

TEST(StringTable, TruncatedBlockIsNotReadPastItsEnd) {
    const auto block = Block({{3, u"abcdef"}});
    // Three empty lengths, entry 3's length and only two of its six characters.
    const std::vector<std::uint8_t> cut(block.begin(), block.begin() + 3 * 2 + 2 + 4);
    EXPECT_FALSE(StringFromBlock(View(cut), 3).has_value());
    EXPECT_FALSE(StringFromBlock(View(cut), 9).has_value());
    EXPECT_FALSE(StringFromBlock({}, 3).has_value());
}

TEST(StringTable, MissingIdLeavesTheDestinationUnchanged) {
    const std::map<unsigned, std::u16string> table = {{12, u"Device Detected ..."}};
    StringLookup lookup = [&](unsigned id) -> std::optional<std::u16string> {
        auto it = table.find(id);
        if (it == table.end()) {
            return std::nullopt;
        }
        return it->second;
    };
    std::u16string label = u"previous label";
    EXPECT_FALSE(LoadStringInto(lookup, 99, label));
    EXPECT_EQ(label, u"previous label");
    EXPECT_TRUE(LoadStringInto(lookup, 12, label));
    EXPECT_EQ(label, u"Device Detected ...");
    std::u16string fresh;
    EXPECT_FALSE(LoadStringInto(lookup, 100, fresh));
    EXPECT_EQ(fresh, u"");
}
