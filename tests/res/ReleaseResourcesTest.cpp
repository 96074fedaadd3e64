// Every resource of the demo release, read back out of the built file.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "package/Package.h"
#include "res/ResourceIds.h"
#include "tests/res/ModuleUnderTest.h"
#include "tests/res/ResourceReader.h"

using namespace flashwise::test;
namespace pkg = flashwise::package;

namespace {

constexpr WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
constexpr WORD kBase = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
static_assert(kBase == 1028 && kEnglishUs == 1033, "layer languages");

const std::wstring kTitle = L"Flashwise -  Install Shield Wizard for KROV_WORD_TEMPLATE";

const std::map<unsigned, std::wstring> kStrings = {
    {2, L"Do you want to cancel upgrade? Click \"Yes\" to quit. Click \"No\" to return."},
    {3, L"Welcome To Flashwise\n(For KROV_WORD_TEMPLATE Only)"},
    {5, L"Checking Required Components and more ..."},
    {8, L"Finish"},
    {11, L"Please make sure the device is connected! Continue now? \n(Please also wait for ActiveSync or WMDC "
         L"synchronization to complete.)"},
    {12, L"Device Detected ..."},
    {13, L"Your device software is about to be updated from"},
    {14, L"Please click update to continue ..."},
    {15, L"ROM version:"},
    {16, L"Radio version:"},
    {17, L"Fail to get version."},
    {18, L"Fail to update. This program will close automatically."},
    {19, L"Congratulations! Your device has been successfully updated."},
    {20, L"Please do not remove USB cable from device whilst update is in progress."},
    {21, L"Checking connected device. Please wait..."},
    {22, L"Flashwise for KROV_WORD_TEMPLATE"},
    {23, L"to"},
    {24, L"Failed to load rapi.dll.\nPlease make sure your PC is installed with Microsoft ActiveSync."},
    {26, L"This program will walk you through the updating process."},
    {27, L"1. Please make sure your PC is installed with Microsoft ActiveSync 4.5+ (Windows XP) or WMDC 6.1+ "
         L"(Windows Vista). \n2. Please make sure the device has been connected to the USB cable. \n3. Please make "
         L"sure ActiveSync or WMDC connection is established with the device. \n4. Please back up your device before "
         L"continuing. \n5. Please close all other applications before proceeding."},
    {28, L" "},
    {29, L"Please click Next to continue or Cancel to exit."},
    {30, L" "},
    {31, L"Warning.\n This is not a \"KROV_WORD_TEMPLATE\" Device.\n Please double check and try again."},
    {32, L"Important Note: Follow the on-screen instructions to set up your device before you use it for the first "
         L"time."},
    {33, L"Tarn_G4.abi"},
    {34, L"Warning!\nCross-language upgrade is not allowed. Please ensure the upgrade tool language is same as the "
         L"default language of your device."},
    {35, L"Not Enough Memory. Please close other applications and then try again."},
    {36, L"Memory error. This program will terminate automatically."},
    {37, L"Tarn_G4_SPBL.abi"},
    {38, L"The battery is too low. Please charge the battery up to 60% and try again."},
    {39, L"Failed to load winusb.dll.\nPlease make sure your PC is installed with Microsoft Windows Mobile Device "
         L"Center."},
    {40, L"1. ActiveSync 4.5(Windows XP) or WMDC 6.1+ (Windows Vista) is required to run this upgrade tool.\n2. "
         L"Please do not run this upgrade tool via a USB HUB."},
    {41, L"Failed to stop WcesComm service."},
    {42, L"Failed to stop RapiMgr service."},
    {43, L"Setup connection, please wait ..."},
    {50, L"Your KROV_WORD_TEMPLATE is waiting in update mode and will not start until the update is finished. Keep "
         L"it connected to the USB cable and start this program again to finish the update."},
    {51, L"The last update of your device did not finish. Keep it connected and click Next to finish the update."},
    {52, L"The last update of your device was made with another release of this program and did not finish. Click "
         L"\"Yes\" to finish it with this release. Click \"No\" to return."},
    {102, kTitle},
    {129, kTitle},
    {130, kTitle},
    {137, L"Cancel"},
    {138, L"Update"},
    {1004, L"Next"},
};

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

class DemoRelease : public testing::Test {
protected:
    void SetUp() override {
        pkg::SetPackageModule(g_module);
        pkg::SetStringSource(g_module);
    }
    void TearDown() override {
        pkg::SetPackageModule(nullptr);
        pkg::SetStringSource(nullptr);
    }
};

}  // namespace

