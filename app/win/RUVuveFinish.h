#pragma once
// The finish page: layout 130 with the congratulation and the note; its logic is
// app/FinishPage. Finish, Escape and the close box all end it the same way.

#include <windows.h>

#include "app/FinishPage.h"
#include "app/win/Dialog.h"
#include "app/win/Win32PageView.h"

namespace flashwise::app {

class RUVuveFinish : public Dialog {
public:
    explicit RUVuveFinish(Wizard wizard);
    ~RUVuveFinish() override;

protected:
    void OnOpen() override { page_.Open(); }

private:
    void ShowTexts();

    HICON smallIcon_ = nullptr;
    Win32PageView view_;
    FinishPage page_;
};

}  // namespace flashwise::app
