#pragma once
// Fakes of a wizard page's window and of what the pages need from the system, logging
// into the update fakes' call log so a test sees pages, phone and files in one order.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/PageView.h"
#include "app/WizardSystem.h"
#include "tests/support/update/FakeUpdatePlatform.h"

namespace flashwise::test {

using app::Answer;
using app::Buttons;

// A page's window. Lines: "page text <id> <text>", "page string <id> <text id>",
// "page enable <id> 0|1", "page texts", "ask <text id>[ filled] ok|okcancel|yesno",
// "page end <result>", "page close".
class FakePageView : public app::PageView {
public:
    explicit FakePageView(CallLog& log) : log_(log) {}

    // The controls' texts ("#<id>" for a string-table text) and states.
    std::map<int, std::u16string> items;
    std::map<int, bool> enabled;
    bool textsShown = false;
    std::optional<int> result;  // set when the page ended
    // Answers by text id, taken in order. A box nobody scripted gets Ok (or Yes) a few
    // times; beyond that it fails the test and ends it, so a box that comes back for
    // ever cannot keep a test running.
    std::map<unsigned, std::deque<Answer>> answers;
    static constexpr int kUnscriptedBoxes = 3;
    // Runs while a box is up, before it is answered (the user may do things meanwhile).
    std::function<void(unsigned textId)> whileAsking;

    bool Enabled(int control) const { return enabled.count(control) ? enabled.at(control) : true; }

    WindowRef Window() const override { return const_cast<FakePageView*>(this); }
    WindowRef Item(int control) const override;
    void SetItemText(int control, std::u16string_view text) override;
    void SetItemToString(int control, unsigned textId) override;
    void EnableItem(int control, bool enable) override;
    void ShowTexts() override;
    Answer Ask(unsigned textId, Buttons buttons, bool fillText) override;
    void End(int code) override;
    void Close() override;

private:
    CallLog& log_;
    std::map<int, int> itemTokens_;
    int unscripted_ = 0;
};

// Thrown by a fake to end a test whose logic would otherwise run for ever.
struct EndlessTest {};

// Lines: "page welcome|update|finish run", "fetch window shown|closed", "progress <n>".
class FakeWizardSystem : public app::WizardSystem {
public:
    FakeWizardSystem(CallLog& log, FakeTicks& ticks) : log_(log), ticks_(ticks) {}

    std::optional<std::uint64_t> memory = std::uint64_t{8} << 30;
    std::uint32_t version = 0x0A280105;  // Windows XP
    std::u16string identity = u"Krov Q512";
    std::u16string language = u"FRA";
    // The download driver's run; by default it succeeds at once, raising the finished flag.
    std::function<bool(update::CDownloadAgent&)> download;
    // Every position the progress bar was sent, with the tick it came at.
    std::vector<std::pair<std::uint32_t, unsigned>> positions;
    // Runs inside the page run, as the page's own modal run would.
    std::function<void()> onUpdatePage;
    std::function<void()> onFinishPage;
    // Whether a session hold is in force now.
    bool sessionHeld = false;

    std::optional<std::uint64_t> TotalPhysicalMemory() override { return memory; }
    std::uint32_t PackedVersion() override { return version; }
    std::u16string ModelIdentity() override { return identity; }
    std::u16string LanguageCode() override { return language; }
    std::unique_ptr<update::WaitWindow> ShowFetchWindow(WindowRef page) override;
    void SetProgressPosition(WindowRef bar, unsigned position) override;
    bool RunDownload(update::CDownloadAgent& agent) override;
    // Lines: "session held", "session released".
    std::unique_ptr<app::SessionHold> HoldSession(WindowRef page) override;
    void RunWelcomePage() override { log_.Add("page welcome run"); }
    void RunUpdatePage() override;
    // Line: "page update run to recover <1 with the boot-loader pass, else 0>".
    void RunUpdatePageToRecover(const update::RecoveryPlan& plan) override;
    void RunFinishPage() override;

private:
    CallLog& log_;
    FakeTicks& ticks_;
};

// The whole wizard's fakes over one update platform.
struct FakeWizard {
    explicit FakeWizard(std::uint32_t startTick = 0) : fake(startTick) {}
    // The scheduler's parked workers unwind while everything they use still lives.
    ~FakeWizard() { fake.scheduler.reset(); }

    app::Wizard Wizard() { return app::Wizard{fake.platform, system}; }

    FakeUpdatePlatform fake;
    FakeWizardSystem system{fake.log, fake.ticks};
    FakePageView view{fake.log};
};

}  // namespace flashwise::test
