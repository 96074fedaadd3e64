#pragma once
// The finish page (RUVuveFinish): congratulates the user and, however it is left (its
// Finish button, Escape or the close box), deletes every file the program wrote into
// the working folder before it closes.

#include <cstdint>

#include "app/PageView.h"
#include "app/WizardSystem.h"

namespace flashwise::app {

constexpr std::uint32_t kFinishPauseMs = 1000;

class FinishPage {
public:
    FinishPage(Wizard wizard, PageView& view) : wizard_(wizard), view_(view) {}

    void Open() { view_.ShowTexts(); }
    // Finish (8), and the Cancel command that Escape and the close box send. Once only.
    void OnFinish();

private:
    Wizard wizard_;
    PageView& view_;
    bool finishing_ = false;
};

}  // namespace flashwise::app
