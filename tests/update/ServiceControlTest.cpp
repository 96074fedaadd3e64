// The device-center services on the Vista path: every outcome of the command table, the
// eleven status queries a second apart, the start types, the release and restore of
// the desktop link with their messages, and the record that outlives a run that dies.

#include <gtest/gtest.h>

#include "res/ResourceIds.h"
#include "tests/support/update/FakeUpdatePlatform.h"
#include "update/CDownloadAgent.h"
#include "update/PrivateFolder.h"
#include "update/RunRecord.h"
#include "update/ServiceControl.h"

namespace flashwise::test {
namespace {

using namespace service_state;
using Service = FakeServices::Service;

constexpr std::uint32_t kAuto = start_type::kAutomatic;
constexpr std::uint32_t kDemand = start_type::kDemand;
constexpr std::uint32_t kDisabled = start_type::kDisabled;

struct CommandRow {
    const char* what;
    const char* command;
    Service before;
    bool result;
    std::uint32_t stateAfter;
    std::uint32_t startTypeAfter;
    std::uint32_t secondsTaken;
};

TEST(ControlDeviceService, EveryCommandInEveryState) {
    const CommandRow rows[] = {
        {"stop running", "STOP", {kRunning, kAuto, 3000}, true, kStopped, kDisabled, 3},
        {"stop ignores case", "stop", {kRunning, kAuto}, true, kStopped, kDisabled, 1},
        {"stop within the queries", "STOP", {kRunning, kAuto, 10000}, true, kStopped, kDisabled, 10},
        {"stop at the last query", "STOP", {kRunning, kAuto, 11000}, true, kStopped, kDisabled, 11},
        {"stop outlasting the queries", "STOP", {kRunning, kAuto, 13000}, false, kStopPending, kDisabled, 11},
        {"stop refused, still disabled", "STOP", {kRunning, kAuto, 0, 0, true}, false, kRunning, kDisabled, 0},
        {"stop already stopped", "STOP", {kStopped, kDemand}, true, kStopped, kDemand, 0},
        {"stop while stopping", "STOP", {kStopPending, kAuto}, false, kStopPending, kAuto, 0},
        {"stop while starting", "STOP", {kStartPending, kAuto}, false, kStartPending, kAuto, 0},
        {"start stopped", "START", {kStopped, kDisabled, 0, 2000}, true, kRunning, kAuto, 2},
        {"start already running", "Start", {kRunning, kDemand}, true, kRunning, kDemand, 0},
        {"start repairs a refused stop", "START", {kRunning, kDisabled}, true, kRunning, kAuto, 0},
        {"start slower than the queries", "START", {kStopped, kAuto, 0, 15000}, false, kStartPending, kAuto, 11},
        {"pause running", "PAUSE", {kRunning, kAuto}, false, kRunning, kAuto, 0},
        {"pause paused", "PAUSE", {kPaused, kAuto}, true, kPaused, kAuto, 0},
        {"continue running", "CONTINUE", {kRunning, kAuto}, true, kRunning, kAuto, 0},
        {"continue stopped", "CONTINUE", {kStopped, kAuto}, false, kStopped, kAuto, 0},
        {"unknown command", "RESTART", {kRunning, kAuto}, false, kRunning, kAuto, 0},
    };
    for (const CommandRow& row : rows) {
        FakeUpdatePlatform fake;
        fake.services.services[u"WcesComm"] = row.before;
        EXPECT_EQ(ControlDeviceService(fake.services, fake.ticks, row.command, "WcesComm"), row.result) << row.what;
        EXPECT_EQ(fake.services.StateOf(u"WcesComm"), row.stateAfter) << row.what;
        EXPECT_EQ(fake.services.services[u"WcesComm"].startType, row.startTypeAfter) << row.what;
        EXPECT_EQ(fake.ticks.Now(), row.secondsTaken * 1000) << row.what;
        EXPECT_EQ(fake.services.openHandles, 0) << row.what;
    }
}

TEST(ControlDeviceService, FailsWithoutManagerOrService) {
    FakeUpdatePlatform fake;
    fake.services.services[u"WcesComm"] = Service{};
    EXPECT_FALSE(ControlDeviceService(fake.services, fake.ticks, "STOP", "RapiMgr"));
    fake.services.managerOpens = false;
    EXPECT_FALSE(ControlDeviceService(fake.services, fake.ticks, "STOP", "WcesComm"));
    EXPECT_EQ(fake.services.StateOf(u"WcesComm"), kRunning);
    EXPECT_EQ(fake.services.openHandles, 0);
}

TEST(RequestServiceState, ElevenQueriesOneSecondApartThenOneMore) {
    FakeUpdatePlatform fake;
    fake.services.services[u"WcesComm"] = Service{kRunning, kAuto, 60000};
    EXPECT_FALSE(ControlDeviceService(fake.services, fake.ticks, "STOP", "WcesComm"));
    // The state query of the command, eleven a second apart, and the last one at once.
    const std::vector<std::uint32_t> expected{0,    1000, 2000, 3000, 4000,  5000, 6000,
                                              7000, 8000, 9000, 10000, 11000, 11000};
    EXPECT_EQ(fake.services.queryTimes, expected);
}

TEST(ServiceRestore, AStopThatRanOutOfQueriesIsStartedAgain) {
    struct Row {
        const char* what;
        std::uint32_t stopDelayMs;
        std::uint32_t restoreAfterMs;  // after the failed stop returned
        bool result;
        bool started;
    };
    const Row rows[] = {
        {"still stopping: waited for, then started", 13000, 0, true, true},
        {"stopped by then: started at once", 13000, 5000, true, true},
        {"stopping for far too long: stays down but enabled", 60000, 0, false, false},
    };
    for (const Row& row : rows) {
        FakeUpdatePlatform fake;
        fake.services.services[u"WcesComm"] = Service{kRunning, kAuto, row.stopDelayMs};
        EXPECT_FALSE(ControlDeviceService(fake.services, fake.ticks, "STOP", "WcesComm")) << row.what;
        // The immediate retry finds it stopping.
        EXPECT_FALSE(ControlDeviceService(fake.services, fake.ticks, "STOP", "WcesComm")) << row.what;
        fake.ticks.Advance(row.restoreAfterMs);
        fake.log.Clear();

        EXPECT_EQ(ControlDeviceService(fake.services, fake.ticks, "START", "WcesComm"), row.result) << row.what;
        EXPECT_EQ(fake.services.services[u"WcesComm"].startType, kAuto) << row.what;
        EXPECT_EQ(fake.log.Count("service Start "), row.started ? 1u : 0u) << row.what;
        if (row.started) {
            EXPECT_EQ(fake.services.StateOf(u"WcesComm"), kRunning) << row.what;
        }
    }
}

// ---- the Vista agent's release and restore

struct LinkRow {
    const char* what;
    Service wcescomm;
    Service rapimgr;
    bool enable;
    bool report;
    int result;
    std::vector<std::string> messages;
    std::uint32_t wcescommAfter;
    std::uint32_t rapimgrAfter;
};

TEST(VistaDesktopLink, ReleaseAndRestore) {
    const Service running{kRunning, kAuto};
    const Service stopped{kStopped, kDisabled};
    const Service refusing{kRunning, kAuto, 0, 0, true};
    const LinkRow rows[] = {
        {"release both", running, running, false, true, 1, {}, kStopped, kStopped},
        {"release when both are stopped", stopped, stopped, false, true, 1, {}, kStopped, kStopped},
        {"WcesComm refuses, reported", refusing, running, false, true, 0, {"message 41 on top"}, kRunning, kRunning},
        {"WcesComm refuses, quiet", refusing, running, false, false, 0, {}, kRunning, kRunning},
        {"RapiMgr refuses, reported", running, refusing, false, true, 0, {"message 42 on top"}, kStopped, kRunning},
        {"restore both", stopped, stopped, true, true, 1, {}, kRunning, kRunning},
        {"restore when both run", running, running, true, false, 1, {}, kRunning, kRunning},
        {"only WcesComm counts when restoring", running, Service{kPaused, kAuto}, true, false, 1, {}, kRunning,
         kPaused},
    };
    for (const LinkRow& row : rows) {
        FakeUpdatePlatform fake;
        fake.services.services[u"WcesComm"] = row.wcescomm;
        fake.services.services[u"RapiMgr"] = row.rapimgr;
        CDownloadAgentVista agent(fake.platform);
        EXPECT_EQ(agent.SetDesktopLink(row.enable, row.report), row.result) << row.what;
        EXPECT_EQ(fake.log.Matching("message"), row.messages) << row.what;
        EXPECT_EQ(fake.services.StateOf(u"WcesComm"), row.wcescommAfter) << row.what;
        EXPECT_EQ(fake.services.StateOf(u"RapiMgr"), row.rapimgrAfter) << row.what;
    }
}

TEST(VistaDesktopLink, OrderOfRequestsAndTriesOfARefusedStop) {
    FakeUpdatePlatform fake;
    fake.services.services[u"WcesComm"] = Service{kRunning, kAuto, 0, 0, true};
    fake.services.services[u"RapiMgr"] = Service{kRunning, kAuto};
    CDownloadAgentVista agent(fake.platform);
    EXPECT_EQ(agent.SetDesktopLink(false, false), 0);
    // Two tries at WcesComm, and RapiMgr never touched.
    EXPECT_EQ(fake.log.Matching("service Control"),
              (std::vector<std::string>{"service Control WcesComm 1", "service Control WcesComm 1"}));

    fake.log.Clear();
    fake.services.services[u"WcesComm"] = Service{kStopped, kDisabled};
    fake.services.services[u"RapiMgr"] = Service{kStopped, kDisabled};
    EXPECT_EQ(agent.SetDesktopLink(true, false), 1);
    // Back as the refused release found them, running and automatic; the record then goes.
    EXPECT_EQ(fake.log.Lines(), (std::vector<std::string>{"service StartType RapiMgr 2", "service Start RapiMgr",
                                                          "service StartType WcesComm 2", "service Start WcesComm",
                                                          "record removed"}));
}

// ---- the run's record

TEST(RunRecord, ReleasesRecordTheServicesOnceBeforeTheFirstChange) {
    FakeUpdatePlatform fake;
    fake.services.services[u"WcesComm"] = Service{kRunning, kDemand};
    fake.services.services[u"RapiMgr"] = Service{kStopped, kAuto};
    CDownloadAgentVista agent(fake.platform);
    ASSERT_EQ(agent.SetDesktopLink(false, false), 1);
    EXPECT_EQ(fake.log.Lines().front(), "record saved");
    // A later attempt of the same run finds them stopped and disabled: that is not recorded.
    ASSERT_EQ(agent.SetDesktopLink(false, false), 1);
    EXPECT_EQ(fake.log.Count("record saved"), 1u);
    ASSERT_TRUE(fake.record.stored.has_value());
    const auto& services = fake.record.stored->services;
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[0].name, u"WcesComm");
    EXPECT_EQ(services[0].startType, kDemand);
    EXPECT_EQ(services[0].state, kRunning);
    EXPECT_EQ(services[1].startType, kAuto);
    EXPECT_EQ(services[1].state, kStopped);
    EXPECT_EQ(fake.record.stored->workFolder, fake.folder);

