#pragma once
// The update page (RUVuveUpdate): when it opens it writes the helper files, starts the
// version fetch and waits for it behind the fetch window; then it shows the phone's
// versions beside the release's and lets the user update or cancel. Every way out of
// the fetch that does not lead on (wrong phone, no phone, the user quits) ends the page
// and deletes the helper files; going back runs a new welcome page from here.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "app/PageView.h"
#include "app/WizardSystem.h"
#include "update/UpdateJournal.h"

namespace flashwise::update {
class CDownloadAgent;
class Worker;
class WaitWindow;
}  // namespace flashwise::update

namespace flashwise::app {

class VersionFetch;
struct PhoneVersions;
enum class FetchSignal;

constexpr std::uint32_t kFetchWaitMs = 10000;
// How long the phone has to answer a connection request once the fetch has timed out.
constexpr std::uint32_t kReachWaitMs = 3000;

class UpdatePage {
public:
    // With `recovery`, the page is for a phone waiting in its boot loader: nothing is
    // fetched, and the window's first act is the Update command.
    UpdatePage(Wizard wizard, PageView& view, std::optional<update::RecoveryPlan> recovery = std::nullopt);
    // A worker still running delivers nothing from now on.
    ~UpdatePage();

    void Open();
    // True once the page has opened to take up a phone in its boot loader: the window
    // then runs the Update command as soon as it shows.
    bool StartsByItself() const { return state_ == State::Recovering; }
    // Update (1001): the update sequence. Does nothing unless the page is ready.
    void OnUpdate();
    // Cancel (2), also Escape and the close box: asks, and on Yes deletes the helper
    // files and ends. Does nothing while its button is disabled.
    void OnCancel();

    update::CDownloadAgent& Agent() { return *agent_; }

private:
    enum class State { Opening, Ready, Recovering, Stuck, Busy, Ended };
    enum class Reach { Reachable, Unreachable, WaitFailed };

    void StartFetch();
    void RunFetchWait();
    enum class Round { Signal, TimedOut, Failed };
    Round WaitForTheWorker(std::vector<update::WaitHandle>& handles);
    void TakeSignal(FetchSignal signal);
    void ShowVersions(const PhoneVersions& versions);
    void BecomeReady();
    Reach ProbeAfterTimeout();
    // True when the page has ended; `mustEnd` also ends it on an answer that is
    // neither OK nor Cancel.
    bool AskAfterTimeout(bool mustEnd);
    void GoBack();
    void Quit();
    void StopFetching();

    Wizard wizard_;
    PageView& view_;
    State state_ = State::Opening;
    std::optional<update::RecoveryPlan> recovery_;
    // Shared: a wait that keeps the page answering may outlast a call that uses it.
    std::shared_ptr<update::CDownloadAgent> agent_;
    std::shared_ptr<VersionFetch> fetch_;
    std::unique_ptr<update::Worker> worker_;
    std::unique_ptr<update::WaitWindow> fetchWindow_;
};

}  // namespace flashwise::app
