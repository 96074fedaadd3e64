// The Update command on the fake clock: one pass or two, the progress thread across
// them, every failure exit with exactly one text 18, every thread ended on every exit;
// and the finish page's deletions.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/FinishPage.h"
#include "app/ProgressThread.h"
#include "app/UpdatePage.h"
#include "app/UpdateSequence.h"
#include "res/ResourceIds.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/app/FakeWizard.h"
#include "update/CDownloadAgent.h"

namespace flashwise::test {
namespace {

using Lines = std::vector<std::string>;
using Names = std::vector<std::string>;

const Names kHelpers{"DeviceMode.exe", "DeviceSpy.exe", "SysReboot.exe"};
// The desktop helper is written and deleted around each of its runs.
const Names kWritten{"DeviceMode.exe", "DeviceSpy.exe", "SysReboot.exe", "Tarn_G4.abi", "Tarn_G4_SPBL.abi"};

struct Pass {
    std::uint32_t ms;
    bool ok;
    std::uint32_t units = 1;  // the units the pass wrote
};

// An image with one unit (section 50) of `length` bytes.
std::vector<std::uint8_t> OneUnitImage(std::uint32_t length) {
    ImageSizes sizes;
    sizes.l50 = length;
    return ImageFile(sizes, std::vector<std::uint8_t>(length, 0x52));
}

struct SequenceWorld : FakeWizard {
    SequenceWorld() {
        fake.UseScheduler();
        for (const std::string& name : kHelpers) fake.files.files[name] = FakeFiles::File{{'M', 'Z'}, true};
        for (const unsigned id : {IDBIN_SYSREBOOT, IDBIN_DEVICEMODE, IDBIN_DEVICESPY}) {
            fake.package.binaries[id] = {'M', 'Z'};
        }
        fake.package.binaries[IDBIN_FIRMWARE_IMAGE] = OneUnitImage(600);
        fake.package.binaries[IDBIN_BOOT_LOADER_IMAGE] = OneUnitImage(300);
        fake.package.texts[IDS_IMAGE_FILE_NAME] = u"Tarn_G4.abi";
        fake.package.texts[IDS_BOOT_LOADER_IMAGE_FILE_NAME] = u"Tarn_G4_SPBL.abi";
        // The boot-loader link opens on the files the program wrote (on disk for the image object).
        fake.WriteImageFile("Tarn_G4.abi");
        fake.WriteImageFile("Tarn_G4_SPBL.abi");
        fake.links.opens = [] { return true; };
        system.download = [this](update::CDownloadAgent& agent) {
            sent.push_back(agent.Image()->Path().filename().string());
            const Pass pass = passes.at(sent.size() - 1);
            fake.ticks.Sleep(pass.ms);
            agent.State().SetUnitsWritten(pass.units);
            return pass.ok;
        };
        view.whileAsking = [this](unsigned) { askedAt = fake.ticks.Now(); };
        fake.shell.whileRunning = [this] { restoredAt = fake.ticks.Now(); };
    }
    Names Files() const {
        Names names;
        for (const auto& file : fake.files.files) names.push_back(file.first);
        return names;
    }