    // Restored exactly: WcesComm runs on demand again, RapiMgr stays stopped.
    EXPECT_EQ(agent.SetDesktopLink(true, false), 1);
    EXPECT_EQ(fake.services.StateOf(u"WcesComm"), kRunning);
    EXPECT_EQ(fake.services.services[u"WcesComm"].startType, kDemand);
    EXPECT_EQ(fake.services.StateOf(u"RapiMgr"), kStopped);
    EXPECT_EQ(fake.services.services[u"RapiMgr"].startType, kAuto);
    EXPECT_FALSE(fake.record.stored.has_value());
}

TEST(RunRecord, NothingIsStoppedWhenTheRecordCannotBeWritten) {
    FakeUpdatePlatform fake;
    fake.record.saveFails = true;
    fake.services.services[u"WcesComm"] = Service{kRunning, kAuto};
    fake.services.services[u"RapiMgr"] = Service{kRunning, kAuto};
    CDownloadAgentVista vista(fake.platform);
    EXPECT_EQ(vista.SetDesktopLink(false, true), 0);
    EXPECT_EQ(fake.log.Count("service Control"), 0u);
    EXPECT_EQ(fake.log.Matching("message"), std::vector<std::string>{"message 41 on top"});
    CDownloadAgent xp(fake.platform);
    EXPECT_EQ(xp.SetDesktopLink(false, false), 0);
    EXPECT_EQ(fake.log.Count("shell run"), 0u);
}

// The private folders as start-up sees them: made in the scratch folder, removals noted.
class LeftFolders : public PrivateFolders {
public:
    explicit LeftFolders(std::filesystem::path base) : base_(std::move(base)) {}
    std::vector<std::filesystem::path> removed;
    std::filesystem::path Base() override { return base_; }
    std::uint32_t RandomToken() override {
        ADD_FAILURE() << "start-up makes no folder to act on a record";
        return 0;
    }
    Made Create(const std::filesystem::path&) override {
        ADD_FAILURE() << "start-up makes no folder to act on a record";
        return Made::Failed;
    }
    void Remove(const std::filesystem::path& folder) override { removed.push_back(folder); }

private:
    std::filesystem::path base_;
};

struct LeftRow {
    const char* what;
    std::optional<RunRecord> record;
    std::function<void(FakeUpdatePlatform&)> arrange;
    std::vector<std::string> shell;  // helpers run
    bool recordStays;
    std::uint32_t wcescomm, wcescommType, rapimgr, rapimgrType;  // afterwards
};

TEST(RunRecord, ARecordLeftByARunThatDiedIsActedOnAtStart) {
    const std::filesystem::path left = "Flashwise-0A0B0C0D";  // made absolute in the scratch folder below
    const auto vista = [](std::uint32_t wState, std::uint32_t wType, std::uint32_t rState, std::uint32_t rType) {
        RunRecord record;
        record.services = {{u"WcesComm", wType, wState}, {u"RapiMgr", rType, rState}};
        return record;
    };
    RunRecord xp;
    xp.desktopLinkReleased = true;
    const auto stoppedAndDisabled = [](FakeUpdatePlatform& fake) {
        fake.services.services[u"WcesComm"] = Service{kStopped, kDisabled};
        fake.services.services[u"RapiMgr"] = Service{kStopped, kDisabled};
    };
    const LeftRow rows[] = {
        {"no record: nothing happens", std::nullopt, stoppedAndDisabled, {}, false, kStopped, kDisabled, kStopped,
         kDisabled},
        {"Vista path: each service back as it was", vista(kRunning, kDemand, kStopped, kAuto), stoppedAndDisabled, {},
         false, kRunning, kDemand, kStopped, kAuto},
        {"Vista path: a service that cannot start keeps the record for the next start",
         vista(kRunning, kAuto, kRunning, kAuto),
         [&](FakeUpdatePlatform& fake) {
             stoppedAndDisabled(fake);
             fake.services.services.erase(u"RapiMgr");
         },
         {}, true, kRunning, kAuto, 0, 0},
        {"XP path: the synchronisation link comes back through the helper, written again", xp,
         stoppedAndDisabled, {"shell run wcestest.exe /c:su"}, false, kStopped, kDisabled, kStopped, kDisabled},
        {"XP path: a helper that cannot run keeps the record",
         xp, [&](FakeUpdatePlatform& fake) {
             stoppedAndDisabled(fake);
             fake.shell.fails = true;
         },
         {"shell run wcestest.exe /c:su"}, true, kStopped, kDisabled, kStopped, kDisabled},
        {"XP path: a helper that reports a failure keeps the record",
         xp, [&](FakeUpdatePlatform& fake) {
             stoppedAndDisabled(fake);
             fake.shell.exitCode = 2;
         },
         {"shell run wcestest.exe /c:su"}, true, kStopped, kDisabled, kStopped, kDisabled},
    };
    for (const LeftRow& row : rows) {
        FakeUpdatePlatform fake;
        fake.package.binaries[IDBIN_WCESTEST] = {'M', 'Z'};
        fake.package.texts[IDS_IMAGE_FILE_NAME] = u"Tarn_G4.abi";
        row.arrange(fake);
        fake.record.stored = row.record;
        if (fake.record.stored) fake.record.stored->workFolder = fake.folder / left;
        // What the dead run left in its folder.
        for (const char* name : {"DeviceSpy.exe", "Tarn_G4.abi", "ExtRom.tmp"}) {
            fake.files.files[name] = FakeFiles::File{{1}, true};
        }
        LeftFolders folders(fake.folder);
        ActOnLeftRecord(fake.platform, &folders);

        EXPECT_EQ(fake.log.Matching("shell"), row.shell) << row.what;
        // The private folder the dead run made goes with its files.
        EXPECT_EQ(folders.removed, row.record ? std::vector<std::filesystem::path>{fake.folder / left}
                                              : std::vector<std::filesystem::path>{})
            << row.what;
        for (const auto& program : fake.shell.programs) EXPECT_EQ(program, fake.folder / left / "wcestest.exe");
        EXPECT_EQ(fake.record.stored.has_value(), row.record && row.recordStays) << row.what;
        // The dead run's files go, the helper written for the restore among them.
        EXPECT_EQ(fake.files.files.size(), row.record ? 0u : 3u) << row.what;
        EXPECT_EQ(fake.services.StateOf(u"WcesComm"), row.wcescomm) << row.what;
        EXPECT_EQ(fake.services.services[u"WcesComm"].startType, row.wcescommType) << row.what;
        if (fake.services.services.count(u"RapiMgr")) {
            EXPECT_EQ(fake.services.StateOf(u"RapiMgr"), row.rapimgr) << row.what;
            EXPECT_EQ(fake.services.services[u"RapiMgr"].startType, row.rapimgrType) << row.what;
        }
    }
}

TEST(RunRecord, OnlyAFolderOfTheProgramsOwnMakingIsRemovedOnARecordsWord) {
    for (const char* folder : {"Documents", "Flashwise-0A0B0C0", "Flashwise-0a0b0c0d", "Flashwise-0A0B0C0D/sub"}) {
        FakeUpdatePlatform fake;
        RunRecord record;
        record.services = {{u"WcesComm", kAuto, kRunning}};
        record.workFolder = fake.folder / folder;
        fake.services.services[u"WcesComm"] = Service{kStopped, kDisabled};
        fake.record.stored = record;
        LeftFolders folders(fake.folder);
        ActOnLeftRecord(fake.platform, &folders);
        EXPECT_TRUE(folders.removed.empty()) << folder;
        EXPECT_EQ(fake.services.StateOf(u"WcesComm"), kRunning) << folder;
    }
    // The right name in another place is not one of the program's either.
    FakeUpdatePlatform fake;
    RunRecord record;
    record.desktopLinkReleased = true;
    record.workFolder = fake.folder / "Flashwise-0A0B0C0D";
    fake.record.stored = record;
    LeftFolders folders(fake.folder / "Temp");
    ActOnLeftRecord(fake.platform, &folders);
    EXPECT_TRUE(folders.removed.empty());
    EXPECT_FALSE(fake.record.stored.has_value());
}

}  // namespace
}  // namespace flashwise::test
