#include "app/WelcomePage.h"

#include <memory>
#include <optional>

#include "app/PlatformPath.h"
#include "app/ResponsiveWaits.h"
#include "res/ResourceIds.h"
#include "update/CDownloadAgent.h"
#include "update/RapiConnection.h"
#include "update/UpdateJournal.h"

namespace flashwise::app {

using update::RapiConnection;
using update::Wake;

namespace {
constexpr std::uint64_t kBytesPerMiB = 1024u * 1024u;
}  // namespace

void WelcomePage::Open() {
    // 64 bits: a machine with 4 GiB or more must not look like one with almost none.
    const std::optional<std::uint64_t> total = wizard_.system.TotalPhysicalMemory();
    if (total && *total / kBytesPerMiB < kMinimumMemoryMiB) {
        // The page stays up without its texts; Next and Cancel still work.
        view_.Ask(IDS_NOT_ENOUGH_MEMORY, Buttons::Ok);
        return;
    }
    view_.ShowTexts();
    ShowIdleStatus();
}

void WelcomePage::ShowIdleStatus() {
    if (update::ReadJournal(wizard_.platform)) {
        view_.SetItemToString(IDC_WELCOME_STATUS, IDS_UPDATE_NOT_FINISHED);
    } else {
        view_.SetItemText(IDC_WELCOME_STATUS, u"");
    }
}

void WelcomePage::OnNext() {
    if (state_ != State::Idle) return;
    state_ = State::Busy;
    view_.SetItemToString(IDC_WELCOME_STATUS, IDS_CHECKING_COMPONENTS);
    view_.EnableItem(IDC_NEXT, false);
    view_.EnableItem(kCancelButton, false);

    if (TakeUpALeftPhone()) return;
    RestoreDesktopLink();
    for (;;) {
        switch (TryToConnect()) {
        case Attempt::Found:
            HandOver();
            return;
        case Attempt::BatteryLow:
            view_.Ask(IDS_BATTERY_TOO_LOW, Buttons::Ok);
            state_ = State::Ended;
            view_.End(kPageCancel);
            return;
        case Attempt::NotFound:
            // OK tries again with the buttons still disabled; anything else is a Cancel.
            if (view_.Ask(IDS_NO_CONNECTION, Buttons::OkCancel) == Answer::Ok) continue;
            CancelCommand();
            return;
        }
    }
}

void WelcomePage::OnCancel() {
    if (state_ != State::Idle) return;
    state_ = State::Busy;
    CancelCommand();
}

void WelcomePage::CancelCommand() {
    if (view_.Ask(IDS_QUIT_CONFIRMATION, Buttons::YesNo) == Answer::Yes) {
        state_ = State::Ended;
        view_.End(kPageCancel);
        view_.Close();
        return;
    }
    view_.EnableItem(IDC_NEXT, true);
    view_.EnableItem(kCancelButton, true);
    ShowIdleStatus();
    state_ = State::Idle;
}

bool WelcomePage::TakeUpALeftPhone() {
    update::UpdatePlatform& platform = wizard_.platform;
    const std::optional<update::UpdateJournal> journal = update::ReadJournal(platform);
    // Without a record, only a boot loader the newer path can see without opening it:
    // a phone in its boot loader cannot answer the Remote API, so asking it would only
    // end in text 11 again and again.
    if (!journal && (PlatformPathFromVersion(wizard_.system.PackedVersion()) != PlatformPath::Vista ||
                     !platform.links.BootLoaderInterfacePresent())) {
        return false;
    }
    const update::RecoveryPlan plan = update::PlanRecovery(journal, update::ImageDigest(platform.package));
    if (plan.otherRelease && view_.Ask(IDS_OTHER_RELEASE_LEFT, Buttons::YesNo) != Answer::Yes) {
        // Nothing was touched: the record stays for a later start.
        view_.EnableItem(IDC_NEXT, true);
        view_.EnableItem(kCancelButton, true);
        ShowIdleStatus();
        state_ = State::Idle;
        return true;
    }
    view_.SetItemToString(IDC_WELCOME_HEADING, IDS_DEVICE_DETECTED);
    state_ = State::Ended;
    view_.End(kPageOk);
    wizard_.system.RunUpdatePageToRecover(plan);
    return true;
}

void WelcomePage::RestoreDesktopLink() {
    // A short-lived agent of this machine's path, only to bring the synchronisation
    // link back up before the phone is looked for. On the newer path that starts two
    // services and can take many seconds: the page keeps answering meanwhile.
    std::shared_ptr<update::CDownloadAgent> agent =
        update::NewDownloadAgent(wizard_.platform, wizard_.system.PackedVersion());
    RunResponsively(wizard_.platform, [agent] { agent->SetDesktopLink(true, false); });
}

WelcomePage::Attempt WelcomePage::TryToConnect() {
    update::UpdatePlatform& platform = wizard_.platform;
    // One deadline for the whole attempt: neither input nor a refused request makes
    // it start again, so the question comes after 3 s whatever happens meanwhile.
    const Deadline deadline(platform.ticks, kConnectWaitMs);
    std::optional<RapiConnection> request;
    request.emplace(RapiConnection::Request(platform.rapi));
    for (;;) {
        if (!request->Started()) {
            // Nothing will signal; wait out the attempt so that retries keep their pace.
            request->End();
            WaitBefore(platform, deadline, {});
            return Attempt::NotFound;
        }
        const update::WakeResult woke = WaitBefore(platform, deadline, {request->ReadyEvent()});
        if (woke.wake != Wake::Handle) {
            request->End();
            return Attempt::NotFound;
        }
        if (update::RapiSucceeded(request->Result())) return Probe(*request);
        // Refused: this request is closed before the next one goes out.
        request.reset();
        if (deadline.Passed()) return Attempt::NotFound;
        request.emplace(RapiConnection::Request(platform.rapi));
    }
}

WelcomePage::Attempt WelcomePage::Probe(RapiConnection& connection) {
    update::RapiApi& rapi = wizard_.platform.rapi;
    update::RapiKey root = nullptr;
    if (rapi.OpenPhoneKey(update::RapiLocalMachine(), u"", &root) != update::kRapiErrorSuccess) {
        connection.End();
        return Attempt::NotFound;
    }
    rapi.ClosePhoneKey(root);
    update::RapiPowerStatus power{};
    const bool known = rapi.GetPowerStatus(&power, true);
    connection.End();
    // A phone that cannot tell its power status was not really reached: ask, rather
    // than read the cleared record as an empty battery.
    if (!known) return Attempt::NotFound;
    return power.batteryLifePercent <= kLowestRefusedBattery ? Attempt::BatteryLow : Attempt::Found;
}

void WelcomePage::HandOver() {
    view_.SetItemToString(IDC_WELCOME_HEADING, IDS_DEVICE_DETECTED);
    state_ = State::Ended;
    view_.End(kPageOk);
    wizard_.system.RunUpdatePage();
}

}  // namespace flashwise::app
