// The wait for the boot-loader link: attempts once a second for a minute on the tick
// clock (a wrap included), the last attempt with messages, the events, the window and
// the end of the connection thread before SetupConnection returns.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/support/update/FakeUpdatePlatform.h"
#include "update/CDownloadAgent.h"
#include "update/ConnectionSetup.h"

namespace flashwise::test {
namespace {

using Service = FakeServices::Service;

struct Row {
    const char* what;
    std::uint32_t startTick;
    bool vista;
    std::u16string fileName;
    std::function<void(FakeUpdatePlatform&)> arrange;
    bool result;
    std::size_t releases;      // XP: helper runs; Vista: stop requests to WcesComm
    std::uint32_t elapsedMs;
    std::vector<std::string> messages;
};

std::function<void(FakeUpdatePlatform&)> LinkOpensFrom(std::uint32_t startTick, std::uint32_t ms) {
    return [=](FakeUpdatePlatform& f) {
        f.links.opens = [&f, startTick, ms] { return TicksSince(startTick, f.ticks.Now()) >= ms; };
    };
}

TEST(SetupConnection, AttemptsOnceASecondForAMinuteThenOnceMore) {
    constexpr std::uint32_t kNearWrap = 0xFFFFFFFFu - 29999u;
    const auto never = [](FakeUpdatePlatform&) {};
    const Row rows[] = {
        {"already in its boot loader", 0, false, u"Tarn_G4.abi", LinkOpensFrom(0, 0), true, 1, 1000, {}},
        {"boot loader after 30 s", 0, false, u"Tarn_G4.abi", LinkOpensFrom(0, 30000), true, 30, 30000, {}},
        {"never appears", 0, false, u"Tarn_G4.abi", never, false, 61, 60000, {}},
        {"never appears, the tick count wraps", kNearWrap, false, u"Tarn_G4.abi", never, false, 61, 60000, {}},
        {"appears just after the wrap", kNearWrap, false, u"Tarn_G4.abi", LinkOpensFrom(kNearWrap, 31000), true, 31,
         31000, {}},
        {"empty file name never opens anything", 0, false, u"", LinkOpensFrom(0, 0), false, 61, 60000, {}},
        {"Vista: WcesComm stops in 13 s, a later attempt passes", 0, true, u"Tarn_G4.abi",
         [](FakeUpdatePlatform& f) {
             LinkOpensFrom(0, 0)(f);
             f.services.services[u"WcesComm"].stopDelayMs = 13000;
         },
         true, 1, 15000, {}},
        {"Vista: WcesComm refuses, the last attempt says so", 0, true, u"Tarn_G4.abi",
         [](FakeUpdatePlatform& f) {
             LinkOpensFrom(0, 0)(f);
             f.services.services[u"WcesComm"].refuseStop = true;
         },
         false, 122, 60000, {"message 41 on top"}},
        {"Vista: never appears, both services released once", 0, true, u"Tarn_G4.abi", never, false, 1, 60000, {}},
    };
    for (const Row& row : rows) {
        FakeUpdatePlatform fake(row.startTick);
        fake.WriteImageFile("Tarn_G4.abi");
        fake.services.services[u"WcesComm"] = Service{};
        fake.services.services[u"RapiMgr"] = Service{};
        row.arrange(fake);
        const std::unique_ptr<CDownloadAgent> agent =
            NewDownloadAgent(fake.platform, row.vista ? 0x1DB10106u : 0x0A280105u);

        EXPECT_EQ(SetupConnection(fake.platform, agent.get(), row.fileName), row.result) << row.what;

        const std::size_t releases = row.vista ? fake.log.Count("service Control WcesComm")
                                               : fake.log.Count("shell run wcestest.exe /c:");
        EXPECT_EQ(releases, row.releases) << row.what;
        EXPECT_EQ(TicksSince(row.startTick, fake.ticks.Now()), row.elapsedMs) << row.what;
        EXPECT_EQ(fake.log.Matching("message"), row.messages) << row.what;
        EXPECT_EQ(agent->Image() != nullptr && agent->Image()->IsOpen(), row.result) << row.what;
        EXPECT_EQ(fake.events.OpenHandles(), 0) << row.what;
    }
}

TEST(SetupConnection, WindowEventsAndThreadInTheirOrder) {
    FakeUpdatePlatform fake;
    fake.WriteImageFile("Tarn_G4.abi");
    LinkOpensFrom(0, 0)(fake);
    fake.waits.inputWakes = 2;
    CDownloadAgent agent(fake.platform);
    ASSERT_TRUE(SetupConnection(fake.platform, &agent, u"Tarn_G4.abi"));
    const std::vector<std::string> expected{
        "window shown", "event Create SetupConnectionSuccess", "event Create SetupConnectionFail", "thread start",
        // The desktop helper is written and checked, run, let go of and deleted.
        "record saved", "file Delete wcestest.exe", "file Create wcestest.exe", "file Close wcestest.exe", "shell run wcestest.exe /c:",
        "file Close wcestest.exe", "file Delete wcestest.exe",
        "link made serial", "link Open serial ok", "event Set SetupConnectionSuccess", "thread end",
        // Input is dispatched round after round until the signal is seen.
        "ui dispatch", "ui wake input", "ui dispatch", "ui wake input", "ui dispatch", "ui wake SetupConnectionSuccess",
        // Then the thread's end, so that a pass that follows at once finds none running.
        "ui dispatch", "ui wake thread", "thread handle closed", "window destroyed"};
    EXPECT_EQ(fake.log.Lines(), expected);
}

TEST(SetupConnection, SignalsLeftByAnEarlierPassAreNotTakenForThisOne) {
    struct StaleRow {
        const char* what;
        const char16_t* staleEvent;
        bool linkOpens;
        bool result;
    };
    const StaleRow rows[] = {{"stale success, link never opens", kSetupSuccessEvent, false, false},
                             {"stale failure, link opens", kSetupFailEvent, true, true}};
    for (const StaleRow& row : rows) {
        FakeUpdatePlatform fake;
        fake.WriteImageFile("Tarn_G4.abi");
        fake.links.opens = [&] { return row.linkOpens; };
        fake.events.SignalFromOutside(row.staleEvent);
        CDownloadAgent agent(fake.platform);
        EXPECT_EQ(SetupConnection(fake.platform, &agent, u"Tarn_G4.abi"), row.result) << row.what;
    }
}

TEST(SetupConnection, NothingToWaitFor) {
    FakeUpdatePlatform fake;
    EXPECT_FALSE(SetupConnection(fake.platform, nullptr, u"Tarn_G4.abi"));
    EXPECT_TRUE(fake.log.Lines().empty());

    fake.threads.fails = true;
    CDownloadAgent agent(fake.platform);
    EXPECT_FALSE(SetupConnection(fake.platform, &agent, u"Tarn_G4.abi"));
    EXPECT_EQ(fake.log.Lines().back(), "window destroyed");
    EXPECT_EQ(fake.events.OpenHandles(), 0);
}

}  // namespace
}  // namespace flashwise::test
