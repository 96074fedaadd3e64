// The download agents: the class each Windows version gets, the XP path's helper run,
// PrepareDownload's objects and outcomes, and the order in which an agent lets go.

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/update/FakeUpdatePlatform.h"
#include "update/CDownloadAgent.h"

namespace flashwise::test {
namespace {

TEST(DownloadAgent, ThePlatformPathRuleChoosesTheClassAndItsLink) {
    struct Row {
        std::uint32_t packedVersion;
        bool vista;
        const char* link;
    };
    const Row rows[] = {{0x0A280105, false, "link made serial"},
                        {0x00000004, false, "link made serial"},
                        {0x17700006, true, "link made winusb"},
                        {0x4563000A, true, "link made winusb"}};
    for (const Row& row : rows) {
        FakeUpdatePlatform fake;
        auto agent = NewDownloadAgent(fake.platform, row.packedVersion);
        const bool vista = dynamic_cast<CDownloadAgentVista*>(agent.get()) != nullptr;
        EXPECT_EQ(vista, row.vista) << std::hex << row.packedVersion;
        EXPECT_EQ(agent->NewerOs(), 1u);
        EXPECT_FALSE(agent->State().IsFinished());
        EXPECT_EQ(agent->Link(), nullptr);
        EXPECT_EQ(agent->Image(), nullptr);
        agent->PrepareDownload(u"");
        EXPECT_EQ(fake.log.Matching("link made"), std::vector<std::string>{row.link});
    }
}

TEST(DownloadAgent, XpPathRunsOnlyTheHelperItJustWroteAndChecked) {
    const std::vector<std::uint8_t> helper = DesktopHelperPayload();
    struct Row {
        const char* what;
        bool enable;
        std::function<void(FakeUpdatePlatform&)> arrange;
        int result;
        const char* run;  // empty: nothing ran
        std::string output;
    };
    const auto none = [](FakeUpdatePlatform&) {};
    const Row rows[] = {
        {"release", false, none, 1, "shell run wcestest.exe /c:", ""},
        {"restore over a file left or planted there", true,
         [](FakeUpdatePlatform& f) { f.files.files["wcestest.exe"].bytes = {'b', 'a', 'd'}; }, 1,
         "shell run wcestest.exe /c:su", ""},
        {"the helper reports a failure", true, [](FakeUpdatePlatform& f) { f.shell.exitCode = 2; }, 0,
         "shell run wcestest.exe /c:su", ""},
        {"the helper had to be ended", false, [](FakeUpdatePlatform& f) { f.shell.exitCode = kHelperStillRunning; },
         0, "shell run wcestest.exe /c:", ""},
        {"it cannot be started", true,
         [](FakeUpdatePlatform& f) {
             f.shell.fails = true;
             f.shell.error = 1223;
         },
         0, "shell run wcestest.exe /c:su", "CreateProcess Wcestest.exe failed with Errorcode = 1223\n"},
        {"changed between its write and its run", true,
         [](FakeUpdatePlatform& f) { f.files.beforeOpen = [&f](const std::string& name) { f.files.files[name].bytes[0] ^= 1; }; },
         0, "", "CreateProcess Wcestest.exe failed with Errorcode = 0\n"},
        {"cannot be written", false, [](FakeUpdatePlatform& f) { f.files.writeErrors["wcestest.exe"] = 112; }, 0, "",
         "CreateProcess Wcestest.exe failed with Errorcode = 112\n"},
        {"missing from the package", false, [](FakeUpdatePlatform& f) { f.package.binaries.clear(); }, 0, "",
         "CreateProcess Wcestest.exe failed with Errorcode = 0\n"},
    };
    for (const Row& row : rows) {
        FakeUpdatePlatform fake;
        row.arrange(fake);
        CDownloadAgent agent(fake.platform);
        // Failure reporting is not used on this path.
        EXPECT_EQ(agent.SetDesktopLink(row.enable, true), row.result) << row.what;
        EXPECT_EQ(fake.log.Matching("shell"), *row.run ? std::vector<std::string>{row.run} : std::vector<std::string>{})
            << row.what;
        EXPECT_EQ(fake.shell.output, row.output) << row.what;
        // Nothing of it stays behind, and nothing stays open.
        EXPECT_EQ(fake.files.files.count("wcestest.exe"), 0u) << row.what;
        EXPECT_EQ(fake.files.openFiles, 0) << row.what;
        if (!*row.run) continue;
        EXPECT_EQ(fake.shell.programs.at(0), fake.folder / "wcestest.exe") << row.what;
        EXPECT_EQ(fake.shell.currentFolders.at(0), fake.folder) << row.what;
        EXPECT_EQ(fake.shell.waits.at(0), kDesktopHelperWaitMs) << row.what;
        EXPECT_EQ(fake.shell.ranBytes.at(0), helper) << row.what;
        EXPECT_EQ(fake.shell.openWhenRun.at(0), 1) << row.what;  // held against change while it starts
    }
}

TEST(DownloadAgent, PrepareDownloadOutcomes) {
    struct Row {
        const char* what;
        const char* fileName;
        bool imageExists;
        bool linkOpens;
        bool result;
        bool imageOpenAfter;
    };
    const Row rows[] = {
        {"both open", "Tarn_G4.abi", true, true, true, true},
        {"link fails: image closed again", "Tarn_G4.abi", true, false, false, false},
        {"no image file", "Tarn_G4.abi", false, true, false, false},
        {"empty name opens nothing", "", true, true, false, false},
    };
    for (const Row& row : rows) {
        FakeUpdatePlatform fake;
        if (row.imageExists) fake.WriteImageFile("Tarn_G4.abi", 4096);
        fake.links.opens = [&] { return row.linkOpens; };
        CDownloadAgent agent(fake.platform);
        agent.State().SetFinished(true);
        agent.State().SetCompleted(0.5);

        const std::string name = row.fileName;
        EXPECT_EQ(agent.PrepareDownload(std::u16string(name.begin(), name.end())), row.result) << row.what;
        ASSERT_NE(agent.Image(), nullptr) << row.what;
        ASSERT_NE(agent.Link(), nullptr) << row.what;
        EXPECT_EQ(agent.Image()->IsOpen(), row.imageOpenAfter) << row.what;
        EXPECT_FALSE(agent.State().IsFinished()) << row.what;
        EXPECT_EQ(fake.log.Count("link Open"), row.imageExists && *row.fileName ? 1u : 0u) << row.what;
        EXPECT_EQ(agent.Image()->ExtRomPath(), fake.folder / "ExtRom.tmp") << row.what;
        if (row.result) {
            EXPECT_EQ(agent.State().ImageLength(), 4096.0);
            EXPECT_EQ(agent.State().Completed(), 0.0);
        }
    }
}

TEST(DownloadAgent, RepeatedAttemptsReuseTheirObjects) {
    FakeUpdatePlatform fake;
    fake.WriteImageFile("Tarn_G4.abi");
    int attempts = 0;
    fake.links.opens = [&] { return ++attempts == 3; };
    CDownloadAgent agent(fake.platform);
    EXPECT_FALSE(agent.PrepareDownload(u"Tarn_G4.abi"));
    CFirmwareImage* image = agent.Image();
    CConnManager* link = agent.Link();
    EXPECT_FALSE(agent.PrepareDownload(u"Tarn_G4.abi"));
    EXPECT_TRUE(agent.PrepareDownload(u"Tarn_G4.abi"));
    EXPECT_EQ(agent.Image(), image);
    EXPECT_EQ(agent.Link(), link);
    EXPECT_EQ(fake.links.made, 1);
}

TEST(DownloadAgent, LetsGoOfTheLinkThenEndsTheRemoteApiConnection) {
    FakeUpdatePlatform fake;
    fake.WriteImageFile("Tarn_G4.abi");
    fake.links.opens = [] { return true; };
    {
        CDownloadAgentVista agent(fake.platform);
        ASSERT_TRUE(agent.PrepareDownload(u"Tarn_G4.abi"));
        fake.log.Clear();
    }
    EXPECT_EQ(fake.log.Lines(), (std::vector<std::string>{"link deleted winusb", "rapi Uninit"}));
}

}  // namespace
}  // namespace flashwise::test
