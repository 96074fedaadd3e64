// The test satellite library: marked texts, the layouts, picture and icon, and the
// string source switch of the package that reads from it.

#include <gtest/gtest.h>

#include <string>

#include "package/Package.h"
#include "tests/res/ModuleUnderTest.h"
#include "tests/res/ResourceReader.h"

using namespace flashwise::test;
namespace pkg = flashwise::package;

TEST(Satellite, StringSourceSwitchesToTheSatelliteAndBack) {
    pkg::SetStringSource(g_module);
    std::wstring text;
    ASSERT_TRUE(pkg::LoadPackageString(22, text));
    EXPECT_EQ(text, L"[CHT] Flashwise for KROV_WORD_TEMPLATE");
    EXPECT_EQ(pkg::FillTemplate(text, L"Krov Q512"), L"[CHT] Flashwise for Krov Q512");
    ASSERT_TRUE(pkg::LoadPackageString(2, text));
    EXPECT_EQ(text, L"[CHT] Do you want to cancel upgrade? Click \"Yes\" to quit. Click \"No\" to return.");
    ASSERT_TRUE(pkg::LoadPackageString(102, text));
    EXPECT_EQ(text, L"[CHT] Flashwise -  Install Shield Wizard for KROV_WORD_TEMPLATE");

    // This test program has no string table of its own: back on the program file,
    // every id is missing and the destination keeps its text.
    pkg::SetStringSource(nullptr);
    EXPECT_EQ(pkg::StringSource(), GetModuleHandleW(nullptr));
    std::wstring kept = L"kept";
    EXPECT_FALSE(pkg::LoadPackageString(22, kept));
    EXPECT_EQ(kept, L"kept");
}

TEST(Satellite, CarriesTranslatedLayoutsPictureAndIconButNoPackage) {
    for (unsigned id : {102u, 129u, 130u, 135u, 136u}) {
        EXPECT_EQ(LanguagesOf(g_module, RT_DIALOG, MAKEINTRESOURCEW(id)), std::vector<WORD>{1028}) << id;
    }
    EXPECT_EQ(LanguagesOf(g_module, RT_GROUP_ICON, MAKEINTRESOURCEW(128)), std::vector<WORD>{1028});
    EXPECT_EQ(LanguagesOf(g_module, RT_BITMAP, MAKEINTRESOURCEW(133)), std::vector<WORD>{1028});
    EXPECT_TRUE(IdsOf(g_module, L"BIN").empty());
    EXPECT_TRUE(IdsOf(g_module, L"TXT").empty());
}

int main(int argc, char** argv) {
    return RunResourceTests(argc, argv, L"FlashwiseCHT.dll");
}
