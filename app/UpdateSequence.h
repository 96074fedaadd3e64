#pragma once
// The Update command of the update page: writes and checks the image files, starts the
// phone's boot loader, waits for the boot-loader link, runs the download once or, for a phone
// of the older system, twice (the boot-loader image first), shows the progress and ends
// on the finish page or with the failure message. The page closes in every outcome.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "app/PageView.h"
#include "app/WizardSystem.h"
#include "update/NamedEvents.h"
#include "update/Threads.h"
#include "update/UpdateJournal.h"
#include "update/WorkerParameterBlock.h"

namespace flashwise::update {
class CDownloadAgent;
}

namespace flashwise::app {

class ProgressThread;

constexpr char16_t kBootLoaderPassDoneEvent[] = u"DLSPBOOTLAODER";
constexpr char16_t kDownloadErrorEvent[] = u"DLError";
constexpr char16_t kUpdateDoneEvent[] = u"DLThread";

enum class DownloadOutcome { Running, Succeeded, Failed };

// The download thread's block: the pass's done event, "DLError" and the agent.
struct DownloadBlock {
    update::WorkerParameterBlock block;
    update::EventApi* events = nullptr;
    WizardSystem* system = nullptr;
    // Set before the signal: the sequence believes a signal only when it says so.
    std::atomic<DownloadOutcome> outcome{DownloadOutcome::Running};
    // The main pass: a pass that wrote no unit is a failure.
    bool needsUnit = false;
};

// The download thread's body: the driver, then the done or the failure event.
void RunDownloadThread(DownloadBlock& download);

class UpdateSequence {
public:
    // With `recovery`, the phone waits in its boot loader already: it is not sent there
    // again, and the plan says which passes run.
    UpdateSequence(Wizard wizard, PageView& view, std::shared_ptr<update::CDownloadAgent> agent,
                   std::optional<update::RecoveryPlan> recovery = std::nullopt);
    ~UpdateSequence();

    // The handler, from the click until the page is closed.
    void Run();

private:
    enum class Pass { None, BootLoader, Main };

    bool PrepareThePhone();
    bool StartPass(Pass pass, unsigned fileNameId);
    bool StartMainPass();
    // What the wake at `woke` (an event, or the thread's end) says of the pass; Running
    // for a signal the pass's own thread did not give.
    DownloadOutcome PassOutcome(std::size_t woke) const;
    void EndThreads();
    void SuccessExit();
    void FailureExit();

    Wizard wizard_;
    PageView& view_;
    std::shared_ptr<update::CDownloadAgent> agent_;
    update::NamedEvent bootLoaderDone_;
    update::NamedEvent error_;
    update::NamedEvent updateDone_;
    // The two image files, open from their write to the end of the download.
    update::HeldFiles images_;
    Pass pass_ = Pass::None;
    bool newerOs_ = true;
    std::optional<update::RecoveryPlan> recovery_;
    // This run wrote the journal; the phone was sent to (or found in) its boot loader.
    bool journalWritten_ = false;
    bool phoneSent_ = false;
    std::shared_ptr<DownloadBlock> download_;
    std::unique_ptr<update::Worker> downloadThread_;
    bool threadEnded_ = true;
    std::unique_ptr<ProgressThread> progress_;
    std::unique_ptr<SessionHold> hold_;
};

}  // namespace flashwise::app
