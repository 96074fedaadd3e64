#pragma once
// What the wizard pages need from the system beyond the update's own platform: the
// desktop's memory and version, the release texts, the fetch window, the progress bar,
// the download driver and the other pages, each run modally from inside the page that
// hands over. The Windows side is app/win/Win32WizardSystem; tests record the calls.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "update/UpdateJournal.h"
#include "update/UpdatePlatform.h"
#include "update/WaitWindows.h"

namespace flashwise::update {
class CDownloadAgent;
}

namespace flashwise::app {

using update::WindowRef;

// While it lives, the machine does not sleep and a session end is refused, with a
// reason the system shows; both are released when it goes.
class SessionHold {
public:
    virtual ~SessionHold() = default;
};

class WizardSystem {
public:
    virtual ~WizardSystem() = default;

    // Total physical memory in bytes; unset when the system cannot tell.
    virtual std::optional<std::uint64_t> TotalPhysicalMemory() = 0;
    // The packed version value whose low byte is the major version.
    virtual std::uint32_t PackedVersion() = 0;
    // TXT 160, as start-up read it.
    virtual std::u16string ModelIdentity() = 0;
    // TXT 159 under its length rule (empty when missing or too long).
    virtual std::u16string LanguageCode() = 0;

    // Layout 135 with text 21, modeless, over `page`; null when it cannot be made.
    virtual std::unique_ptr<update::WaitWindow> ShowFetchWindow(WindowRef page) = 0;
    // PBM_SETPOS to the progress bar; called from the progress thread.
    virtual void SetProgressPosition(WindowRef bar, unsigned position) = 0;
    // The download driver over the agent's open image and link; true when every unit went.
    virtual bool RunDownload(update::CDownloadAgent& agent) = 0;
    // Keeps the machine up and the session on for as long as the result lives; `page`
    // is the window that answers the session's end.
    virtual std::unique_ptr<SessionHold> HoldSession(WindowRef page) = 0;

    // Each makes a new page and runs it modally; returns when it (and every page it led
    // to) has ended.
    virtual void RunWelcomePage() = 0;
    virtual void RunUpdatePage() = 0;
    // The update page for a phone waiting in its boot loader: no fetch, the update
    // starts by itself and runs the passes of `plan`.
    virtual void RunUpdatePageToRecover(const update::RecoveryPlan& plan) = 0;
    virtual void RunFinishPage() = 0;
};

// What every page works with.
struct Wizard {
    update::UpdatePlatform& platform;
    WizardSystem& system;
};

}  // namespace flashwise::app
