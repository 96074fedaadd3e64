// The Win32 pages under Wine: they open with their layouts and texts, their message
// boxes have the page as owner, the filled caption and the stated buttons, and Escape
// or the close box do nothing while Cancel is disabled. The pages run on this program's
// main thread as the program runs them; a driver thread plays the user. The phone is a
// scripted Remote API whose connection event the driver opens; the other pieces of the
// system are the update fakes, except the waits, events, threads and message boxes.
// Argument: the Windows path of the demo release's resource library.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/CRUVuveMainApp.h"
#include "app/win/Win32WizardSystem.h"
#include "package/Package.h"
#include "res/ResourceIds.h"
#include "tests/support/update/FakeUpdatePlatform.h"
#include "update/HelperDeployment.h"
#include "update/win/MessageWait.h"
#include "update/win/SystemEvents.h"
#include "update/win/SystemPackagePayloads.h"
#include "update/win/SystemThreads.h"
#include "update/win/SystemTicks.h"
#include "update/win/SystemUserMessages.h"
#include "update/win/SystemWaitWindows.h"

namespace flashwise::test {
namespace {

std::wstring g_resources;

const std::wstring kCaption = L"Flashwise for Krov Q512";
const std::wstring kPageTitle = L"Flashwise -  Install Shield Wizard for Krov Q512";
constexpr int kMessageText = 0xFFFF;

// ---- the phone: a Remote API whose connections wait until the driver lets them through

class ScriptedRapi final : public update::RapiApi {
public:
    ScriptedRapi()
        : answer_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), initGate_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    // The phone answers every connection request, now and from now on.
    void Answer() { SetEvent(answer_); }
    // Blocking connections (the version fetch's) go through from now on.
    void OpenInit() { SetEvent(initGate_); }

    std::atomic<int> requests{0};
    std::atomic<bool> rootOpens{true};
    std::atomic<int> battery{80};
    std::map<std::u16string, std::u16string> values{{u"ID", u"Krov Q512"},
                                                    {u"vROM", u"V1.22.333 FRA"},
                                                    {u"vRadio", u"V4.5.6_2008-01-02"},
                                                    {u"vExtROM", u"V1.22.333 FRA"}};
    std::u16string refusedProcess;  // a phone-side helper that will not start

    update::RapiResult Init() override {
        WaitForSingleObject(initGate_, INFINITE);
        return update::kRapiOk;
    }
    std::unique_ptr<update::RapiInitRequest> InitEx() override {
        ++requests;
        return std::make_unique<Request>(answer_);
    }
    update::RapiResult Uninit() override { return update::kRapiOk; }
    std::uint32_t LastError() override { return 0; }
    update::RapiHandle CreatePhoneFile(std::u16string_view) override { return this; }
    bool WritePhoneFile(update::RapiHandle, const std::uint8_t*, std::uint32_t size, std::uint32_t* written) override {
        *written = size;
        return true;
    }
    bool SetPhoneEndOfFile(update::RapiHandle) override { return true; }
    bool ClosePhoneHandle(update::RapiHandle) override { return true; }
    bool StartPhoneProcess(std::u16string_view name, update::RapiHandle* process, update::RapiHandle* thread) override {
        if (name == refusedProcess) return false;
        *process = this;
        *thread = this;
        return true;
    }
    std::int32_t OpenPhoneKey(update::RapiKey, std::u16string_view subKey, update::RapiKey* key) override {
        if (subKey.empty() ? !rootOpens : subKey != u"KROV\\SYSVERSION") return ERROR_FILE_NOT_FOUND;
        *key = this;
        return ERROR_SUCCESS;
    }
    std::int32_t QueryPhoneValue(update::RapiKey, std::u16string_view name, std::uint32_t*, std::uint8_t* data,
                                 std::uint32_t* size) override {
        const auto found = values.find(std::u16string(name));
        if (found == values.end()) return ERROR_FILE_NOT_FOUND;
        const std::vector<std::uint8_t> bytes = PhoneString(found->second);
        const auto needed = static_cast<std::uint32_t>(bytes.size());
        if (data != nullptr) std::memcpy(data, bytes.data(), std::min(*size, needed));
        const bool fits = data == nullptr || *size >= needed;
        *size = needed;
        return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
    }
    std::int32_t ClosePhoneKey(update::RapiKey) override { return ERROR_SUCCESS; }
    bool GetPowerStatus(update::RapiPowerStatus* status, bool) override {
        status->batteryLifePercent = static_cast<std::uint8_t>(battery.load());
        return true;
    }
    bool GetVersion(update::RapiVersion* version) override {
        *version = update::RapiVersion{5, 2, 0, 3};
        return true;
    }

private:
    class Request final : public update::RapiInitRequest {
    public:
        explicit Request(HANDLE event) : event_(event) {}
        update::RapiResult CallResult() const override { return update::kRapiOk; }
        update::WaitHandle Event() const override { return event_; }
        update::WaitOutcome Wait(std::uint32_t ms) override {
            return WaitForSingleObject(event_, ms) == WAIT_OBJECT_0 ? update::WaitOutcome::Signalled
                                                                    : update::WaitOutcome::TimedOut;
        }
        update::RapiResult Result() const override { return update::kRapiOk; }

