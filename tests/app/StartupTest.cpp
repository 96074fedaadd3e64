#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/CRUVuveMainApp.h"
#include "app/PlatformPath.h"

namespace flashwise::app {
namespace {

constexpr std::uint32_t kXp = 0x0A280105;     // 5.1, build bits above
constexpr std::uint32_t kVista = 0x17700006;  // 6.0
constexpr std::uint32_t kTen = 0x4563000A;    // 10.0

// Records every platform call in order, so a test sees the whole start-up.
class RecordingPlatform : public StartupPlatform {
public:
    std::uint32_t version = kXp;
    std::uint16_t language = 0x0409;
    std::u16string applicationName = u"Flashwise";
    bool satelliteLoads = true;
    std::set<std::u16string> presentLibraries{u"Winusb.dll", u"Rapi.dll"};
    std::u16string identity = u"Krov Q512";
    std::u16string displayName = u"Krov Q512 Display";

    std::vector<std::string> calls;
    std::vector<std::u16string> captionNames;

    void RegisterCommonControls() override { calls.push_back("controls"); }
    std::uint16_t UserUiLanguage() override {
        calls.push_back("language");
        return language;
    }
    std::u16string ApplicationName() override { return applicationName; }
    bool UseSatelliteLibrary(std::u16string_view fileName) override {
        calls.push_back("satellite " + Narrow(fileName));
        return satelliteLoads;
    }
    std::u16string ReadModelText(unsigned id) override {
        calls.push_back("txt " + std::to_string(id));
        return id == 160 ? identity : id == 161 ? displayName : u"";
    }
    void ShowStartupMessage(unsigned textId, std::u16string_view name) override {
        calls.push_back("message " + std::to_string(textId));
        captionNames.emplace_back(name);
    }
    std::uint32_t PackedVersion() override { return version; }
    bool ProbeSystemLibrary(std::u16string_view fileName) override {
        calls.push_back("probe " + Narrow(fileName));
        return presentLibraries.count(std::u16string(fileName)) != 0;
    }
    bool folderMade = true;
    bool MakeWorkFolder() override {
        calls.push_back("make folder");
        return folderMade;
    }
    void RemoveWorkFolder() override { calls.push_back("remove folder"); }
    void RunWelcomePage() override { calls.push_back("welcome"); }
    bool FirstCopy() override {
        calls.push_back("first copy?");
        return firstCopy;
    }
    void BringFirstCopyForward() override { calls.push_back("bring the first copy forward"); }
    void ActOnLeftRecord() override { calls.push_back("left record"); }
    bool firstCopy = true;

