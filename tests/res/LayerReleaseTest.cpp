// The layer rule and the length rules through real resource lookups, on a release
// laid out for it (tests/res/layer-release).

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "package/Package.h"
#include "tests/res/ModuleUnderTest.h"
#include "tests/res/ResourceReader.h"

using namespace flashwise::test;
namespace pkg = flashwise::package;
using R = pkg::ReleaseTextRule;

namespace {

class LayerRelease : public testing::Test {
protected:
    void SetUp() override { pkg::SetPackageModule(g_module); }
    void TearDown() override { pkg::SetPackageModule(nullptr); }
};

}  // namespace

TEST_F(LayerRelease, NeutralLanguageCodeWinsOverTheBaseLayer) {
    ASSERT_TRUE(ResourceBytes(g_module, L"TXT", MAKEINTRESOURCEW(159), 1028).has_value());
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_LANGUAGE_CODE, R::LanguageCode), L"FRA");
}

TEST_F(LayerRelease, ImageFromNeutralLayerBootLoaderImageFromBasePlaceholder) {
    pkg::Binary image;
    ASSERT_TRUE(pkg::ReadBinary(IDBIN_FIRMWARE_IMAGE, image));
    EXPECT_EQ(std::string(static_cast<const char*>(image.data), image.size), "neutral layer test image");

    ASSERT_FALSE(ResourceBytes(g_module, L"BIN", MAKEINTRESOURCEW(153), 0).has_value());
    pkg::Binary boot;
    ASSERT_TRUE(pkg::ReadBinary(IDBIN_BOOT_LOADER_IMAGE, boot));
    EXPECT_EQ(std::string(static_cast<const char*>(boot.data), boot.size), "fake");
}

TEST_F(LayerRelease, TextsWithAndWithoutTrailingZeroReadTheSame) {
    EXPECT_EQ(ResourceBytes(g_module, L"TXT", MAKEINTRESOURCEW(160), 1028)->size(), 10u);
    EXPECT_EQ(ResourceBytes(g_module, L"TXT", MAKEINTRESOURCEW(161), 1028)->size(), 9u);
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_MODEL_IDENTITY, R::ModelName), L"Krov Q512");
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_MODEL_DISPLAY_NAME, R::ModelName), L"Krov Q512");
}

TEST_F(LayerRelease, LongVersionTextIsCutToFifty) {
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_NEW_ROM_VERSION, R::NewVersion),
              L"V12.345.6789.longbuildtag_2026-11-20 with a long r");
}

TEST_F(LayerRelease, LengthRulesJudgeTheChosenLayersEntry) {
    // 158: 260 bytes neutral over 259 bytes base. The neutral entry is the one
    // judged, so the 1-to-259 and below-260 rules give empty text; the base
    // entry, which would pass, is not consulted.
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_LIBRARY_NAME, R::ModelName), L"");
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_LIBRARY_NAME, R::LanguageCode), L"");
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_LIBRARY_NAME, R::NewVersion), std::wstring(50, L'L'));
}

TEST_F(LayerRelease, TextOnlyInTheBaseLayerReadsItsPlaceholder) {
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_NEW_RADIO_VERSION, R::NewVersion), L"fake");
}

TEST_F(LayerRelease, MissingEntriesReadAsEmptyOrFail) {
    EXPECT_EQ(pkg::ReadReleaseText(162, R::NewVersion), L"");
    EXPECT_EQ(pkg::ReadReleaseText(155, R::LanguageCode), L"");
    pkg::Binary none;
    EXPECT_FALSE(pkg::ReadBinary(154, none));
    EXPECT_EQ(none.data, nullptr);
}

int main(int argc, char** argv) {
    return RunResourceTests(argc, argv, L"..\\..\\releases\\layertest\\FlashwiseResources.dll");
}