TEST_F(DemoRelease, StringTableHoldsEveryTextExactlyAndNothingElse) {
    for (const auto& [id, text] : kStrings) {
        std::wstring loaded = L"<untouched>";
        EXPECT_TRUE(pkg::LoadPackageString(id, loaded)) << "string " << id;
        EXPECT_EQ(loaded, text) << "string " << id;
    }
    for (unsigned id = 0; id < 2048; ++id) {
        if (kStrings.count(id) == 0) {
            std::wstring untouched = L"previous";
            EXPECT_FALSE(pkg::LoadPackageString(id, untouched)) << "unexpected string " << id;
            EXPECT_EQ(untouched, L"previous");
        }
    }
    for (unsigned block : IdsOf(g_module, RT_STRING)) {
        EXPECT_EQ(LanguagesOf(g_module, RT_STRING, MAKEINTRESOURCEW(block)), std::vector<WORD>{kEnglishUs})
            << "string block " << block;
    }
}

TEST_F(DemoRelease, CustomEntriesSitInTheirLayers) {
    const std::set<unsigned> binIds = {103, 146, 149, 150, 152, 153};
    const std::set<unsigned> txtIds = {156, 157, 158, 159, 160, 161};
    const auto bins = IdsOf(g_module, L"BIN");
    const auto txts = IdsOf(g_module, L"TXT");
    EXPECT_EQ(std::set<unsigned>(bins.begin(), bins.end()), binIds);
    EXPECT_EQ(std::set<unsigned>(txts.begin(), txts.end()), txtIds);

    auto layers = [](LPCWSTR type, unsigned id) {
        auto l = LanguagesOf(g_module, type, MAKEINTRESOURCEW(id));
        std::sort(l.begin(), l.end());
        return l;
    };
    const std::vector<WORD> baseOnly = {kBase};
    const std::vector<WORD> both = {kNeutral, kBase};
    for (unsigned id : {103u, 146u, 149u, 150u}) {
        EXPECT_EQ(layers(L"BIN", id), baseOnly) << "BIN " << id;
    }
    EXPECT_EQ(layers(L"BIN", 152), both);
    EXPECT_EQ(layers(L"BIN", 153), both);
    for (unsigned id : {156u, 157u, 159u}) {
        EXPECT_EQ(layers(L"TXT", id), both) << "TXT " << id;
    }
    for (unsigned id : {158u, 160u, 161u}) {
        EXPECT_EQ(layers(L"TXT", id), baseOnly) << "TXT " << id;
    }
}

TEST_F(DemoRelease, BasePlaceholdersAndNeutralImages) {
    const auto fake = Bytes("fake");
    EXPECT_EQ(ResourceBytes(g_module, L"BIN", MAKEINTRESOURCEW(152), kBase), fake);
    EXPECT_EQ(ResourceBytes(g_module, L"BIN", MAKEINTRESOURCEW(153), kBase), fake);

    pkg::Binary image;
    ASSERT_TRUE(pkg::ReadBinary(IDBIN_FIRMWARE_IMAGE, image));
    ASSERT_EQ(image.size, 5042300u);
    const auto* bytes = static_cast<const std::uint8_t*>(image.data);
    EXPECT_EQ(std::memcmp(bytes, "\x01\x13\x15\x13" "3GIMAGE ", 12), 0);

    // The generated boot-loader image: the same header, section 50 only.
    pkg::Binary boot;
    ASSERT_TRUE(pkg::ReadBinary(IDBIN_BOOT_LOADER_IMAGE, boot));
    ASSERT_EQ(boot.size, 196864u);
    EXPECT_EQ(std::memcmp(boot.data, "\x01\x13\x15\x13" "3GIMAGE ", 12), 0);

    pkg::Binary missing{reinterpret_cast<const void*>(1), 7};
    EXPECT_FALSE(pkg::ReadBinary(151, missing));
}