    private:
        HANDLE event_;
    };
    HANDLE answer_;
    HANDLE initGate_;
};

// ---- the user: finds the page thread's windows and presses what a user presses

std::wstring TextOf(HWND window) {
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

std::wstring ItemText(HWND window, int id) {
    wchar_t text[2048] = {};
    GetDlgItemTextW(window, id, text, 2048);
    return text;
}

class User {
public:
    explicit User(DWORD pageThread) : pageThread_(pageThread) {}

    // A visible top-level window of the pages' thread whose title is `title`; null after
    // `ms` without one.
    HWND Find(const std::wstring& title, DWORD ms = 10000) const {
        return Poll(ms, [&](HWND w) { return IsWindowVisible(w) && TextOf(w) == title; });
    }
    // A message box (caption text 22) showing `text`.
    HWND FindMessage(const std::wstring& text, DWORD ms = 10000) const {
        return Poll(ms, [&](HWND w) {
            return IsWindowVisible(w) && TextOf(w) == kCaption && ItemText(w, kMessageText) == text;
        });
    }
    // A captionless wait window by the text of its one label.
    HWND FindWaitWindow(const std::wstring& text, DWORD ms = 10000) const {
        return Poll(ms, [&](HWND w) { return IsWindowVisible(w) && ItemText(w, IDC_WAIT_TEXT) == text; });
    }
    // Any message box at all, right now.
    HWND AnyMessage() const { return Find(kCaption, 0); }

    static void Press(HWND window, int id) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    }
    static void CloseBox(HWND window) { PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }
    static void Escape(HWND window) {
        PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(window, WM_KEYUP, VK_ESCAPE, 0);
    }
    // What the dialog manager makes of Escape and of the close box.
    static void CancelCommand(HWND window) { PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }

    // Waits until `condition` holds, at most `ms`.
    static bool Until(const std::function<bool()>& condition, DWORD ms = 10000) {
        for (DWORD waited = 0;; waited += 20) {
            if (condition()) return true;
            if (waited >= ms) return false;
            Sleep(20);
        }
    }

private:
    template <typename Search>
    static BOOL CALLBACK Visit(HWND w, LPARAM p) {
        auto* s = reinterpret_cast<Search*>(p);
        if (!(*s->match)(w)) return TRUE;
        s->found = w;
        return FALSE;
    }
    HWND Poll(DWORD ms, const std::function<bool(HWND)>& match) const {
        struct Search {
            const std::function<bool(HWND)>* match;
            HWND found;
        } search{&match, nullptr};
        Until(
            [&] {
                search.found = nullptr;
                EnumThreadWindows(pageThread_, &Visit<Search>, reinterpret_cast<LPARAM>(&search));
                return search.found != nullptr;
            },
            ms);
        return search.found;
    }
    DWORD pageThread_;
};

// The buttons a message box offers, in the order OK, Cancel, Yes, No.
std::vector<int> ButtonsOf(HWND box) {
    std::vector<int> present;
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
        if (GetDlgItem(box, id) != nullptr) present.push_back(id);
    }
    return present;
}

// A box as the pages must show it: owned by the page, the filled caption, these buttons.
void ExpectBox(HWND box, HWND page, std::vector<int> buttons, const char* what) {
    ASSERT_NE(box, nullptr) << what;
    EXPECT_EQ(GetWindow(box, GW_OWNER), page) << what;
    EXPECT_EQ(TextOf(box), kCaption) << what;
    EXPECT_EQ(ButtonsOf(box), buttons) << what;
}