    std::vector<Pass> passes;
    Names sent;  // the image file of each pass, in order
    std::uint32_t askedAt = 0;     // the last message box
    std::uint32_t restoredAt = 0;  // the last restore of the desktop link
};

struct Row {
    const char* what;
    std::uint32_t newerOs;
    std::vector<Pass> passes;
    std::function<void(SequenceWorld&)> arrange;
    Names sent;
    std::size_t setups;    // connection set-up waits
    Lines asks;            // the sequence's own boxes
    Lines messages;        // boxes of the operations it calls
    bool finished;         // the finish page ran
};

TEST(UpdateSequence, EndsOnTheFinishPageOrWithExactlyOneFailureText) {
    const Names one{"Tarn_G4.abi"};
    const Names two{"Tarn_G4_SPBL.abi", "Tarn_G4.abi"};
    const Lines fail{"ask 18 ok"};
    // Once the phone was sent to its boot loader, the user learns that it waits there.
    const Lines failSent{"ask 18 ok", "ask 50 filled ok"};
    const auto nothing = [](SequenceWorld&) {};
    const Row rows[] = {
        {"newer system: one pass", 1, {{100000, true}}, nothing, one, 1, {}, {}, true},
        {"older system: the boot-loader image first", 0, {{100000, true}, {300000, true}}, nothing, two, 2, {}, {},
         true},
        {"the boot-loader pass fails: no main pass", 0, {{50000, false}}, nothing, {"Tarn_G4_SPBL.abi"}, 1, failSent, {},
         false},
        {"the main pass fails after the boot-loader pass", 0, {{50000, true}, {50000, false}}, nothing, two, 2, failSent,
         {}, false},
        {"the only pass fails", 1, {{50000, false}}, nothing, one, 1, failSent, {}, false},
        {"DeviceMode cannot be copied", 1, {}, [](SequenceWorld& w) { w.fake.files.files.erase("DeviceMode.exe"); },
         {}, 0, fail, {}, false},
        {"SysReboot cannot be copied", 1, {}, [](SequenceWorld& w) { w.fake.files.files.erase("SysReboot.exe"); },
         {}, 0, fail, {}, false},
        {"the image file cannot be written for want of memory", 1, {},
         [](SequenceWorld& w) { w.fake.files.writeErrors["Tarn_G4.abi"] = 8; }, {}, 0, fail,
         {"message 35 owned"}, false},
        {"the boot-loader image file cannot be written", 1, {},
         [](SequenceWorld& w) { w.fake.files.writeErrors["Tarn_G4_SPBL.abi"] = 5; }, {}, 0, fail,
         {"message 36 owned"}, false},
        {"the image fails its check: the phone is never touched", 1, {},
         [](SequenceWorld& w) { w.fake.package.binaries[IDBIN_FIRMWARE_IMAGE][0] = 0; }, {}, 0, fail, {}, false},
        {"the image has no unit to send", 1, {},
         [](SequenceWorld& w) { w.fake.package.binaries[IDBIN_FIRMWARE_IMAGE] = OneUnitImage(0); }, {}, 0, fail, {},
         false},
        {"the boot-loader image runs past its end, its pass to come", 0, {},
         [](SequenceWorld& w) { w.fake.package.binaries[IDBIN_BOOT_LOADER_IMAGE].pop_back(); }, {}, 0, fail, {},
         false},
        {"a broken boot-loader image whose pass never runs", 1, {{20000, true}},
         [](SequenceWorld& w) { w.fake.package.binaries[IDBIN_BOOT_LOADER_IMAGE] = {'f', 'a', 'k', 'e'}; }, one, 1, {},
         {}, true},
        {"an image name that leads out of the folder", 1, {},
         [](SequenceWorld& w) { w.fake.package.texts[IDS_IMAGE_FILE_NAME] = u"..\\Tarn_G4.abi"; }, {}, 0, fail, {},
         false},
        {"a main pass that wrote no unit", 1, {{20000, true, 0}}, nothing, one, 1, failSent, {}, false},
        {"a boot-loader pass that wrote no unit is enough", 0, {{20000, true, 0}, {20000, true}}, nothing, two, 2, {},
         {}, true},
        {"the boot loader never appears", 1, {}, [](SequenceWorld& w) { w.fake.links.opens = [] { return false; }; },
         {}, 1, failSent, {}, false},
        {"the boot loader does not come back for the main pass", 0, {{50000, true}},
         [](SequenceWorld& w) { w.fake.links.opens = [&w] { return w.sent.empty(); }; }, {"Tarn_G4_SPBL.abi"}, 2,
         failSent, {}, false},
        {"signals left by another program count for nothing", 1, {{20000, true}},
         [](SequenceWorld& w) {
             for (const char16_t* name : {app::kUpdateDoneEvent, app::kDownloadErrorEvent}) {
                 w.fake.events.SignalFromOutside(name);
             }
         },
         one, 1, {}, {}, true},
        {"a signal from another program during the pass counts for nothing", 1, {{100000, true}},
         [](SequenceWorld& w) {
             w.fake.scheduler->At(30000, [&w] { w.fake.events.SignalFromOutside(app::kUpdateDoneEvent); });
             w.fake.scheduler->At(40000, [&w] { w.fake.events.SignalFromOutside(app::kDownloadErrorEvent); });
         },
         one, 1, {}, {}, true},
        {"the update's done signal taken by another program: the thread's end counts", 1, {{20000, true}},
         [](SequenceWorld& w) { w.fake.events.takenByOthers = {app::kUpdateDoneEvent}; }, one, 1, {}, {}, true},
        {"the boot-loader pass's signal taken by another program: the main pass follows", 0,
         {{20000, true}, {20000, true}},
         [](SequenceWorld& w) { w.fake.events.takenByOthers = {app::kBootLoaderPassDoneEvent}; }, two, 2, {}, {},
         true},
        {"the failure signal taken by another program: the failure counts", 1, {{20000, false}},
         [](SequenceWorld& w) { w.fake.events.takenByOthers = {app::kDownloadErrorEvent}; }, one, 1, failSent, {},
         false},
    };
    for (const Row& row : rows) {
        SequenceWorld w;
        w.passes = row.passes;
        row.arrange(w);
        std::shared_ptr<update::CDownloadAgent> agent = update::NewDownloadAgent(w.fake.platform, w.system.version);
        agent->SetNewerOs(row.newerOs);
        {
            app::UpdateSequence sequence(w.Wizard(), w.view, agent);
            sequence.Run();
            // Every thread of the update has ended by the time the handler returns.
            EXPECT_EQ(w.fake.scheduler->Alive(), 0) << row.what;
        }
        EXPECT_EQ(w.sent, row.sent) << row.what;
        EXPECT_EQ(w.fake.log.Count("window shown"), row.setups) << row.what;
        EXPECT_EQ(w.fake.log.Matching("ask"), row.asks) << row.what;
        EXPECT_EQ(w.fake.log.Matching("message"), row.messages) << row.what;
        EXPECT_EQ(w.fake.log.Count("page finish run"), row.finished ? 1u : 0u) << row.what;
        EXPECT_EQ(w.view.result, app::kPageOk) << row.what;
        EXPECT_FALSE(w.view.Enabled(IDC_UPDATE)) << row.what;
        EXPECT_FALSE(w.view.Enabled(app::kCancelButton)) << row.what;
        // Success leaves the files to the finish page; a failure leaves none.
        EXPECT_EQ(w.Files(), row.finished ? kWritten : Names{}) << row.what;
        // The desktop link comes back on every way out, once.
        EXPECT_EQ(w.fake.log.Count("shell run wcestest.exe /c:su"), 1u) << row.what;
        // The images are written and checked before the phone is sent to its boot loader.
        const Lines lines = w.fake.log.Lines();
        const auto at = [&lines](const std::string& line) { return std::find(lines.begin(), lines.end(), line); };
        const auto restore = at("shell run wcestest.exe /c:su");
        const auto deviceMode = std::find(lines.begin(), lines.end(), "rapi CreateFile \\windows\\DeviceMode.exe");
        if (deviceMode != lines.end()) {
            EXPECT_LT(std::find(lines.begin(), lines.end(), "file Create Tarn_G4_SPBL.abi"), deviceMode) << row.what;
        } else {
            EXPECT_TRUE(row.sent.empty()) << row.what;
        }
        EXPECT_EQ(w.fake.files.openFiles, 0) << row.what;
        if (row.finished) {
            EXPECT_LT(restore, at("page end 1")) << row.what;
        } else {
            // Restored, a second's pause, every file deleted, and only then the failure text.
            EXPECT_LT(restore, at("file Delete SysReboot.exe")) << row.what;
            EXPECT_LT(at("file Delete ExtRom.tmp"), at("ask 18 ok")) << row.what;
            EXPECT_EQ(w.askedAt - w.restoredAt, 1000u) << row.what;
        }
        // The machine is kept up from the click, before the phone is touched, to the end.
        EXPECT_EQ(w.fake.log.Count("session held"), 1u) << row.what;
        EXPECT_EQ(w.fake.log.Count("session released"), 1u) << row.what;
        EXPECT_LT(at("session held"), at("rapi InitEx")) << row.what;
        EXPECT_LT(at("session released"), row.finished ? at("page finish run") : at("ask 18 ok")) << row.what;
        // The journal is written before the phone is sent away, follows the passes, and
        // stays only for a phone left in its boot loader.
        const bool sentAway = row.finished || row.asks == failSent;
        if (at("rapi CreateFile \\windows\\DeviceMode.exe") != lines.end()) {
            EXPECT_LT(at("journal saved 0"), at("rapi CreateFile \\windows\\DeviceMode.exe")) << row.what;
        }
        Lines passes{"journal saved 0"};
        if (row.newerOs == 0) passes.push_back("journal saved 1");
        if (row.setups == (row.newerOs == 0 ? 2u : 1u)) passes.push_back("journal saved 2");
        if (sentAway) EXPECT_EQ(w.fake.log.Matching("journal saved"), passes) << row.what;
        EXPECT_EQ(w.fake.journal.stored.has_value(), sentAway && !row.finished) << row.what;
        // The phone restarts into its boot loader only once told to stay in it.
        if (at("rapi CreateProcess SysReboot") != lines.end()) {
            EXPECT_LT(at("rapi CreateProcess DeviceMode"), at("rapi CreateProcess SysReboot")) << row.what;
        }
        if (row.setups > 0) {
            EXPECT_LT(at("page string 1010 20"), at("window shown")) << row.what;
        } else {
            EXPECT_EQ(at("page string 1010 20"), lines.end()) << row.what;
        }
    }
}

TEST(UpdateSequence, APhoneLeftInItsBootLoaderIsTakenUpWhereTheRecordSays) {
    struct Row {
        const char* what;
        bool bootLoaderPass;
        std::vector<Pass> passes;
        Names sent;
        Lines asks;
        bool recordKept;
    };
    const Row rows[] = {
        {"the boot-loader pass again, then the main pass", true, {{30000, true}, {30000, true}},
         {"Tarn_G4_SPBL.abi", "Tarn_G4.abi"}, {}, false},
        {"the main pass alone", false, {{30000, true}}, {"Tarn_G4.abi"}, {}, false},
        {"cut again: the record stays, and the user is told again", false, {{30000, false}}, {"Tarn_G4.abi"},
         {"ask 18 ok", "ask 50 filled ok"}, true},
    };
    for (const Row& row : rows) {
        SequenceWorld w;
        w.passes = row.passes;
        // Another release's record, which the user agreed to replace.
        update::UpdateJournal older;
        older.imageDigest = u"0BADF00D-5042300";
        older.pass = update::JournalPass::Main;
        w.fake.journal.stored = older;
        w.system.onUpdatePage = nullptr;
        app::UpdatePage page(w.Wizard(), w.view, update::RecoveryPlan{row.bootLoaderPass, false});
        page.Open();
        // Nothing to fetch from a phone in its boot loader: the page starts the update itself.
        EXPECT_TRUE(page.StartsByItself()) << row.what;
        EXPECT_EQ(w.fake.log.Count("fetch window"), 0u) << row.what;
        page.OnCancel();
        EXPECT_EQ(w.fake.log.Count("ask"), 0u) << row.what;
        page.OnUpdate();
        EXPECT_FALSE(page.StartsByItself()) << row.what;
        EXPECT_EQ(w.sent, row.sent) << row.what;
        EXPECT_EQ(w.fake.log.Matching("ask"), row.asks) << row.what;
        // The phone is not sent anywhere: it is in its boot loader already.
        EXPECT_EQ(w.fake.log.Count("rapi"), 0u) << row.what;
        ASSERT_EQ(w.fake.journal.stored.has_value(), row.recordKept) << row.what;
        if (row.recordKept) {
            EXPECT_EQ(w.fake.journal.stored->imageDigest, update::ImageDigest(w.fake.package)) << row.what;
            EXPECT_EQ(w.fake.journal.stored->release, u"V3.12.405.2 FRA") << row.what;
        }
        EXPECT_EQ(w.fake.log.Count("page finish run"), row.recordKept ? 0u : 1u) << row.what;
        EXPECT_EQ(w.fake.log.Count("shell run wcestest.exe /c:su"), 1u) << row.what;
    }
}

TEST(UpdateJournal, TheDigestIsTheImagesCrc32AndLength) {
    FakeUpdatePlatform fake;
    fake.package.binaries[IDBIN_FIRMWARE_IMAGE] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(update::ImageDigest(fake.package), u"CBF43926-9");
    fake.package.binaries.erase(IDBIN_FIRMWARE_IMAGE);
    EXPECT_EQ(update::ImageDigest(fake.package), u"");
}

TEST(UpdateSequence, VistaPathPutsTheServicesBackAsItFoundThem) {
    using namespace update::service_state;
    using update::start_type::kAutomatic;
    using update::start_type::kDemand;
    for (const bool passes : {true, false}) {
        SequenceWorld w;
        w.system.version = 0x17700006;
        w.passes = {{30000, passes}};
        w.fake.services.services[u"WcesComm"] = FakeServices::Service{kRunning, kDemand};
        w.fake.services.services[u"RapiMgr"] = FakeServices::Service{kRunning, kAutomatic};
        w.fake.links.opens = [&w] {
            // The boot loader opens only once both services have let go of the phone.
            return w.fake.services.StateOf(u"WcesComm") == kStopped && w.fake.services.StateOf(u"RapiMgr") == kStopped;
        };
        app::UpdateSequence(w.Wizard(), w.view, update::NewDownloadAgent(w.fake.platform, w.system.version)).Run();
        EXPECT_EQ(w.fake.log.Count("page finish run"), passes ? 1u : 0u);
        EXPECT_EQ(w.fake.log.Count("shell run"), 0u);
        EXPECT_EQ(w.fake.services.StateOf(u"WcesComm"), kRunning);
        EXPECT_EQ(w.fake.services.StateOf(u"RapiMgr"), kRunning);
        // Their own start types, not "automatic" for both.
        EXPECT_EQ(w.fake.services.services[u"WcesComm"].startType, kDemand);
        EXPECT_EQ(w.fake.services.services[u"RapiMgr"].startType, kAutomatic);
        const Lines lines = w.fake.log.Lines();
        const auto at = [&lines](const std::string& line) { return std::find(lines.begin(), lines.end(), line); };
        EXPECT_LT(at("record saved"), at("service Control WcesComm 1"));
        EXPECT_EQ(w.fake.log.Count("record saved"), 1u);
        EXPECT_FALSE(w.fake.record.stored.has_value());
    }
}

// Positions and when they came, relative to the first.
void ExpectSteadySteps(const SequenceWorld& w, std::size_t count, const char* what) {
    ASSERT_EQ(w.system.positions.size(), count) << what;
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(w.system.positions[i].second, i + 1) << what;
        EXPECT_EQ(w.system.positions[i].first - w.system.positions[0].first, i * 8000) << what;
    }
}

TEST(UpdateSequence, ProgressStepsEvery8SecondsThroughBothPassesAndIsFullAt800) {
    // The boot-loader pass ends (raising the finished flag) after 100 s; the bar goes on.
    SequenceWorld twoPasses;
    twoPasses.passes = {{100000, true}, {300000, true}};
    auto agent = update::NewDownloadAgent(twoPasses.fake.platform, twoPasses.system.version);
    agent->SetNewerOs(0);
    app::UpdateSequence(twoPasses.Wizard(), twoPasses.view, std::move(agent)).Run();
    // From the start of the boot-loader pass to the end of the main pass: 100 s, the
    // second set-up wait (1 s) and 300 s.
    ExpectSteadySteps(twoPasses, 401 / 8, "two passes");

    SequenceWorld longOne;
    longOne.passes = {{900000, true}};
    app::UpdateSequence(longOne.Wizard(), longOne.view,
                        update::NewDownloadAgent(longOne.fake.platform, longOne.system.version))
        .Run();
    ExpectSteadySteps(longOne, 100, "900 s");
    EXPECT_EQ(longOne.system.positions.back().second, 100u);
}

TEST(FinishPage, DeletesEveryFileOnceHoweverItIsLeft) {
    FakeWizard w;
    w.fake.UseScheduler();
    for (const char* name : {"SysReboot.exe", "DeviceSpy.exe", "Tarn_G4.abi", "ExtRom.tmp"}) {
        w.fake.files.files[name] = FakeFiles::File{{1}, true};
    }
    w.fake.package.texts[IDS_IMAGE_FILE_NAME] = u"Tarn_G4.abi";
    w.fake.package.texts[IDS_BOOT_LOADER_IMAGE_FILE_NAME] = u"Tarn_G4_SPBL.abi";
    app::FinishPage page(w.Wizard(), w.view);
    page.Open();
    EXPECT_TRUE(w.view.textsShown);
    // The close box during the pause that follows the click.
    w.fake.scheduler->At(500, [&] { page.OnFinish(); });
    page.OnFinish();
    EXPECT_EQ(w.fake.ticks.Now(), 1000u);
    EXPECT_EQ(w.fake.files.files.size(), 0u);
    EXPECT_EQ(w.fake.log.Matching("file Delete"),
              (Lines{"file Delete SysReboot.exe", "file Delete DeviceSpy.exe", "file Delete DeviceMode.exe",
                     "file Delete wcestest.exe", "file Delete Tarn_G4.abi", "file Delete Tarn_G4_SPBL.abi",
                     "file Delete ExtRom.tmp"}));
    EXPECT_EQ(w.view.result, app::kPageCancel);
    page.OnFinish();
    EXPECT_EQ(w.fake.log.Count("file Delete"), 7u);
}

}  // namespace
}  // namespace flashwise::test
