#include "app/UpdateSequence.h"

#include <vector>

#include "app/ProgressThread.h"
#include "app/ResponsiveWaits.h"
#include "res/ResourceIds.h"
#include "update/CDownloadAgent.h"
#include "update/ConnectionSetup.h"
#include "update/HelperDeployment.h"

namespace flashwise::app {

using update::NamedEvent;
using update::Wake;

namespace {
// The order the handler looks at the events in.
constexpr std::size_t kUpdateDone = 0;
constexpr std::size_t kError = 1;
constexpr std::size_t kBootLoaderDone = 2;
constexpr std::size_t kThreadEnd = 3;
}  // namespace

void RunDownloadThread(DownloadBlock& download) {
    // A main pass that sent nothing has updated nothing.
    const bool done = download.system->RunDownload(*download.block.agent) &&
                      (!download.needsUnit || download.block.agent->State().UnitsWritten() > 0);
    download.outcome = done ? DownloadOutcome::Succeeded : DownloadOutcome::Failed;
    download.events->Set(done ? download.block.doneEvent : download.block.failureEvent);
}

UpdateSequence::UpdateSequence(Wizard wizard, PageView& view, std::shared_ptr<update::CDownloadAgent> agent,
                               std::optional<update::RecoveryPlan> recovery)
    : wizard_(wizard),
      view_(view),
      agent_(std::move(agent)),
      // Reset as they are made: a signal left by an earlier run or another program
      // must not skip a pass or end the update.
      bootLoaderDone_(NamedEvent::Create(wizard.platform.events, kBootLoaderPassDoneEvent, false)),
      error_(NamedEvent::Create(wizard.platform.events, kDownloadErrorEvent, false)),
      updateDone_(NamedEvent::Create(wizard.platform.events, kUpdateDoneEvent, false)),
      images_(wizard.platform.files),
      recovery_(recovery) {}

UpdateSequence::~UpdateSequence() { EndThreads(); }

void UpdateSequence::Run() {
    // There is no way back from here: both buttons stay disabled for the page's life.
    view_.EnableItem(IDC_UPDATE, false);
    view_.EnableItem(kCancelButton, false);
    // From the click to every way out the machine stays up and the session stays on.
    hold_ = wizard_.system.HoldSession(view_.Window());
    if (recovery_) agent_->SetNewerOs(recovery_->bootLoaderPass ? 0 : 1);
    newerOs_ = agent_->NewerOs() != 0;
    // A phone found in its boot loader is there whatever happens from here on.
    phoneSent_ = recovery_.has_value();
    // The images are written, held and found whole before the phone is touched: a
    // phone left in its boot loader without a good image could not be reached again.
    if (!bootLoaderDone_.Valid() || !error_.Valid() || !updateDone_.Valid() ||
        !update::ExtractImageFiles(wizard_.platform, view_.Window(), images_) ||
        !update::CheckImageFiles(wizard_.platform, !newerOs_)) {
        return FailureExit();
    }
    // Written before the phone leaves its system: the next start must find a phone that
    // this run leaves in its boot loader, however the run ends.
    if (!update::WriteJournal(wizard_.platform, update::NewJournal(wizard_.platform, !newerOs_))) {
        return FailureExit();
    }
    journalWritten_ = true;
    if (!phoneSent_) {
        if (!PrepareThePhone()) return FailureExit();
        phoneSent_ = true;
    }
    view_.SetItemToString(IDC_UPDATE_INSTRUCTION, IDS_DO_NOT_REMOVE_CABLE);

    // With the newer system there is no boot-loader pass: the main pass starts at once,
    // without a signal someone else could take on the way.
    const bool started = newerOs_ ? StartMainPass()
                                  : StartPass(Pass::BootLoader, IDS_BOOT_LOADER_IMAGE_FILE_NAME);
    if (!started) return FailureExit();
    if (!newerOs_) {
        progress_ = ProgressThread::Start(wizard_.platform, wizard_.system, view_.Item(IDC_UPDATE_PROGRESS));
    }

    for (;;) {
        std::vector<update::WaitHandle> handles{updateDone_.Handle(), error_.Handle(), bootLoaderDone_.Handle()};
        // The pass's thread ending counts as its word: its signal may have been taken by
        // another process, and the wait must not outlive the thread.
        if (!threadEnded_) handles.push_back(downloadThread_->Handle());
        wizard_.platform.waits.DispatchQueued();
        const update::WakeResult woke = wizard_.platform.waits.WaitForHandlesOrInput(handles, update::kWaitForever);
        if (woke.wake == Wake::Input || woke.wake == Wake::TimedOut) continue;
        // A wait that cannot be made would spin for ever: the update cannot go on.
        if (woke.wake == Wake::Failed) return FailureExit();
        if (woke.index == kThreadEnd) threadEnded_ = true;
        const DownloadOutcome outcome = PassOutcome(woke.index);
        if (outcome == DownloadOutcome::Running) continue;
        if (outcome == DownloadOutcome::Failed) return FailureExit();
        if (pass_ == Pass::Main) return SuccessExit();
        // The boot-loader pass is through: the main pass.
        agent_->State().SetFinished(false);
        if (!StartMainPass()) return FailureExit();
    }
}

bool UpdateSequence::StartMainPass() {
    if (!StartPass(Pass::Main, IDS_IMAGE_FILE_NAME)) return false;
    if (newerOs_) progress_ = ProgressThread::Start(wizard_.platform, wizard_.system, view_.Item(IDC_UPDATE_PROGRESS));
    return true;
}

bool UpdateSequence::PrepareThePhone() {
    // Each copy waits up to 3 s for the phone's connection: off this thread, so that
    // the page keeps answering.
    auto deployed = std::make_shared<std::atomic<bool>>(false);
    update::UpdatePlatform* platform = &wizard_.platform;
    RunResponsively(wizard_.platform, [platform, deployed] {
        *deployed = update::DeployHelper(*platform, update::PhoneHelper::DeviceMode) &&
                    update::DeployHelper(*platform, update::PhoneHelper::SysReboot);
    });
    return *deployed;
}

bool UpdateSequence::StartPass(Pass pass, unsigned fileNameId) {
    const std::u16string fileName = wizard_.platform.package.Text(fileNameId);
    // A record that still names an earlier pass only costs the next start that pass again.
    update::NoteJournalPass(wizard_.platform,
                            pass == Pass::Main ? update::JournalPass::Main : update::JournalPass::BootLoader);
    if (!update::SetupConnection(wizard_.platform, agent_.get(), fileName)) return false;
    // The boot-loader pass's thread signalled as its last act; it ends with it.
    if (downloadThread_) update::WaitForFirstHandle(wizard_.platform.waits, {downloadThread_->Handle()});
    download_ = std::make_shared<DownloadBlock>();
    download_->block.progress = view_.Item(IDC_UPDATE_PROGRESS);
    download_->block.doneEvent = pass == Pass::Main ? updateDone_.Handle() : bootLoaderDone_.Handle();
    download_->block.failureEvent = error_.Handle();
    download_->block.agent = agent_.get();
    download_->events = &wizard_.platform.events;
    download_->system = &wizard_.system;
    download_->needsUnit = pass == Pass::Main;
    downloadThread_ = update::StartWorker(wizard_.platform.threads, download_, &RunDownloadThread);
    pass_ = pass;
    threadEnded_ = downloadThread_ == nullptr;
    return downloadThread_ != nullptr;
}

DownloadOutcome UpdateSequence::PassOutcome(std::size_t woke) const {
    // A named event can be signalled by anyone; only what the pass's own thread says
    // counts, and a thread that ended without a word has failed.
    const DownloadOutcome outcome = download_->outcome.load();
    switch (woke) {
    case kUpdateDone:
        return pass_ == Pass::Main && outcome == DownloadOutcome::Succeeded ? outcome : DownloadOutcome::Running;
    case kBootLoaderDone:
        return pass_ == Pass::BootLoader && outcome == DownloadOutcome::Succeeded ? outcome
                                                                                  : DownloadOutcome::Running;
    case kError:
        return outcome == DownloadOutcome::Failed ? outcome : DownloadOutcome::Running;
    default:
        return outcome == DownloadOutcome::Running ? DownloadOutcome::Failed : outcome;
    }
}

void UpdateSequence::EndThreads() {
    if (progress_) progress_->Stop();
    if (downloadThread_) {
        update::WaitForFirstHandle(wizard_.platform.waits, {downloadThread_->Handle()});
        downloadThread_.reset();
    }
    progress_.reset();
}

void UpdateSequence::SuccessExit() {
    if (progress_) progress_->Stop();
    std::shared_ptr<update::CDownloadAgent> agent = agent_;
    RunResponsively(wizard_.platform, [agent] { agent->SetDesktopLink(true, false); });
    EndThreads();
    update::RemoveJournal(wizard_.platform);
    hold_.reset();
    // Their last use is over; the finish page deletes them.
    images_.Release();
    view_.End(kPageOk);
    wizard_.system.RunFinishPage();
}

void UpdateSequence::FailureExit() {
    if (progress_) progress_->Stop();
    EndThreads();
    // The image file is let go, so that nothing keeps it from being deleted.
    if (agent_->Image() != nullptr) agent_->Image()->CloseImage();
    images_.Release();
    std::shared_ptr<update::CDownloadAgent> agent = agent_;
    update::UpdatePlatform* platform = &wizard_.platform;
    RunResponsively(wizard_.platform, [platform, agent] { update::CleanUpAfterFailure(*platform, *agent); });
    // A phone that never left its system needs nothing from the next start.
    if (journalWritten_ && !phoneSent_) update::RemoveJournal(wizard_.platform);
    // The phone is no longer written: the machine may sleep while the message waits.
    hold_.reset();
    view_.Ask(IDS_FAIL_TO_UPDATE, Buttons::Ok);
    // The phone cannot start its system now: the user must know how to get it back.
    if (phoneSent_) view_.Ask(IDS_PHONE_IN_UPDATE_MODE, Buttons::Ok, true);
    view_.End(kPageOk);
}

}  // namespace flashwise::app