TEST_F(DemoRelease, HelperEntriesAreTheBuiltHelperPrograms) {
    // The demo packs this tree's own helper programs (the phone-side ones built for
    // the simulated phone): each entry is the built program, byte for byte.
    const std::map<unsigned, std::string> helpers = {{IDBIN_SYSREBOOT, "SysReboot.exe"},
                                                     {IDBIN_DEVICEMODE, "DeviceMode.exe"},
                                                     {IDBIN_DEVICESPY, "DeviceSpy.exe"},
                                                     {IDBIN_WCESTEST, "wcestest.exe"}};
    for (const auto& [id, name] : helpers) {
        pkg::Binary helper;
        ASSERT_TRUE(pkg::ReadBinary(id, helper)) << id;
        ASSERT_GT(helper.size, 64u) << name;
        EXPECT_EQ(std::memcmp(helper.data, "MZ", 2), 0) << name << " is a Windows program";
        std::ifstream built(std::string(FLASHWISE_HELPERS_DIR) + "/" + name, std::ios::binary);
        ASSERT_TRUE(built) << name;
        const std::string onDisk((std::istreambuf_iterator<char>(built)), std::istreambuf_iterator<char>());
        EXPECT_EQ(onDisk, std::string(static_cast<const char*>(helper.data), helper.size)) << name;
    }
}

TEST_F(DemoRelease, ReleaseTextsByTheLayerRule) {
    using R = pkg::ReleaseTextRule;
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_NEW_ROM_VERSION, R::NewVersion), L"V2.10.5 FRA");
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_NEW_RADIO_VERSION, R::NewVersion), L"V1.47.25.11_2026-11-20");
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_LIBRARY_NAME, R::ModelName), L"Flashwise.dll");
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_LANGUAGE_CODE, R::LanguageCode), L"FRA");
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_MODEL_IDENTITY, R::ModelName), L"Krov Q512");
    EXPECT_EQ(pkg::ReadReleaseText(IDTXT_MODEL_DISPLAY_NAME, R::ModelName), L"Krov Q512");
    EXPECT_EQ(ResourceBytes(g_module, L"TXT", MAKEINTRESOURCEW(159), kBase), Bytes("CHT"));

    const auto rom = ResourceBytes(g_module, L"TXT", MAKEINTRESOURCEW(156), kNeutral);
    ASSERT_TRUE(rom.has_value());
    EXPECT_TRUE(rom->size() == 10 || rom->size() == 11) << rom->size();
}

