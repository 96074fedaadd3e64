// The welcome page: the memory check, the Next command's attempts on the fake clock
// (the 3 s deadline, refusals, input, the probe, the battery) and the Cancel command.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/WelcomePage.h"
#include "res/ResourceIds.h"
#include "tests/support/app/FakeWizard.h"

namespace flashwise::test {
namespace {

using Lines = std::vector<std::string>;

struct WelcomeWorld : FakeWizard {
    explicit WelcomeWorld(std::uint32_t startTick = 0) : FakeWizard(startTick) {
        fake.UseScheduler();
        fake.rapi.rootOpens = true;
        fake.rapi.power = update::RapiPowerStatus{1, 1, 80};
        view.whileAsking = [this](unsigned id) { askedAt.emplace_back(id, fake.ticks.Now()); };
    }
    std::vector<std::pair<unsigned, std::uint32_t>> askedAt;
};

TEST(WelcomePage, MemoryIsCountedIn64Bits) {
    struct Row {
        const char* what;
        std::optional<std::uint64_t> bytes;
        bool refused;
    };
    const Row rows[] = {
        {"8 GiB", std::uint64_t{8} << 30, false},
        {"4 GiB and 10 MiB (10 MiB if it wrapped)", (std::uint64_t{4} << 30) + (10u << 20), false},
        {"exactly 50 MiB", 50u << 20, false},
        {"one byte short of 50 MiB", (50u << 20) - 1, true},
        {"32 MiB", 32u << 20, true},
        {"the system cannot tell", std::nullopt, false},
    };
    for (const Row& row : rows) {
        WelcomeWorld w;
        w.system.memory = row.bytes;
        app::WelcomePage page(w.Wizard(), w.view);
        page.Open();
        EXPECT_EQ(w.view.textsShown, !row.refused) << row.what;
        EXPECT_EQ(w.fake.log.Matching("ask"), row.refused ? Lines{"ask 35 ok"} : Lines{}) << row.what;
    }
}

struct NextRow {
    const char* what;
    std::function<void(WelcomeWorld&)> arrange;
    std::map<unsigned, std::deque<Answer>> answers;
    Lines asks;                       // every box, in order
    std::uint32_t firstQuestionAt;    // tick of the first text 11, when there is one
    std::optional<int> result;        // how the page ended
    bool updatePageRan;
    std::size_t requests;             // CeRapiInitEx calls
};

void Unreachable(WelcomeWorld& w) { w.fake.rapi.initExSignalMs.reset(); }

TEST(WelcomePage, NextTriesWithinOneDeadlineAndHandsOverOrAsks) {
    using A = Answer;
    const NextRow rows[] = {
        {"reachable, 80 %", [](WelcomeWorld&) {}, {}, {}, 0, app::kPageOk, true, 1},
        {"battery 51 % passes", [](WelcomeWorld& w) { w.fake.rapi.power->batteryLifePercent = 51; }, {}, {}, 0,
         app::kPageOk, true, 1},
        {"battery unknown (255) passes",
         [](WelcomeWorld& w) { w.fake.rapi.power->batteryLifePercent = 255; }, {}, {}, 0, app::kPageOk, true, 1},
        {"battery 50 % is refused and ends the program",
         [](WelcomeWorld& w) { w.fake.rapi.power->batteryLifePercent = 50; }, {}, {"ask 38 ok"}, 0,
         app::kPageCancel, false, 1},
        {"battery 0 % is refused", [](WelcomeWorld& w) { w.fake.rapi.power->batteryLifePercent = 0; }, {},
         {"ask 38 ok"}, 0, app::kPageCancel, false, 1},
        {"power status cannot be read: a failed probe, not an empty battery",
         [](WelcomeWorld& w) { w.fake.rapi.power.reset(); }, {{IDS_NO_CONNECTION, {A::Cancel}}},
         {"ask 11 okcancel", "ask 2 yesno"}, 0, app::kPageCancel, false, 1},
        {"connected but the registry probe fails", [](WelcomeWorld& w) { w.fake.rapi.rootOpens = false; },
         {{IDS_NO_CONNECTION, {A::Cancel}}}, {"ask 11 okcancel", "ask 2 yesno"}, 0, app::kPageCancel, false, 1},
        {"unreachable: text 11 after 3 s, OK tries again, Cancel then Yes quits", Unreachable,
         {{IDS_NO_CONNECTION, {A::Ok, A::Cancel}}}, {"ask 11 okcancel", "ask 11 okcancel", "ask 2 yesno"}, 3000,
         app::kPageCancel, false, 2},
        {"unreachable, Cancel then No: back to idle", Unreachable,
         {{IDS_NO_CONNECTION, {A::Cancel}}, {IDS_QUIT_CONFIRMATION, {A::No}}}, {"ask 11 okcancel", "ask 2 yesno"},
         3000, std::nullopt, false, 1},
        {"input every 100 ms does not postpone text 11 nor add requests",
         [](WelcomeWorld& w) {
             Unreachable(w);
             w.fake.scheduler->InputStorm(100, 60000);
         },
         {{IDS_NO_CONNECTION, {A::Cancel}}}, {"ask 11 okcancel", "ask 2 yesno"}, 3000, app::kPageCancel, false, 1},
        {"a phone refusing every 500 ms: closed requests, text 11 after 3 s",
         [](WelcomeWorld& w) {
             w.fake.rapi.initExSignalMs = 500u;
             w.fake.rapi.initExRecord = update::kRapiFail;
         },
         {{IDS_NO_CONNECTION, {A::Cancel}}}, {"ask 11 okcancel", "ask 2 yesno"}, 3000, app::kPageCancel, false, 6},
        {"the request refused outright: text 11 after 3 s all the same",
         [](WelcomeWorld& w) { w.fake.rapi.initExCall = update::kRapiFail; }, {{IDS_NO_CONNECTION, {A::Cancel}}},
         {"ask 11 okcancel", "ask 2 yesno"}, 3000, app::kPageCancel, false, 1},
        {"the phone answers after 2.9 s of mouse moves", [](WelcomeWorld& w) {
             w.fake.rapi.initExSignalMs = 2900u;
             w.fake.scheduler->InputStorm(50, 60000);
         },
         {}, {}, 0, app::kPageOk, true, 1},
    };
    // Each row once from a tick count of 0 and once from just before it wraps.
    for (const std::uint32_t start : {0u, 0xFFFFF000u}) for (const NextRow& row : rows) {
        WelcomeWorld w(start);
        row.arrange(w);
        w.view.answers = row.answers;
        app::WelcomePage page(w.Wizard(), w.view);
        page.Open();

        page.OnNext();

        EXPECT_EQ(w.fake.log.Matching("ask"), row.asks) << row.what;
        for (const auto& asked : w.askedAt) {
            if (asked.first == IDS_NO_CONNECTION) {
                EXPECT_EQ(asked.second - start, row.firstQuestionAt) << row.what;
                break;
            }
        }
        // Next disables both buttons before it tries anything.
        const Lines lines = w.fake.log.Lines();
        const auto firstRequest = std::find(lines.begin(), lines.end(), "rapi InitEx");
        for (const char* line : {"page enable 1004 0", "page enable 2 0"}) {
            EXPECT_LT(std::find(lines.begin(), lines.end(), line), firstRequest) << row.what << ": " << line;
        }
        // The battery is read afresh, never from what the phone last reported.
        for (const std::string& read : w.fake.log.Matching("rapi Power")) EXPECT_EQ(read, "rapi Power refresh");
        EXPECT_EQ(w.view.result, row.result) << row.what;
        EXPECT_EQ(w.fake.log.Count("page update run"), row.updatePageRan ? 1u : 0u) << row.what;
        EXPECT_EQ(w.fake.log.Count("rapi InitEx"), row.requests) << row.what;
        // Each request is closed before the next goes out, and none is left at the end.
        int open = 0;
        for (const std::string& line : w.fake.log.Lines()) {
            if (line == "rapi InitEx") {
                EXPECT_EQ(open++, 0) << row.what;
            }
            if (line == "rapi request released") --open;
        }
        EXPECT_EQ(w.fake.rapi.liveRequests, 0) << row.what;
        EXPECT_EQ(w.fake.rapi.openKeys, 0) << row.what;
        if (row.updatePageRan) {
            // The heading says so before the page ends, and no connection is left open.
            const Lines tail = w.fake.log.Matching("page");
            ASSERT_GE(tail.size(), 3u);
            EXPECT_EQ(Lines(tail.end() - 3, tail.end()),
                      (Lines{"page string 1002 12", "page end 1", "page update run"}))
                << row.what;
        }
    }
}

TEST(WelcomePage, NextRestoresTheDesktopLinkOfThisMachinesPathFirst) {
    WelcomeWorld xp;
    app::WelcomePage(xp.Wizard(), xp.view).OnNext();
    const Lines lines = xp.fake.log.Lines();
    const auto run = std::find(lines.begin(), lines.end(), "shell run wcestest.exe /c:su");
    ASSERT_NE(run, lines.end());
    EXPECT_LT(run - lines.begin(), std::find(lines.begin(), lines.end(), "rapi InitEx") - lines.begin());

    WelcomeWorld vista;
    vista.system.version = 0x1DB10106;
    vista.fake.links.interfacePresent = false;
    vista.fake.services.services[u"WcesComm"] = FakeServices::Service{update::service_state::kStopped};
    vista.fake.services.services[u"RapiMgr"] = FakeServices::Service{update::service_state::kStopped};
    app::WelcomePage(vista.Wizard(), vista.view).OnNext();
    EXPECT_EQ(vista.fake.services.StateOf(u"WcesComm"), update::service_state::kRunning);
    EXPECT_EQ(vista.fake.log.Count("shell run"), 0u);
    EXPECT_EQ(vista.fake.log.Count("page update run"), 1u);
}

// A record of the update the machine last left unfinished.
update::UpdateJournal Left(const WelcomeWorld& w, bool bootLoaderPass, update::JournalPass pass) {
    update::UpdateJournal journal;
    journal.release = u"V3.12.405.2 FRA";
    journal.imageDigest = update::ImageDigest(const_cast<WelcomeWorld&>(w).fake.package);
    journal.bootLoaderPass = bootLoaderPass;
    journal.pass = pass;
    return journal;
}

TEST(WelcomePage, NextTakesUpAPhoneLeftInItsBootLoaderWithoutAskingTheRemoteApi) {
    using update::JournalPass;
    constexpr std::uint32_t kXp = 0x0A280105;
    constexpr std::uint32_t kVista = 0x1DB10106;
    struct Row {
        const char* what;
        std::uint32_t version;
        std::function<void(WelcomeWorld&)> arrange;
        std::deque<Answer> otherRelease;  // answers to text 52
        Lines asks;
        const char* ran;                  // the page run, or nothing
    };
    const auto left = [](bool bootLoaderPass, JournalPass pass) {
        return [bootLoaderPass, pass](WelcomeWorld& w) { w.fake.journal.stored = Left(w, bootLoaderPass, pass); };
    };
    const Row rows[] = {
        {"older system, cut while the phone was sent away: both passes", kXp, left(true, JournalPass::Starting), {},
         {}, "page update run to recover 1"},
        {"older system, cut in the boot-loader pass: both passes", kXp, left(true, JournalPass::BootLoader), {}, {},
         "page update run to recover 1"},
        {"older system, cut in the main pass: the main pass", kXp, left(true, JournalPass::Main), {}, {},
         "page update run to recover 0"},
        {"newer system: the main pass", kXp, left(false, JournalPass::BootLoader), {}, {},
         "page update run to recover 0"},
        {"newer path, with a record: no discovery needed", kVista, left(false, JournalPass::Main), {}, {},
         "page update run to recover 0"},
        {"another release's record, Yes: this release's main pass", kXp,
         [](WelcomeWorld& w) {
             w.fake.journal.stored = Left(w, true, JournalPass::BootLoader);
             w.fake.journal.stored->imageDigest = u"0BADF00D-5042300";
         },
         {Answer::Yes}, {"ask 52 yesno"}, "page update run to recover 0"},
        {"another release's record, No: back to idle, the record kept", kXp,
         [](WelcomeWorld& w) {
             w.fake.journal.stored = Left(w, false, JournalPass::Main);
             w.fake.journal.stored->imageDigest = u"";
         },
         {Answer::No}, {"ask 52 yesno"}, nullptr},
        {"newer path, no record, a boot loader there: the main pass", kVista,
         [](WelcomeWorld& w) { w.fake.links.interfacePresent = true; }, {}, {}, "page update run to recover 0"},
        {"newer path, no record, no boot loader: the phone is asked", kVista,
         [](WelcomeWorld& w) { w.fake.links.interfacePresent = false; }, {}, {}, "page update run"},
        // An unscripted discovery fails the row: the older path never looks.
        {"older path, no record: the phone is asked", kXp, [](WelcomeWorld&) {}, {}, {}, "page update run"},
    };
    for (const Row& row : rows) {
        WelcomeWorld w;
        w.fake.package.binaries[IDBIN_FIRMWARE_IMAGE] = {'F', 'W', 1, 2, 3};
        w.system.version = row.version;
        row.arrange(w);
        const std::optional<update::UpdateJournal> before = w.fake.journal.stored;
        if (!row.otherRelease.empty()) w.view.answers[IDS_OTHER_RELEASE_LEFT] = row.otherRelease;
        app::WelcomePage page(w.Wizard(), w.view);
        page.Open();
        // The idle page says that the last update did not finish.
        EXPECT_EQ(w.view.items[IDC_WELCOME_STATUS], before ? u"#51" : u"") << row.what;
        w.fake.log.Clear();

        page.OnNext();

        EXPECT_EQ(w.fake.log.Matching("ask"), row.asks) << row.what;
        const bool recovers = row.ran != nullptr && std::string(row.ran) != "page update run";
        if (row.ran != nullptr) {
            const Lines tail = w.fake.log.Matching("page");
            ASSERT_GE(tail.size(), 3u) << row.what;
            EXPECT_EQ(Lines(tail.end() - 3, tail.end()), (Lines{"page string 1002 12", "page end 1", row.ran}))
                << row.what;
        } else {
            EXPECT_FALSE(w.view.result.has_value()) << row.what;
            EXPECT_TRUE(w.view.Enabled(IDC_NEXT) && w.view.Enabled(app::kCancelButton)) << row.what;
            EXPECT_EQ(w.view.items[IDC_WELCOME_STATUS], u"#51") << row.what;
        }
        if (row.ran == nullptr || recovers) {
            // Nothing is asked of a phone in its boot loader, and the desktop's link is
            // left to the update, which releases it.
            EXPECT_EQ(w.fake.log.Count("rapi"), 0u) << row.what;
            EXPECT_EQ(w.fake.log.Count("shell"), 0u) << row.what;
            EXPECT_EQ(w.fake.log.Count("service"), 0u) << row.what;
        }
        // The record is the update's to remove, never the welcome page's.
        EXPECT_EQ(w.fake.log.Count("journal"), 0u) << row.what;
        EXPECT_EQ(w.fake.journal.stored.has_value(), before.has_value()) << row.what;
    }
}

TEST(WelcomePage, CancelAsksAndIsDeafWhileNextRuns) {
    // Escape or the close box while Next runs (its buttons disabled), and a second Next.
    WelcomeWorld w;
    Unreachable(w);
    w.view.answers[IDS_NO_CONNECTION] = {Answer::Cancel};
    w.view.answers[IDS_QUIT_CONFIRMATION] = {Answer::No, Answer::Yes};
    app::WelcomePage page(w.Wizard(), w.view);
    w.fake.scheduler->At(1000, [&] {
        page.OnCancel();
        page.OnNext();
    });
    w.view.whileAsking = [&](unsigned id) {
        if (id == IDS_NO_CONNECTION) {
            page.OnCancel();
            page.OnNext();
        }
    };
    page.OnNext();
    EXPECT_EQ(w.fake.log.Matching("ask"), (Lines{"ask 11 okcancel", "ask 2 yesno"}));
    EXPECT_EQ(w.fake.log.Count("rapi InitEx"), 1u);
    // No: the page is idle again, its buttons back and its status line empty.
    EXPECT_FALSE(w.view.result.has_value());
    EXPECT_TRUE(w.view.Enabled(IDC_NEXT));
    EXPECT_TRUE(w.view.Enabled(app::kCancelButton));
    EXPECT_EQ(w.view.items[IDC_WELCOME_STATUS], u"");

    // Now Cancel is live: Yes ends the page and closes it; after that nothing runs.
    w.view.whileAsking = nullptr;
    page.OnCancel();
    EXPECT_EQ(w.view.result, app::kPageCancel);
    EXPECT_EQ(w.fake.log.Matching("page close").size(), 1u);
    page.OnCancel();
    page.OnNext();
    EXPECT_EQ(w.fake.log.Matching("ask").size(), 3u);
    EXPECT_EQ(w.fake.log.Count("rapi InitEx"), 1u);
}

}  // namespace
}  // namespace flashwise::test
