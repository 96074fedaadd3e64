#include "app/UpdatePage.h"

#include "app/ResponsiveWaits.h"
#include "app/UpdateSequence.h"
#include "app/VersionFetch.h"
#include "res/ResourceIds.h"
#include "update/CDownloadAgent.h"
#include "update/HelperDeployment.h"
#include "update/RapiConnection.h"

namespace flashwise::app {

using update::Wake;

UpdatePage::UpdatePage(Wizard wizard, PageView& view, std::optional<update::RecoveryPlan> recovery)
    : wizard_(wizard),
      view_(view),
      recovery_(recovery),
      agent_(update::NewDownloadAgent(wizard.platform, wizard.system.PackedVersion())) {}

UpdatePage::~UpdatePage() {
    if (fetch_) fetch_->Abandon();
}

void UpdatePage::Open() {
    view_.EnableItem(IDC_UPDATE, false);
    view_.EnableItem(kCancelButton, false);
    // A phone in its boot loader has nothing to tell: there is no fetch to wait for.
    if (!recovery_) fetchWindow_ = wizard_.system.ShowFetchWindow(view_.Window());
    if (!update::ExtractHelperFiles(wizard_.platform)) {
        fetchWindow_.reset();
        // Nothing can go on without the helpers: none of them stays half written, and
        // the user can at least leave.
        update::DeleteHelperFiles(wizard_.platform);
        view_.SetItemToString(kCancelButton, IDS_CANCEL);
        view_.EnableItem(kCancelButton, true);
        state_ = State::Stuck;
        return;
    }
    if (recovery_) {
        view_.ShowTexts();
        state_ = State::Recovering;
        return;
    }
    StartFetch();
    view_.ShowTexts();
    RunFetchWait();
}

void UpdatePage::StartFetch() {
    fetch_ = std::make_shared<VersionFetch>(wizard_.platform, wizard_.system.ModelIdentity(),
                                            wizard_.system.LanguageCode());
    // Without its events the worker could never report: the wait's timeout then decides.
    if (fetch_->Valid()) worker_ = update::StartWorker(wizard_.platform.threads, fetch_, &RunVersionFetch);
}

void UpdatePage::RunFetchWait() {
    std::vector<update::WaitHandle> handles = fetch_->Valid() ? fetch_->Events() : std::vector<update::WaitHandle>{};
    // The worker's end wakes the wait too: a signal someone else took must not leave the
    // page waiting for one that will never come again.
    if (worker_) handles.push_back(worker_->Handle());
    for (;;) {
        const Round round = WaitForTheWorker(handles);
        if (round == Round::Signal) return;
        if (round == Round::Failed) {
            // A wait that cannot be made would spin: the user decides, and the wait ends.
            AskAfterTimeout(true);
            return;
        }
        const Reach reach = ProbeAfterTimeout();
        if (reach == Reach::Reachable) {
            // A result the worker handed over during the probe wins over the timeout.
            if (const std::optional<FetchSignal> signal = fetch_->Settle()) return TakeSignal(*signal);
            view_.SetItemToString(IDC_CURRENT_ROM_VERSION, IDS_FAIL_TO_GET_VERSION);
            view_.SetItemToString(IDC_CURRENT_RADIO_VERSION, IDS_FAIL_TO_GET_VERSION);
            BecomeReady();
            return;
        }
        if (const std::optional<FetchSignal> signal = fetch_->Delivered()) return TakeSignal(*signal);
        if (AskAfterTimeout(reach == Reach::WaitFailed)) return;
    }
}

UpdatePage::Round UpdatePage::WaitForTheWorker(std::vector<update::WaitHandle>& handles) {
    // One deadline per round: input does not start it again, nor does a signal that
    // did not come from the worker.
    const Deadline deadline(wizard_.platform.ticks, kFetchWaitMs);
    for (;;) {
        const update::WakeResult woke = WaitBefore(wizard_.platform, deadline, handles);
        if (woke.wake == Wake::TimedOut) return Round::TimedOut;
        if (woke.wake != Wake::Handle) return Round::Failed;
        if (const std::optional<FetchSignal> signal = fetch_->Delivered()) {
            TakeSignal(*signal);
            return Round::Signal;
        }
        // The worker ended without a word (the timeout decides), or the signal was
        // another process's: wait on.
        if (worker_ && handles[woke.index] == worker_->Handle()) handles.erase(handles.begin() + woke.index);
    }
}

void UpdatePage::TakeSignal(FetchSignal signal) {
    switch (signal) {
    case FetchSignal::Done:
        ShowVersions(fetch_->Versions());
        BecomeReady();
        return;
    case FetchSignal::WrongDevice:
        StopFetching();
        view_.Ask(IDS_WRONG_MODEL, Buttons::Ok, true);
        GoBack();
        return;
    case FetchSignal::WrongLanguage:
        // The versions are shown behind the warning.
        ShowVersions(fetch_->Versions());
        StopFetching();
        view_.Ask(IDS_WRONG_LANGUAGE, Buttons::Ok);
        GoBack();
        return;
    }
}

void UpdatePage::ShowVersions(const PhoneVersions& versions) {
    if (versions.rom) view_.SetItemText(IDC_CURRENT_ROM_VERSION, *versions.rom);
    if (versions.radio) view_.SetItemText(IDC_CURRENT_RADIO_VERSION, *versions.radio);
    if (versions.newerOs) agent_->SetNewerOs(*versions.newerOs);
}

void UpdatePage::BecomeReady() {
    // The worker is done, or too late to count from here on.
    fetch_->Abandon();
    fetchWindow_.reset();
    view_.EnableItem(IDC_UPDATE, true);
    view_.EnableItem(kCancelButton, true);
    state_ = State::Ready;
}

UpdatePage::Reach UpdatePage::ProbeAfterTimeout() {
    update::RapiApi& rapi = wizard_.platform.rapi;
    rapi.Uninit();
    update::RapiConnection request = update::RapiConnection::Request(rapi);
    // Refused outright: as unreachable as a phone that does not answer.
    if (!request.Started()) return Reach::Unreachable;
    // As long as the welcome page gives the phone: a connected phone needs more than a
    // moment to answer on a busy desktop, and must not be taken for a missing one.
    const Deadline deadline(wizard_.platform.ticks, kReachWaitMs);
    switch (WaitBefore(wizard_.platform, deadline, {request.ReadyEvent()}).wake) {
    case Wake::Handle:
        break;
    case Wake::Failed:
        return Reach::WaitFailed;
    default:
        return Reach::Unreachable;
    }
    update::RapiKey root = nullptr;
    if (rapi.OpenPhoneKey(update::RapiLocalMachine(), u"", &root) != update::kRapiErrorSuccess) {
        return Reach::Unreachable;
    }
    rapi.ClosePhoneKey(root);
    return Reach::Reachable;
}

bool UpdatePage::AskAfterTimeout(bool mustEnd) {
    const Answer answer = view_.Ask(IDS_NO_CONNECTION, Buttons::OkCancel);
    fetchWindow_.reset();
    if (answer == Answer::Ok || (answer != Answer::Cancel && mustEnd)) {
        GoBack();
        return true;
    }
    if (answer != Answer::Cancel) return false;
    if (view_.Ask(IDS_QUIT_CONFIRMATION, Buttons::YesNo) == Answer::Yes) {
        Quit();
    } else {
        // Back like every other way back: the helper files go too.
        GoBack();
    }
    return true;
}

void UpdatePage::StopFetching() {
    fetch_->Abandon();
    fetchWindow_.reset();
}

void UpdatePage::GoBack() {
    StopFetching();
    state_ = State::Ended;
    update::DeleteHelperFiles(wizard_.platform);
    view_.End(kPageOk);
    wizard_.system.RunWelcomePage();
}

void UpdatePage::Quit() {
    StopFetching();
    state_ = State::Ended;
    view_.End(kPageCancel);
    update::DeleteHelperFiles(wizard_.platform);
    view_.Close();
}

void UpdatePage::OnUpdate() {
    if (state_ == State::Recovering) {
        state_ = State::Busy;
        UpdateSequence(wizard_, view_, agent_, recovery_).Run();
        state_ = State::Ended;
        return;
    }
    if (state_ != State::Ready) return;
    state_ = State::Busy;
    // A worker that came back after the timeout still tells a phone of the older
    // system, which needs its boot-loader pass; from here on nothing it says counts.
    if (fetch_) {
        if (const std::optional<std::uint32_t> newerOs = fetch_->SealNewerOs()) agent_->SetNewerOs(*newerOs);
    }
    UpdateSequence sequence(wizard_, view_, agent_);
    sequence.Run();
    state_ = State::Ended;
}

void UpdatePage::OnCancel() {
    if (state_ != State::Ready && state_ != State::Stuck) return;
    const State before = state_;
    state_ = State::Busy;
    const bool quit = update::CancelUpdatePage(
        wizard_.platform, view_.Window(),
        [this] {
            state_ = State::Ended;
            view_.End(kPageCancel);
        },
        [this] { view_.Close(); });
    if (!quit) state_ = before;
}

}  // namespace flashwise::app