namespace {

struct ExpectedItem {
    DWORD id;
    enum Kind { DefaultButton, Button, CentredLabel, Label, Picture, Progress } kind;
    short x, y, cx, cy;
};

bool ClassIs(const NameOrOrdinal& c, WORD ordinal, const wchar_t* name) {
    if (c.isOrdinal) {
        return c.ordinal == ordinal;
    }
    return _wcsicmp(c.name.c_str(), name) == 0;
}

void ExpectItem(const DialogItem& item, const ExpectedItem& want) {
    SCOPED_TRACE("control " + std::to_string(want.id));
    EXPECT_EQ(item.id, want.id);
    EXPECT_EQ(item.x, want.x);
    EXPECT_EQ(item.y, want.y);
    EXPECT_EQ(item.cx, want.cx);
    EXPECT_EQ(item.cy, want.cy);
    EXPECT_TRUE(item.style & WS_CHILD);
    EXPECT_TRUE(item.style & WS_VISIBLE);
    const bool isButton = ClassIs(item.windowClass, 0x80, L"Button");
    const bool isStatic = ClassIs(item.windowClass, 0x82, L"Static");
    switch (want.kind) {
    case ExpectedItem::DefaultButton:
        EXPECT_TRUE(isButton);
        EXPECT_EQ(item.style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
        break;
    case ExpectedItem::Button:
        EXPECT_TRUE(isButton);
        EXPECT_EQ(item.style & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));
        break;
    case ExpectedItem::CentredLabel:
        EXPECT_TRUE(isStatic);
        EXPECT_EQ(item.style & SS_TYPEMASK, static_cast<DWORD>(SS_CENTER));
        break;
    case ExpectedItem::Label:
        EXPECT_TRUE(isStatic);
        EXPECT_EQ(item.style & SS_TYPEMASK, static_cast<DWORD>(SS_LEFT));
        break;
    case ExpectedItem::Picture:
        EXPECT_TRUE(isStatic);
        EXPECT_EQ(item.style & SS_TYPEMASK, static_cast<DWORD>(SS_BITMAP));
        EXPECT_TRUE(item.title.isOrdinal);
        EXPECT_EQ(item.title.ordinal, IDB_SIDE_PICTURE);
        break;
    case ExpectedItem::Progress:
        EXPECT_FALSE(item.windowClass.isOrdinal);
        EXPECT_EQ(_wcsicmp(item.windowClass.name.c_str(), L"msctls_progress32"), 0) << item.windowClass.name;
        EXPECT_TRUE(item.style & WS_BORDER);
        break;
    }
    if (want.kind != ExpectedItem::Picture) {
        EXPECT_TRUE(!item.title.isOrdinal && item.title.name.empty()) << "layout controls carry no text";
    }
}

DialogTemplate LoadDialog(unsigned id) {
    EXPECT_EQ(LanguagesOf(g_module, RT_DIALOG, MAKEINTRESOURCEW(id)), std::vector<WORD>{kEnglishUs});
    auto bytes = ResourceBytes(g_module, RT_DIALOG, MAKEINTRESOURCEW(id), kEnglishUs);
    if (!bytes) {
        ADD_FAILURE() << "dialog " << id << " missing";
        return {};
    }
    auto parsed = ParseDialog(*bytes);
    if (!parsed) {
        ADD_FAILURE() << "dialog " << id << " is not an extended template";
        return {};
    }
    return *parsed;
}

void ExpectFont(const DialogTemplate& d) {
    EXPECT_TRUE(d.style & DS_SETFONT);
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(d.typeface, L"MS Shell Dlg");
}

void ExpectWizardPage(unsigned id, const std::vector<ExpectedItem>& items) {
    SCOPED_TRACE("dialog " + std::to_string(id));
    const DialogTemplate d = LoadDialog(id);
    EXPECT_EQ(d.cx, 442);
    EXPECT_EQ(d.cy, 252);
    const DWORD required = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;
    EXPECT_EQ(d.style & required, required);
    EXPECT_FALSE(d.style & WS_CHILD);
    EXPECT_TRUE(d.exStyle & WS_EX_APPWINDOW);
    ExpectFont(d);
    ASSERT_EQ(d.items.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        ExpectItem(d.items[i], items[i]);
    }
}

void ExpectWaitWindow(unsigned id, const wchar_t* text) {
    SCOPED_TRACE("dialog " + std::to_string(id));
    const DialogTemplate d = LoadDialog(id);
    EXPECT_EQ(d.cx, 340);
    EXPECT_EQ(d.cy, 49);
    EXPECT_EQ(d.style & (WS_POPUP | DS_MODALFRAME), static_cast<DWORD>(WS_POPUP | DS_MODALFRAME));
    EXPECT_EQ(d.style & WS_CAPTION, 0u) << "no caption, no border line for one";
    EXPECT_EQ(d.style & WS_VISIBLE, 0u) << "initially hidden";
    ExpectFont(d);
    ASSERT_EQ(d.items.size(), 1u);
    const DialogItem& label = d.items[0];
    EXPECT_EQ(label.id, 1012u);
    EXPECT_TRUE(ClassIs(label.windowClass, 0x82, L"Static"));
    EXPECT_EQ(label.style & SS_TYPEMASK, static_cast<DWORD>(SS_CENTER));
    EXPECT_EQ(label.x, 30);
    EXPECT_EQ(label.y, 18);
    EXPECT_EQ(label.cx, 270);
    EXPECT_EQ(label.cy, 8);
    EXPECT_EQ(label.title.name, text);
}

}  // namespace

