// The update page's opening on the fake clock: the helper files, the fetch and its
// wait with every outcome, the late worker, and the Cancel command.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/UpdatePage.h"
#include "app/VersionFetch.h"
#include "res/ResourceIds.h"
#include "tests/support/app/FakeWizard.h"
#include "update/CDownloadAgent.h"

namespace flashwise::test {
namespace {

using Lines = std::vector<std::string>;
// The phone-side helpers: the desktop helper is written only around its own runs.
const std::vector<std::string> kHelpers{"DeviceMode.exe", "DeviceSpy.exe", "SysReboot.exe"};

struct PageWorld : FakeWizard {
    explicit PageWorld(std::uint32_t startTick = 0) : FakeWizard(startTick) {
        fake.UseScheduler();
        for (unsigned id : {IDBIN_SYSREBOOT, IDBIN_DEVICESPY, IDBIN_DEVICEMODE, IDBIN_WCESTEST}) {
            fake.package.binaries[id] = {'M', 'Z', static_cast<std::uint8_t>(id)};
        }
        fake.rapi.rootOpens = true;
        fake.rapi.sysVersion = std::map<std::u16string, std::vector<std::uint8_t>>{
            {u"ID", PhoneString(u"Krov Q512")},
            {u"vROM", PhoneString(u"V1.22.333 FRA")},
            {u"vRadio", PhoneString(u"V4.5.6_2008-01-02")},
            {u"vExtROM", PhoneString(u"V1.22.333 FRA")}};
        fake.rapi.version = update::RapiVersion{5, 1, 0, 3};
        view.whileAsking = [this](unsigned) { askedAt.push_back(fake.ticks.Now()); };
    }
    std::vector<std::string> Helpers() const {
        std::vector<std::string> present;
        for (const auto& file : fake.files.files) present.push_back(file.first);
        return present;
    }
    std::vector<std::uint32_t> askedAt;
};

void Hangs(PageWorld& w) { w.fake.rapi.initHangs = true; }
void HangsUnreachable(PageWorld& w) {
    Hangs(w);
    w.fake.rapi.initExSignalMs.reset();
}

struct Row {
    const char* what;
    std::function<void(PageWorld&)> arrange;
    std::map<unsigned, std::deque<Answer>> answers;
    Lines asks;
    bool ready;                    // Update and Cancel enabled at the end of the opening
    std::optional<int> result;     // how the page ended
    bool welcomeAgain;
    std::u16string romLabel;       // label 1007 afterwards
    std::uint32_t newerOs;         // the agent's flag afterwards
    std::uint32_t askedAt = 13000;  // the first text 11, when there is one
    std::uint32_t readyAt = 0;      // when the page became ready (0: not checked)
};

// The worker hangs until `ms`, then reads the phone.
std::function<void(PageWorld&)> HangsUntil(std::uint32_t ms) {
    return [ms](PageWorld& w) {
        Hangs(w);
        w.fake.scheduler->At(ms, [&w] { w.fake.rapi.initHangs = false; });
    };
}

TEST(UpdatePage, TheFetchWaitEndsInEachOfItsOutcomes) {
    using A = Answer;
    const std::u16string rom = u"V1.22.333 FRA";
    const Row rows[] = {
        {"the right phone", [](PageWorld&) {}, {}, {}, true, std::nullopt, false, rom, 0},
        {"the right phone on the newer system",
         [](PageWorld& w) { w.fake.rapi.version->minor = 2; }, {}, {}, true, std::nullopt, false, rom, 1},
        {"another model", [](PageWorld& w) { (*w.fake.rapi.sysVersion)[u"ID"] = PhoneString(u"Krov Q999"); }, {},
         {"ask 31 filled ok"}, false, app::kPageOk, true, u"", 1},
        {"another language: versions behind the warning",
         [](PageWorld& w) { (*w.fake.rapi.sysVersion)[u"vExtROM"] = PhoneString(u"V1.22.333 ENG"); }, {},
         {"ask 34 ok"}, false, app::kPageOk, true, rom, 1},
        {"the worker hangs, the phone is reachable: text 17 after 10 s", Hangs, {}, {}, true, std::nullopt, false,
         u"#17", 1},
        {"the worker hangs and mouse moves do not postpone the 10 s",
         [](PageWorld& w) {
             Hangs(w);
             w.fake.scheduler->InputStorm(100, 60000);
         },
         {}, {}, true, std::nullopt, false, u"#17", 1},
        {"the worker hangs, the phone takes 2.9 s to answer: still reachable",
         [](PageWorld& w) {
             Hangs(w);
             w.fake.rapi.initExSignalMs = 2900u;
         },
         {}, {}, true, std::nullopt, false, u"#17", 1},
        {"unreachable, OK: back", HangsUnreachable, {}, {"ask 11 okcancel"}, false, app::kPageOk, true, u"", 1},
        {"unreachable, Cancel, Yes: the program ends", HangsUnreachable, {{IDS_NO_CONNECTION, {A::Cancel}}},
         {"ask 11 okcancel", "ask 2 yesno"}, false, app::kPageCancel, false, u"", 1},
        {"unreachable, Cancel, No: back", HangsUnreachable,
         {{IDS_NO_CONNECTION, {A::Cancel}}, {IDS_QUIT_CONFIRMATION, {A::No}}}, {"ask 11 okcancel", "ask 2 yesno"},
         false, app::kPageOk, true, u"", 1},
        {"unreachable, the box cannot be shown: another round, then OK", HangsUnreachable,
         {{IDS_NO_CONNECTION, {A::None, A::Ok}}}, {"ask 11 okcancel", "ask 11 okcancel"}, false, app::kPageOk, true,
         u"", 1},
        {"signals left by another program do not count",
         [](PageWorld& w) {
             w.fake.events.SignalFromOutside(app::kWrongDeviceEvent);
             w.fake.events.SignalFromOutside(app::kFetchDoneEvent);
         },
         {}, {}, true, std::nullopt, false, rom, 0},
        {"another program's GetVersionThread while the worker reads: ready only with the worker's result",
         [](PageWorld& w) {
             HangsUntil(6000)(w);
             w.fake.scheduler->At(2000, [&w] { w.fake.events.SignalFromOutside(app::kFetchDoneEvent); });
             w.fake.scheduler->At(4000, [&w] { EXPECT_FALSE(w.view.Enabled(IDC_UPDATE)); });
         },
         // Let through at 6 s, the worker reads a second after starting its helper.
         {}, {}, true, std::nullopt, false, rom, 0, 0, 7000},
        {"the worker's signal taken by another program: its end counts, not the timeout",
         [](PageWorld& w) { w.fake.events.takenByOthers = {app::kFetchDoneEvent}; }, {}, {}, true, std::nullopt,
         false, rom, 0, 0, 1000},
        {"the worker's result comes during the probe after the timeout: it wins", [](PageWorld& w) {
             HangsUntil(11000)(w);
             w.fake.rapi.initExSignalMs = 2900u;
         },
         {}, {}, true, std::nullopt, false, rom, 0, 0, 12900},
        {"the request refused outright after the timeout: asked as for no phone",
         [](PageWorld& w) {
             Hangs(w);
             w.fake.rapi.initExCall = update::kRapiFail;
         },
         {}, {"ask 11 okcancel"}, false, app::kPageOk, true, u"", 1, 10000},
        {"the fetch wait fails: asked once, and it ends whatever the answer",
         [](PageWorld& w) {
             Hangs(w);
             w.fake.waits.failingWaits = {0};
         },
         {{IDS_NO_CONNECTION, {A::None}}}, {"ask 11 okcancel"}, false, app::kPageOk, true, u"", 1, 0},
        {"the probe's wait fails: asked once, and it ends whatever the answer",
         [](PageWorld& w) {
             Hangs(w);
             w.fake.waits.failingWaits = {1};
         },
         {{IDS_NO_CONNECTION, {A::None}}}, {"ask 11 okcancel"}, false, app::kPageOk, true, u"", 1, 10000},
    };
    // Each row once from a tick count of 0 and once from just before it wraps.
    for (const std::uint32_t start : {0u, 0xFFFFE000u}) for (const Row& row : rows) {
        PageWorld w(start);
        row.arrange(w);
        w.view.answers = row.answers;
        app::UpdatePage page(w.Wizard(), w.view);
        page.Open();

        EXPECT_EQ(w.fake.log.Matching("ask"), row.asks) << row.what;
        EXPECT_EQ(w.view.Enabled(IDC_UPDATE), row.ready) << row.what;
        EXPECT_EQ(w.view.Enabled(app::kCancelButton), row.ready) << row.what;
        EXPECT_EQ(w.view.result, row.result) << row.what;
        EXPECT_EQ(w.fake.log.Count("page welcome run"), row.welcomeAgain ? 1u : 0u) << row.what;
        EXPECT_EQ(w.view.items[IDC_CURRENT_ROM_VERSION], row.romLabel) << row.what;
        if (row.romLabel == u"#17") {
            EXPECT_EQ(w.view.items[IDC_CURRENT_RADIO_VERSION], u"#17") << row.what;
        }
        EXPECT_EQ(page.Agent().NewerOs(), row.newerOs) << row.what;
        EXPECT_TRUE(w.view.textsShown) << row.what;
        // The fetch window goes on every way out, and before the buttons come on.
        const Lines lines = w.fake.log.Lines();
        const auto closed = std::find(lines.begin(), lines.end(), "fetch window closed");
        ASSERT_NE(closed, lines.end()) << row.what;
        if (row.ready) {
            EXPECT_LT(closed - lines.begin(),
                      std::find(lines.begin(), lines.end(), "page enable 1001 1") - lines.begin())
                << row.what;
            EXPECT_EQ(w.Helpers(), kHelpers) << row.what;
        } else {
            EXPECT_EQ(w.Helpers(), std::vector<std::string>{}) << row.what;
        }
        // 10 s for the worker, then 3 s for the phone to answer.
        if (!row.asks.empty() && row.asks[0] == "ask 11 okcancel") {
            EXPECT_EQ(w.askedAt.front() - start, row.askedAt) << row.what;
        }
        if (row.romLabel == u"#17") {
            EXPECT_EQ(w.fake.ticks.Now() - start, 10000 + *w.fake.rapi.initExSignalMs) << row.what;
        }
        if (row.readyAt != 0) {
            EXPECT_EQ(w.fake.ticks.Now() - start, row.readyAt) << row.what;
        }
    }
}

TEST(UpdatePage, ALateWorkerWritesAndSignalsNothingIntoTheNextPage) {
    PageWorld w;
    Hangs(w);
    {
        app::UpdatePage first(w.Wizard(), w.view);
        first.Open();
        ASSERT_TRUE(w.view.Enabled(IDC_UPDATE));
        EXPECT_EQ(first.Agent().NewerOs(), 1u);
    }
    // The first page's worker is still blocked; the phone now lets both through. The
    // first one's read (of a 5.1 phone) must not wake the second page early.
    w.fake.rapi.initHangs = false;
    w.fake.rapi.version->minor = 2;
    FakePageView second(w.fake.log);
    app::UpdatePage page(w.Wizard(), second);
    page.Open();
    EXPECT_EQ(w.fake.log.Count("event Set GetVersionThread"), 1u);
    EXPECT_EQ(second.items[IDC_CURRENT_ROM_VERSION], u"V1.22.333 FRA");
    EXPECT_EQ(page.Agent().NewerOs(), 1u);
    EXPECT_EQ(w.view.items[IDC_CURRENT_ROM_VERSION], u"#17");
    w.fake.scheduler->RunUntilIdle();
    EXPECT_EQ(w.fake.scheduler->Alive(), 0);
    EXPECT_EQ(w.fake.log.Count("event Set"), 1u);
}

TEST(UpdatePage, AWorkerLateForThePageStillTellsAPhoneOfTheOlderSystem) {
    for (const std::uint32_t minor : {1u, 2u}) {
        PageWorld w;
        Hangs(w);
        app::UpdatePage page(w.Wizard(), w.view);
        page.Open();
        ASSERT_TRUE(w.view.Enabled(IDC_UPDATE));
        EXPECT_EQ(page.Agent().NewerOs(), 1u);
        // The worker gets through after the page gave up: labels and signals stay its own.
        w.fake.rapi.version->minor = minor;
        w.fake.rapi.initHangs = false;
        w.fake.scheduler->RunUntilIdle();
        EXPECT_EQ(w.view.items[IDC_CURRENT_ROM_VERSION], u"#17");
        // A 5.1 phone gets its boot-loader pass (the update then fails here for want of a phone).
        page.OnUpdate();
        EXPECT_EQ(page.Agent().NewerOs(), minor == 1 ? 0u : 1u) << minor;
        EXPECT_EQ(w.fake.log.Matching("ask 18"), Lines{"ask 18 ok"});
    }
}

TEST(UpdatePage, HelperFilesThatCannotBeWrittenLeaveNothingAndAWayOut) {
    PageWorld w;
    w.fake.files.writeErrors["DeviceMode.exe"] = 112;
    app::UpdatePage page(w.Wizard(), w.view);
    page.Open();
    EXPECT_FALSE(w.view.textsShown);
    EXPECT_EQ(w.fake.log.Count("thread start"), 0u);
    EXPECT_EQ(w.fake.log.Count("fetch window closed"), 1u);
    EXPECT_EQ(w.Helpers(), std::vector<std::string>{});
    EXPECT_FALSE(w.view.Enabled(IDC_UPDATE));
    ASSERT_TRUE(w.view.Enabled(app::kCancelButton));
    EXPECT_EQ(w.view.items[app::kCancelButton], u"#137");

    page.OnUpdate();
    EXPECT_EQ(w.fake.log.Count("download"), 0u);
    page.OnCancel();
    EXPECT_EQ(w.fake.log.Matching("confirm"), Lines{"confirm 2 owned"});
    EXPECT_EQ(w.view.result, app::kPageCancel);
}

TEST(UpdatePage, CancelIsDeafWhileItsButtonIsDisabledAndAsksOnceReady) {
    PageWorld w;
    Hangs(w);
    app::UpdatePage page(w.Wizard(), w.view);
    // Escape, the close box and Update while the fetch runs.
    w.fake.scheduler->At(4000, [&] {
        page.OnCancel();
        page.OnUpdate();
    });
    page.Open();
    EXPECT_EQ(w.fake.log.Count("confirm"), 0u);
    EXPECT_EQ(w.fake.log.Count("download"), 0u);

    w.fake.messages.answerYes = false;
    page.OnCancel();
    EXPECT_FALSE(w.view.result.has_value());
    EXPECT_EQ(w.Helpers(), kHelpers);

    w.fake.messages.answerYes = true;
    page.OnCancel();
    EXPECT_EQ(w.view.result, app::kPageCancel);
    EXPECT_EQ(w.Helpers(), std::vector<std::string>{});
    EXPECT_EQ(w.fake.log.Count("page close"), 1u);
    page.OnCancel();
    EXPECT_EQ(w.fake.log.Count("confirm"), 2u);
}

}  // namespace
}  // namespace flashwise::test