    static std::string Narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }
};

using Calls = std::vector<std::string>;

TEST(Startup, XpPathRunsEveryStepInOrderAndNeverProbesWinUsb) {
    RecordingPlatform platform;
    platform.presentLibraries = {u"Rapi.dll"};
    CRUVuveMainApp app;

    EXPECT_EQ(app.InitInstance(platform), StartupEnd::WizardRan);

    EXPECT_EQ(platform.calls, (Calls{"first copy?", "left record", "controls", "language", "txt 160", "txt 161", "message 40", "probe Rapi.dll",
                                     "make folder", "welcome", "remove folder"}));
    EXPECT_EQ(app.ModelIdentity(), u"Krov Q512");
    EXPECT_EQ(app.ModelDisplayName(), u"Krov Q512 Display");
    // The notice's caption is filled with the display name read just before.
    EXPECT_EQ(platform.captionNames, std::vector<std::u16string>{u"Krov Q512 Display"});
}

TEST(Startup, VistaPathProbesWinUsbBeforeRapi) {
    for (std::uint32_t version : {kVista, kTen}) {
        RecordingPlatform platform;
        platform.version = version;
        CRUVuveMainApp app;

        EXPECT_EQ(app.InitInstance(platform), StartupEnd::WizardRan);
        EXPECT_EQ(platform.calls, (Calls{"first copy?", "left record", "controls", "language", "txt 160", "txt 161", "message 40",
                                         "probe Winusb.dll", "probe Rapi.dll", "make folder", "welcome", "remove folder"}));
    }
}

TEST(Startup, FailedChecksShowTheNoticeThenTheReasonAndEnd) {
    struct Case {
        std::uint32_t version;
        std::set<std::u16string> present;
        StartupEnd end;
        Calls tail;  // everything after the model texts
    };
    const Case cases[] = {
        {kVista, {u"Rapi.dll"}, StartupEnd::WinUsbMissing, {"message 40", "probe Winusb.dll", "message 39"}},
        {kVista, {}, StartupEnd::WinUsbMissing, {"message 40", "probe Winusb.dll", "message 39"}},
        {kVista, {u"Winusb.dll"}, StartupEnd::RapiMissing,
         {"message 40", "probe Winusb.dll", "probe Rapi.dll", "message 24"}},
        {kXp, {u"Winusb.dll"}, StartupEnd::RapiMissing, {"message 40", "probe Rapi.dll", "message 24"}},
        {kXp, {}, StartupEnd::RapiMissing, {"message 40", "probe Rapi.dll", "message 24"}},
        // No private work folder: nothing could be written safely, so no page runs.
        {kXp, {u"Rapi.dll"}, StartupEnd::NoWorkFolder, {"message 40", "probe Rapi.dll", "make folder", "message 36"}},
    };
    for (const Case& c : cases) {
        RecordingPlatform platform;
        platform.version = c.version;
        platform.presentLibraries = c.present;
        platform.folderMade = c.end != StartupEnd::NoWorkFolder;
        CRUVuveMainApp app;

        EXPECT_EQ(app.InitInstance(platform), c.end);
        Calls expected{"first copy?", "left record", "controls", "language", "txt 160", "txt 161"};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(platform.calls, expected) << "version " << std::hex << c.version;
        // Both boxes carry the filled caption.
        EXPECT_EQ(platform.captionNames.size(), 2u);
        for (const auto& name : platform.captionNames) {
            EXPECT_EQ(name, u"Krov Q512 Display");
        }
    }
}

TEST(Startup, ASecondCopyBringsTheFirstForwardAndTouchesNothing) {
    RecordingPlatform platform;
    platform.firstCopy = false;
    CRUVuveMainApp app;
    EXPECT_EQ(app.InitInstance(platform), StartupEnd::AnotherCopyRuns);
    // Not even the record a dead run may have left: the first copy's own run owns it.
    EXPECT_EQ(platform.calls, (Calls{"first copy?", "bring the first copy forward"}));
}

TEST(Startup, TraditionalChineseLooksForTheTranslationBeforeAnyText) {
    for (bool loads : {true, false}) {
        RecordingPlatform platform;
        platform.language = 0x0404;
        platform.applicationName = u"Tool";
        platform.satelliteLoads = loads;
        CRUVuveMainApp app;

        EXPECT_EQ(app.InitInstance(platform), StartupEnd::WizardRan);
        // A missing translation changes nothing else: no message, same steps.
        EXPECT_EQ(platform.calls, (Calls{"first copy?", "left record", "controls", "language", "satellite ToolCHT.dll", "txt 160", "txt 161",
                                         "message 40", "probe Rapi.dll", "make folder", "welcome", "remove folder"}));
    }
}

TEST(Startup, OtherLanguagesNeverLookForATranslation) {
    for (std::uint16_t language : {0x0409, 0x0804, 0x0C04, 0x0004, 0x7C04, 0x0411}) {
        RecordingPlatform platform;
        platform.language = language;
        CRUVuveMainApp app;
        app.InitInstance(platform);
        for (const auto& call : platform.calls) {
            EXPECT_EQ(call.rfind("satellite", 0), std::string::npos) << std::hex << language;
        }
    }
}

TEST(Startup, MissingModelTextsStayEmptyAndStartUpGoesOn) {
    RecordingPlatform platform;
    platform.identity.clear();
    platform.displayName.clear();
    CRUVuveMainApp app;

    EXPECT_EQ(app.InitInstance(platform), StartupEnd::WizardRan);
    EXPECT_TRUE(app.ModelIdentity().empty());
    EXPECT_TRUE(app.ModelDisplayName().empty());
    EXPECT_EQ(platform.captionNames, std::vector<std::u16string>{u""});
}

TEST(PlatformPath, MajorVersionInTheLowByteDecides) {
    EXPECT_EQ(PlatformPathFromVersion(0x00000005), PlatformPath::Xp);
    EXPECT_EQ(PlatformPathFromVersion(kXp), PlatformPath::Xp);
    EXPECT_EQ(PlatformPathFromVersion(0x00000004), PlatformPath::Xp);
    EXPECT_EQ(PlatformPathFromVersion(kVista), PlatformPath::Vista);
    EXPECT_EQ(PlatformPathFromVersion(0x1DB10106), PlatformPath::Vista);  // 6.1
    EXPECT_EQ(PlatformPathFromVersion(kTen), PlatformPath::Vista);
    // The minor version and the build bits never count: 5.255 is still the XP path.
    EXPECT_EQ(PlatformPathFromVersion(0xFFFFFF05), PlatformPath::Xp);
}

}  // namespace
}  // namespace flashwise::app