TEST_F(DemoRelease, WelcomePageLayout) {
    using K = ExpectedItem;
    ExpectWizardPage(102, {
        {1004, K::DefaultButton, 330, 234, 50, 13},
        {2, K::Button, 384, 234, 50, 13},
        {1002, K::CentredLabel, 168, 6, 270, 18},
        {133, K::Picture, 6, 6, 160, 197},
        {1018, K::Label, 168, 30, 270, 24},
        {1019, K::Label, 168, 66, 270, 72},
        {1020, K::Label, 168, 144, 270, 8},
        {1021, K::Label, 168, 156, 270, 24},
        {1022, K::Label, 168, 186, 270, 18},
        {1023, K::Label, 168, 150, 270, 8},
    });
}

TEST_F(DemoRelease, UpdatePageLayout) {
    using K = ExpectedItem;
    ExpectWizardPage(129, {
        {1001, K::DefaultButton, 330, 234, 50, 12},
        {2, K::Button, 384, 234, 50, 12},
        {1025, K::Picture, 6, 6, 160, 197},
        {1005, K::Label, 168, 6, 264, 12},
        {1006, K::Label, 168, 30, 108, 12},
        {1007, K::Label, 276, 30, 162, 12},
        {1008, K::Label, 168, 48, 108, 12},
        {1009, K::Label, 276, 48, 162, 12},
        {1013, K::Label, 168, 72, 42, 12},
        {1014, K::Label, 168, 96, 108, 12},
        {1016, K::Label, 276, 96, 162, 12},
        {1015, K::Label, 168, 114, 108, 18},
        {1017, K::Label, 276, 114, 162, 12},
        {1010, K::Label, 168, 156, 270, 18},
        {1000, K::Progress, 168, 192, 264, 12},
    });
}

TEST_F(DemoRelease, FinishPageLayout) {
    using K = ExpectedItem;
    ExpectWizardPage(130, {
        {8, K::Button, 384, 234, 50, 12},
        {1025, K::Picture, 6, 6, 160, 197},
        {1011, K::CentredLabel, 174, 18, 258, 18},
        {1024, K::Label, 168, 54, 270, 108},
    });
}

TEST_F(DemoRelease, WaitWindowLayouts) {
    ExpectWaitWindow(135, L"Fetching Device Information");
    ExpectWaitWindow(136, L"Setup connection, please wait?");
    const auto dialogs = IdsOf(g_module, RT_DIALOG);
    EXPECT_EQ(std::set<unsigned>(dialogs.begin(), dialogs.end()), (std::set<unsigned>{102, 129, 130, 135, 136}));
}