// ---- the world of one test: the pages over the fakes, the driver on its own thread

// Everything the pages of one test use. It is never freed: a worker the pages have
// stopped waiting for may still use it after the test.
struct World {
    World()
        : platform{rapi,        files,       package, fake.services, fake.shell, messages, ticks,
                   fake.links,  waits,       events,  threads,       windows,    WorkFolder(fake.folder)},
          system(platform) {
    }
    std::vector<std::string> Files() {
        std::vector<std::string> names;
        for (const auto& file : files.files) names.push_back(file.first);
        return names;
    }

    FakeUpdatePlatform fake;
    ScriptedRapi rapi;
    FakeFiles files{fake.log};
    update::SystemPackagePayloads package;
    update::SystemUserMessages messages;
    update::SystemTicks ticks;
    update::MessageWait waits;
    update::SystemEvents events;
    update::SystemThreads threads;
    update::SystemWaitWindows windows;
    update::UpdatePlatform platform;
    app::Win32WizardSystem system;
};

class Pages : public ::testing::Test {
protected:
    Pages() : world_(*new World) {}

    // Runs `page` on this thread and `user` on another; returns when both have.
    void Run(const std::function<void()>& page, const std::function<void(User&)>& user) {
        User driver(GetCurrentThreadId());
        std::thread userThread([&] {
            user(driver);
            // Whatever is still up goes, so that a failed step cannot hang the run.
            for (int i = 0; i < 50; ++i) {
                if (HWND box = driver.AnyMessage()) {
                    for (int id : {IDYES, IDOK}) User::Press(box, id);
                } else if (HWND left = driver.Find(kPageTitle, 0)) {
                    PostMessageW(left, WM_CLOSE, 0, 0);
                    PostMessageW(left, WM_COMMAND, MAKEWPARAM(IDC_FINISH, BN_CLICKED), 0);
                } else {
                    break;
                }
                Sleep(100);
            }
        });
        page();
        userThread.join();
    }

    World& world_;
    ScriptedRapi& rapi_ = world_.rapi;
    app::Win32WizardSystem& system_ = world_.system;
};

const wchar_t kWelcomeHeading[] = L"Welcome To Flashwise\n(For Krov Q512 Only)";

TEST_F(Pages, WelcomeOpensWithItsTextsAndCancelAsksYesOrNo) {
    Run([&] { system_.RunWelcomePage(); },
        [&](User& user) {
            HWND page = user.Find(kPageTitle);
            ASSERT_NE(page, nullptr);
            EXPECT_EQ(ItemText(page, IDC_NEXT), L"Next");
            EXPECT_EQ(ItemText(page, IDCANCEL), L"Cancel");
            EXPECT_EQ(ItemText(page, IDC_WELCOME_HEADING), kWelcomeHeading);
            EXPECT_EQ(ItemText(page, IDC_WELCOME_TEXT), L"This program will walk you through the updating process.");
            EXPECT_EQ(ItemText(page, IDC_WELCOME_CONTINUE), L"Please click Next to continue or Cancel to exit.");
            EXPECT_EQ(ItemText(page, IDC_WELCOME_STATUS), L"");
            EXPECT_NE(SendMessageW(page, WM_GETICON, ICON_BIG, 0), 0);
            EXPECT_NE(SendMessageW(page, WM_QUERYDRAGICON, 0, 0), 0);

            const std::wstring quit =
                L"Do you want to cancel upgrade? Click \"Yes\" to quit. Click \"No\" to return.";
            user.Escape(page);
            HWND box = user.FindMessage(quit);
            ExpectBox(box, page, {IDYES, IDNO}, "text 2 by Escape");
            user.Press(box, IDNO);
            ASSERT_TRUE(User::Until([&] { return !IsWindow(box); }));
            EXPECT_TRUE(IsWindowVisible(page));

            user.CloseBox(page);
            box = user.FindMessage(quit);
            ExpectBox(box, page, {IDYES, IDNO}, "text 2 by the close box");
            user.Press(box, IDYES);
            EXPECT_TRUE(User::Until([&] { return !IsWindow(page); }));
        });
}

