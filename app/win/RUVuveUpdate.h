#pragma once
// The update page: layout 129 with the phone's versions beside the release's, the
// Update and Cancel buttons and the progress bar; its logic is app/UpdatePage.

#include <windows.h>

#include <optional>

#include "app/UpdatePage.h"
#include "app/win/Dialog.h"
#include "app/win/Win32PageView.h"

namespace flashwise::app {

class RUVuveUpdate : public Dialog {
public:
    explicit RUVuveUpdate(Wizard wizard, std::optional<update::RecoveryPlan> recovery = std::nullopt);
    ~RUVuveUpdate() override;

protected:
    void OnOpen() override;
    // The session's end is refused while an update writes the phone.
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void ShowTexts();

    HICON smallIcon_ = nullptr;
    Win32PageView view_;
    UpdatePage page_;
};

}  // namespace flashwise::app