TEST_F(DemoRelease, SidePictureAndItsCopy) {
    const auto picture = ResourceBytes(g_module, RT_BITMAP, MAKEINTRESOURCEW(133), kEnglishUs);
    const auto copy = ResourceBytes(g_module, RT_BITMAP, MAKEINTRESOURCEW(162), kEnglishUs);
    ASSERT_TRUE(picture.has_value());
    ASSERT_TRUE(copy.has_value());
    ASSERT_GE(picture->size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER info;
    std::memcpy(&info, picture->data(), sizeof info);
    EXPECT_EQ(info.biWidth, 240);
    EXPECT_EQ(std::abs(info.biHeight), 320);
    EXPECT_EQ(info.biBitCount, 24);
    EXPECT_EQ(info.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(picture->size(), sizeof info + 240u * 3 * 320);
    EXPECT_EQ(*copy, *picture);

    HBITMAP loaded = static_cast<HBITMAP>(LoadImageW(g_module, MAKEINTRESOURCEW(133), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(loaded, nullptr);
    BITMAP bm;
    ASSERT_NE(GetObjectW(loaded, sizeof bm, &bm), 0);
    EXPECT_EQ(bm.bmWidth, 240);
    EXPECT_EQ(bm.bmHeight, 320);
    EXPECT_EQ(bm.bmBitsPixel, 24);
    DeleteObject(loaded);
}

TEST_F(DemoRelease, IconGroupHoldsTwoSizesOf256Colours) {
    const auto group = ResourceBytes(g_module, RT_GROUP_ICON, MAKEINTRESOURCEW(128), kEnglishUs);
    ASSERT_TRUE(group.has_value());
    ASSERT_GE(group->size(), 6u);
    const auto word = [&](std::size_t at) { return static_cast<WORD>((*group)[at] | (*group)[at + 1] << 8); };
    EXPECT_EQ(word(2), 1);  // icons, not cursors
    ASSERT_EQ(word(4), 2);
    ASSERT_EQ(group->size(), 6u + 2 * 14);
    std::set<int> sizes;
    for (int i = 0; i < 2; ++i) {
        const std::size_t at = 6 + 14 * i;
        const int width = (*group)[at];
        const int height = (*group)[at + 1];
        EXPECT_EQ(width, height);
        EXPECT_EQ((*group)[at + 2], 0) << "0 colours in the directory means 256";
        EXPECT_EQ(word(at + 6), 8) << "bits per pixel";
        sizes.insert(width);
        const WORD iconId = word(at + 12);
        const auto image = ResourceBytes(g_module, RT_ICON, MAKEINTRESOURCEW(iconId), kEnglishUs);
        ASSERT_TRUE(image.has_value()) << iconId;
        BITMAPINFOHEADER info;
        std::memcpy(&info, image->data(), sizeof info);
        EXPECT_EQ(info.biWidth, width);
        EXPECT_EQ(info.biHeight, 2 * width);
        EXPECT_EQ(info.biBitCount, 8);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32}));
    HICON icon = static_cast<HICON>(LoadImageW(g_module, MAKEINTRESOURCEW(128), IMAGE_ICON, 16, 16, 0));
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
}

TEST_F(DemoRelease, ManifestAsksForCommonControls6AndAdministrator) {
    const auto manifest = ResourceBytes(g_module, RT_MANIFEST, MAKEINTRESOURCEW(1), kEnglishUs);
    ASSERT_TRUE(manifest.has_value());
    const std::string text(manifest->begin(), manifest->end());
    EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(text.find("<requestedExecutionLevel level=\"requireAdministrator\""), std::string::npos);
}

TEST_F(DemoRelease, VersionBlock) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(g_modulePath.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<std::uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(g_modulePath.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x0000000Au);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x0000000Au);
    auto value = [&](const wchar_t* name) {
        wchar_t* text = nullptr;
        UINT chars = 0;
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &chars) || text == nullptr) {
            return std::wstring(L"<missing>");
        }
        return std::wstring(text);
    };
    EXPECT_EQ(value(L"ProductName"), L"Flashwise");
    EXPECT_EQ(value(L"FileDescription"), L"Flashwise");
    EXPECT_EQ(value(L"FileVersion"), L"1.0.0.10");
    EXPECT_EQ(value(L"ProductVersion"), L"1.0.0.10");
}

int main(int argc, char** argv) {
    return RunResourceTests(argc, argv, L"..\\..\\releases\\demo\\FlashwiseResources.dll");
}