TEST_F(Pages, WelcomeNextIgnoresCancelAndNextWhileItRunsThenRefusesALowBattery) {
    Run([&] { system_.RunWelcomePage(); },
        [&](User& user) {
            HWND page = user.Find(kPageTitle);
            ASSERT_NE(page, nullptr);
            user.Press(page, IDC_NEXT);
            ASSERT_TRUE(User::Until([&] { return !IsWindowEnabled(GetDlgItem(page, IDCANCEL)); }));
            EXPECT_EQ(ItemText(page, IDC_WELCOME_STATUS), L"Checking Required Components and more ...");

            // The phone has not answered: the page waits, and neither Escape, the close
            // box nor a second Next does anything.
            user.CancelCommand(page);
            user.CloseBox(page);
            user.Press(page, IDC_NEXT);
            Sleep(300);
            EXPECT_EQ(user.AnyMessage(), nullptr);
            EXPECT_EQ(rapi_.requests.load(), 1);

            // After 3 s: text 11, OK and Cancel; OK tries again, and the phone answers
            // with a battery at 50 %.
            HWND box = user.FindMessage(
                L"Please make sure the device is connected! Continue now? \n(Please also wait for ActiveSync or "
                L"WMDC synchronization to complete.)");
            ExpectBox(box, page, {IDOK, IDCANCEL}, "text 11");
            rapi_.battery = 50;
            rapi_.Answer();
            user.Press(box, IDOK);
            box = user.FindMessage(
                L"The battery is too low. Please charge the battery up to 60% and try again.");
            ExpectBox(box, page, {IDOK}, "text 38");
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_NEXT)));
            user.Press(box, IDOK);
            EXPECT_TRUE(User::Until([&] { return !IsWindow(page); }));
        });
    EXPECT_EQ(rapi_.requests.load(), 2);
}

TEST_F(Pages, WelcomeProbeFailureAsksAndCancelNoComesBackIdle) {
    rapi_.rootOpens = false;
    rapi_.Answer();
    Run([&] { system_.RunWelcomePage(); },
        [&](User& user) {
            HWND page = user.Find(kPageTitle);
            ASSERT_NE(page, nullptr);
            user.Press(page, IDC_NEXT);
            HWND box = user.FindMessage(
                L"Please make sure the device is connected! Continue now? \n(Please also wait for ActiveSync or "
                L"WMDC synchronization to complete.)");
            ExpectBox(box, page, {IDOK, IDCANCEL}, "text 11");
            user.Press(box, IDCANCEL);
            box = user.FindMessage(
                L"Do you want to cancel upgrade? Click \"Yes\" to quit. Click \"No\" to return.");
            ExpectBox(box, page, {IDYES, IDNO}, "text 2 after text 11");
            user.Press(box, IDNO);
            // The page enables its buttons one after the other: a look between the two
            // would find only the first.
            ASSERT_TRUE(User::Until([&] {
                return IsWindowEnabled(GetDlgItem(page, IDC_NEXT)) && IsWindowEnabled(GetDlgItem(page, IDCANCEL));
            }));
            EXPECT_EQ(ItemText(page, IDC_WELCOME_STATUS), L"");
            user.CancelCommand(page);
            box = user.FindMessage(
                L"Do you want to cancel upgrade? Click \"Yes\" to quit. Click \"No\" to return.");
            ASSERT_NE(box, nullptr);
            user.Press(box, IDYES);
            EXPECT_TRUE(User::Until([&] { return !IsWindow(page); }));
        });
}

// The phone-side helpers: the desktop helper is written only around its own runs.
const std::vector<std::string> kHelperFiles{"DeviceMode.exe", "DeviceSpy.exe", "SysReboot.exe"};
const std::wstring kQuit = L"Do you want to cancel upgrade? Click \"Yes\" to quit. Click \"No\" to return.";

std::wstring NewVersion(unsigned id) {
    return package::ReadReleaseText(id, package::ReleaseTextRule::NewVersion);
}

