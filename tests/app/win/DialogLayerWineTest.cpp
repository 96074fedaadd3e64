// The dialog layer and the resource source under Wine: layouts from the active source
// with the program file behind it, the command map, modal and modeless runs.
// Argument: the Windows path of a translation library that carries the wizard's
// layouts but not this program's layout 200.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/win/Dialog.h"
#include "app/win/ResourceSource.h"
#include "link/win/SystemLibrary.h"
#include "package/Package.h"

namespace flashwise::app {
namespace {

std::wstring g_satellitePath;

constexpr unsigned kOwnLayout = 200;
constexpr unsigned kWizardLayout = 102;
constexpr int kButton = 1001;
constexpr int kLabel = 1002;

class ActiveSource : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(g_satellitePath.empty()) << "the translation library's path is missing";
        satellite_ = LoadLibraryExW(g_satellitePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(satellite_, nullptr) << GetLastError();
    }
    void TearDown() override {
        package::SetStringSource(nullptr);
        if (satellite_ != nullptr) {
            FreeLibrary(satellite_);
        }
    }
    HMODULE satellite_ = nullptr;
};

TEST_F(ActiveSource, LayoutsComeFromTheTranslationAndFallBackToTheProgram) {
    HMODULE program = GetModuleHandleW(nullptr);
    EXPECT_EQ(ResourceModuleFor(RT_DIALOG, MAKEINTRESOURCEW(kWizardLayout)), nullptr);
    EXPECT_EQ(ResourceModuleFor(RT_DIALOG, MAKEINTRESOURCEW(kOwnLayout)), program);

    package::SetStringSource(satellite_);
    EXPECT_EQ(ResourceModuleFor(RT_DIALOG, MAKEINTRESOURCEW(kWizardLayout)), satellite_);
    EXPECT_EQ(ResourceModuleFor(RT_GROUP_ICON, MAKEINTRESOURCEW(128)), satellite_);
    EXPECT_EQ(ResourceModuleFor(RT_DIALOG, MAKEINTRESOURCEW(kOwnLayout)), program);
    EXPECT_EQ(ResourceModuleFor(RT_DIALOG, MAKEINTRESOURCEW(999)), nullptr);
}

TEST_F(ActiveSource, AWizardLayoutOfTheTranslationOpens) {
    package::SetStringSource(satellite_);
    Dialog page(kWizardLayout);
    HWND window = page.CreateModeless(nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_NE(GetDlgItem(window, 1004), nullptr);
    EXPECT_NE(GetDlgItem(window, 1019), nullptr);
    page.Destroy();
    EXPECT_FALSE(IsWindow(window));
}

class CommandPage : public Dialog {
public:
    CommandPage() : Dialog(kOwnLayout) {
        OnCommand(kButton, [this] {
            ++pressed;
            SetItemText(kLabel, L"pressed");
        });
        OnCommand(IDCANCEL, [this] { End(IDCANCEL); });
    }
    int opened = 0;
    int pressed = 0;

protected:
    void OnOpen() override {
        ++opened;
        // Ends a modal run from inside, the way a page hands over.
        if (endAtOnce) {
            PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
    }

public:
    bool endAtOnce = false;
};

std::wstring TextOf(HWND window, int id) {
    wchar_t text[64] = {};
    GetDlgItemTextW(window, id, text, 64);
    return text;
}

TEST(DialogLayer, CommandsReachTheirHandlersAndOthersAreIgnored) {
    CommandPage page;
    HWND window = page.CreateModeless(nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(page.opened, 1);
    EXPECT_EQ(page.Handle(), window);

    SendMessageW(window, WM_COMMAND, MAKEWPARAM(kButton, BN_CLICKED), reinterpret_cast<LPARAM>(page.Item(kButton)));
    EXPECT_EQ(page.pressed, 1);
    EXPECT_EQ(TextOf(window, kLabel), L"pressed");

    // Another notification of the same button, and a command nobody maps.
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(kButton, BN_SETFOCUS), reinterpret_cast<LPARAM>(page.Item(kButton)));
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(4242, BN_CLICKED), 0);
    EXPECT_EQ(page.pressed, 1);
    EXPECT_TRUE(IsWindow(window));

    // Cancel of a modeless window destroys it.
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(page.Handle(), nullptr);
}

TEST(DialogLayer, AModalRunReturnsTheResultItEndedWith) {
    CommandPage page;
    page.endAtOnce = true;
    EXPECT_EQ(page.RunModal(nullptr), IDCANCEL);
    EXPECT_EQ(page.opened, 1);
    EXPECT_EQ(page.Handle(), nullptr);
}

TEST(DialogLayer, AMissingLayoutIsReportedNotShown) {
    Dialog missing(999);
    EXPECT_EQ(missing.RunModal(nullptr), -1);
    EXPECT_EQ(missing.CreateModeless(nullptr), nullptr);
}

TEST(SystemLibrary, PathIsTheSystemFolderNeverTheProgramsOwn) {
    wchar_t folder[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(folder, MAX_PATH), 0u);
    EXPECT_EQ(SystemLibraryPath(L"Rapi.dll"), std::wstring(folder) + L"\\Rapi.dll");

    // A library that exists only beside the program (and in the working folder) is
    // not found.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring beside(self);
    beside.resize(beside.find_last_of(L'\\') + 1);
    beside += L"flashwise_only_here.dll";
    ASSERT_TRUE(CopyFileW(g_satellitePath.c_str(), beside.c_str(), FALSE)) << GetLastError();
    EXPECT_EQ(LoadSystemLibrary(L"flashwise_only_here.dll"), nullptr);
    DeleteFileW(beside.c_str());
}

}  // namespace
}  // namespace flashwise::app

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1) {
        const std::string path = argv[1];
        flashwise::app::g_satellitePath.assign(path.begin(), path.end());
    }
    return RUN_ALL_TESTS();
}
