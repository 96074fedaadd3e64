#pragma once
// Keeps the machine awake and refuses the session's end while an update writes the
// phone. The refusal itself is the update page's answer to the session's question,
// which asks Refusing() (app/win/RUVuveUpdate).

#include <windows.h>

#include "app/WizardSystem.h"

namespace flashwise::app {

class Win32SessionHold final : public SessionHold {
public:
    explicit Win32SessionHold(HWND page);
    ~Win32SessionHold() override;

    // True while a hold is in force.
    static bool Refusing();

private:
    HWND page_;
    bool reasonGiven_ = false;
};

}  // namespace flashwise::app