TEST_F(Pages, UpdatePageShowsTheVersionsOnlyAfterTheFetchAndCancelDeletesTheHelpers) {
    Run([&] { system_.RunUpdatePage(); },
        [&](User& user) {
            HWND fetch = user.FindWaitWindow(L"Checking connected device. Please wait...");
            ASSERT_NE(fetch, nullptr);
            EXPECT_EQ(GetWindowLongW(fetch, GWL_STYLE) & WS_CAPTION, 0);
            // Over the update page, which shows once the phone has been read.
            HWND page = GetWindow(fetch, GW_OWNER);
            ASSERT_NE(page, nullptr);
            EXPECT_NE(GetDlgItem(page, IDC_UPDATE_PROGRESS), nullptr);
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_UPDATE)));
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDCANCEL)));

            // While the phone is read: Escape, the close box and Update do nothing.
            user.Escape(page);
            user.CancelCommand(page);
            user.CloseBox(page);
            user.Press(page, IDC_UPDATE);
            Sleep(300);
            EXPECT_EQ(user.AnyMessage(), nullptr);
            EXPECT_TRUE(IsWindowVisible(fetch));

            rapi_.OpenInit();
            ASSERT_TRUE(User::Until([&] { return IsWindowEnabled(GetDlgItem(page, IDCANCEL)) != FALSE; }));
            // The fetch window went before the buttons came on.
            EXPECT_FALSE(IsWindow(fetch));
            ASSERT_TRUE(User::Until([&] { return IsWindowVisible(page) != FALSE; }));
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_UPDATE)));
            const std::pair<int, std::wstring> texts[] = {
                {IDC_UPDATE, L"Update"},
                {IDCANCEL, L"Cancel"},
                {IDC_UPDATE_FIRST_LINE, L"Your device software is about to be updated from"},
                {IDC_CURRENT_ROM_LABEL, L"ROM version:"},
                {IDC_CURRENT_ROM_VERSION, L"V1.22.333 FRA"},
                {IDC_CURRENT_RADIO_LABEL, L"Radio version:"},
                {IDC_CURRENT_RADIO_VERSION, L"V4.5.6_2008-01-02"},
                {IDC_UPDATE_TO, L"to"},
                {IDC_NEW_ROM_LABEL, L"ROM version:"},
                {IDC_NEW_ROM_VERSION, NewVersion(IDTXT_NEW_ROM_VERSION)},
                {IDC_NEW_RADIO_LABEL, L"Radio version:"},
                {IDC_NEW_RADIO_VERSION, NewVersion(IDTXT_NEW_RADIO_VERSION)},
                {IDC_UPDATE_INSTRUCTION, L"Please click update to continue ..."},
            };
            for (const auto& text : texts) EXPECT_EQ(ItemText(page, text.first), text.second) << text.first;
            EXPECT_FALSE(NewVersion(IDTXT_NEW_ROM_VERSION).empty());
            EXPECT_EQ(world_.Files(), kHelperFiles);

            user.Escape(page);
            HWND box = user.FindMessage(kQuit);
            ExpectBox(box, page, {IDYES, IDNO}, "text 2 on the update page");
            user.Press(box, IDYES);
            EXPECT_TRUE(User::Until([&] { return !IsWindow(page); }));
        });
    EXPECT_EQ(world_.Files(), std::vector<std::string>{});
}

TEST_F(Pages, AnotherModelIsToldOnTheUpdatePageAndANewWelcomePageFollows) {
    rapi_.values[u"ID"] = u"Krov Q999";
    rapi_.OpenInit();
    Run([&] { system_.RunUpdatePage(); },
        [&](User& user) {
            HWND box = user.FindMessage(
                L"Warning.\n This is not a \"Krov Q512\" Device.\n Please double check and try again.");
            ASSERT_NE(box, nullptr);
            HWND page = GetWindow(box, GW_OWNER);
            EXPECT_EQ(TextOf(page), kPageTitle);
            EXPECT_NE(GetDlgItem(page, IDC_UPDATE), nullptr);
            ExpectBox(box, page, {IDOK}, "text 31");
            user.Press(box, IDOK);
            HWND welcome = user.Find(kPageTitle);
            ASSERT_NE(welcome, nullptr);
            EXPECT_NE(GetDlgItem(welcome, IDC_NEXT), nullptr);
            EXPECT_EQ(world_.Files(), std::vector<std::string>{});
            user.CloseBox(welcome);
            box = user.FindMessage(kQuit);
            ExpectBox(box, welcome, {IDYES, IDNO}, "text 2 on the new welcome page");
            user.Press(box, IDYES);
            EXPECT_TRUE(User::Until([&] { return !IsWindow(welcome); }));
        });
}

