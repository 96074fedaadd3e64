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

UpdatePage::UpdatePage(Wizard wizard, PageView& view)
    : wizard_(wizard),
      view_(view),
      agent_(update::NewDownloadAgent(wizard.platform, wizard.system.PackedVersion())) {}

UpdatePage::~UpdatePage() {
    if (fetch_) fetch_->Abandon();
}

void UpdatePage::Open() {
    view_.EnableItem(IDC_UPDATE, false);
    view_.EnableItem(kCancelButton, false);
    fetchWindow_ = wizard_.system.ShowFetchWindow(view_.Window());
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
    const std::vector<update::WaitHandle> events = fetch_->Valid() ? fetch_->Events() : std::vector<update::WaitHandle>{};
    for (;;) {
        // One deadline per round: input does not start it again.
        const Deadline deadline(wizard_.platform.ticks, kFetchWaitMs);
        const update::WakeResult woke = WaitBefore(wizard_.platform, deadline, events);
        if (woke.wake == Wake::Handle) {
            switch (woke.index) {
            case 0:
                ShowVersions(fetch_->Versions());
                BecomeReady();
                return;
            case 1:
                StopFetching();
                view_.Ask(IDS_WRONG_MODEL, Buttons::Ok, true);
                GoBack();
                return;
            default:
                // The versions are shown behind the warning.
                ShowVersions(fetch_->Versions());
                StopFetching();
                view_.Ask(IDS_WRONG_LANGUAGE, Buttons::Ok);
                GoBack();
                return;
            }
        }
        switch (ProbeAfterTimeout()) {
        case Reach::Reachable:
            view_.SetItemToString(IDC_CURRENT_ROM_VERSION, IDS_FAIL_TO_GET_VERSION);
            view_.SetItemToString(IDC_CURRENT_RADIO_VERSION, IDS_FAIL_TO_GET_VERSION);
            BecomeReady();
            return;
        case Reach::WaitFailed:
            continue;
        case Reach::Unreachable:
            if (AskAfterTimeout()) return;
            continue;
        }
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
    if (!request.Started()) return Reach::WaitFailed;
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

bool UpdatePage::AskAfterTimeout() {
    const Answer answer = view_.Ask(IDS_NO_CONNECTION, Buttons::OkCancel);
    fetchWindow_.reset();
    if (answer == Answer::Ok) {
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
    if (state_ != State::Ready) return;
    state_ = State::Busy;
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
