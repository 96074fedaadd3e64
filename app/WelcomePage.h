#pragma once
// The welcome page (CRUVuveMainDlg): the memory check when it opens, the Cancel command,
// and the Next command, which makes sure the phone is reachable through the desktop
// synchronisation software and charged enough before it hands over to the update page.

#include <cstdint>

#include "app/PageView.h"
#include "app/WizardSystem.h"

namespace flashwise::update {
class RapiConnection;
}

namespace flashwise::app {

constexpr std::uint64_t kMinimumMemoryMiB = 50;
constexpr std::uint32_t kConnectWaitMs = 3000;
// At or below this the phone is refused; 255 (unknown) passes.
constexpr unsigned kLowestRefusedBattery = 50;

class WelcomePage {
public:
    WelcomePage(Wizard wizard, PageView& view) : wizard_(wizard), view_(view) {}

    // The memory check, then the icon and the texts.
    void Open();
    // Next (1004). Does nothing while a command runs or after the page has ended.
    void OnNext();
    // Cancel (2), also Escape and the close box. Does nothing while its button is
    // disabled, that is while a command runs, or after the page has ended.
    void OnCancel();

private:
    enum class State { Idle, Busy, Ended };
    enum class Attempt { Found, BatteryLow, NotFound };

    // The status line of the idle page: what the page knows of a phone left in its boot loader.
    void ShowIdleStatus();
    // A phone the last update left in its boot loader, or one found there (newer path):
    // true when the Next command took it up, or went back to idle at the user's word.
    bool TakeUpALeftPhone();
    void RestoreDesktopLink();
    Attempt TryToConnect();
    Attempt Probe(update::RapiConnection& connection);
    void CancelCommand();
    void HandOver();

    Wizard wizard_;
    PageView& view_;
    State state_ = State::Idle;
};

}  // namespace flashwise::app