TEST_F(Pages, AFailedUpdateSaysSoOnceOwnedByTheUpdatePage) {
    rapi_.OpenInit();
    rapi_.refusedProcess = u"DeviceMode";
    Run([&] { system_.RunUpdatePage(); },
        [&](User& user) {
            HWND page = user.Find(kPageTitle);
            ASSERT_NE(page, nullptr);
            ASSERT_TRUE(User::Until([&] { return IsWindowEnabled(GetDlgItem(page, IDCANCEL)) != FALSE; }));
            user.Press(page, IDC_UPDATE);
            HWND box = user.FindMessage(L"Fail to update. This program will close automatically.");
            ExpectBox(box, page, {IDOK}, "text 18");
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDCANCEL)));
            user.Press(box, IDOK);
            EXPECT_TRUE(User::Until([&] { return !IsWindow(page); }));
            EXPECT_EQ(user.AnyMessage(), nullptr);
        });
    EXPECT_EQ(world_.Files(), std::vector<std::string>{});
    EXPECT_EQ(world_.fake.log.Count("shell run wcestest.exe /c:su"), 1u);
}

TEST_F(Pages, TheFinishPageDeletesTheFilesWhenItsCloseBoxEndsIt) {
    for (const char* name : {"SysReboot.exe", "DeviceSpy.exe", "DeviceMode.exe", "wcestest.exe", "Tarn_G4.abi",
                             "Tarn_G4_SPBL.abi"}) {
        world_.files.files[name] = FakeFiles::File{{1, 2, 3}, true};
    }
    Run([&] { system_.RunFinishPage(); },
        [&](User& user) {
            HWND page = user.Find(kPageTitle);
            ASSERT_NE(page, nullptr);
            EXPECT_EQ(ItemText(page, IDC_FINISH), L"Finish");
            EXPECT_EQ(ItemText(page, IDC_FINISH_HEADING),
                      L"Congratulations! Your device has been successfully updated.");
            EXPECT_EQ(ItemText(page, IDC_FINISH_TEXT),
                      L"Important Note: Follow the on-screen instructions to set up your device before you use it "
                      L"for the first time.");
            user.CloseBox(page);
            EXPECT_TRUE(User::Until([&] { return !IsWindow(page); }));
        });
    EXPECT_EQ(world_.Files(), std::vector<std::string>{});
}

// Start-up's model texts, from the release's resources, for the captions and titles.
class ReleaseTexts final : public app::StartupPlatform {
public:
    void RegisterCommonControls() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
        InitCommonControlsEx(&controls);
    }
    std::uint16_t UserUiLanguage() override { return 0x0409; }
    std::u16string ApplicationName() override { return u"Flashwise"; }
    bool UseSatelliteLibrary(std::u16string_view) override { return false; }
    std::u16string ReadModelText(unsigned id) override {
        return package::FromWide(package::ReadReleaseText(id, package::ReleaseTextRule::ModelName));
    }
    void ShowStartupMessage(unsigned, std::u16string_view) override {}
    std::uint32_t PackedVersion() override { return GetVersion(); }
    bool ProbeSystemLibrary(std::u16string_view) override { return true; }
    bool MakeWorkFolder() override { return true; }  // each test has its own
    void RemoveWorkFolder() override {}
    void RunWelcomePage() override {}
    bool FirstCopy() override { return true; }
    void BringFirstCopyForward() override {}
    void ActOnLeftRecord() override {}
};

}  // namespace
}  // namespace flashwise::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "the release's resource library is missing\n");
        return 2;
    }
    const std::string path = argv[1];
    flashwise::test::g_resources.assign(path.begin(), path.end());
    HMODULE resources = LoadLibraryExW(flashwise::test::g_resources.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (resources == nullptr) {
        std::fprintf(stderr, "cannot load the release's resources: %lu\n", GetLastError());
        return 2;
    }
    flashwise::package::SetPackageModule(resources);
    flashwise::package::SetStringSource(resources);
    flashwise::test::ReleaseTexts texts;
    flashwise::app::TheApp().InitInstance(texts);
    return RUN_ALL_TESTS();
}
