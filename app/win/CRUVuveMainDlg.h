#pragma once
// The welcome page: layout 102 with the introduction and the checklist; its logic is
// app/WelcomePage. It paints its icon while minimised and lends it to the drag.

#include <windows.h>

#include "app/WelcomePage.h"
#include "app/win/Dialog.h"
#include "app/win/Win32PageView.h"

namespace flashwise::app {

class CRUVuveMainDlg : public Dialog {
public:
    explicit CRUVuveMainDlg(Wizard wizard);
    ~CRUVuveMainDlg() override;

protected:
    void OnOpen() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void ShowTexts();
    void PaintMinimised();

    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    Win32PageView view_;
    WelcomePage page_;
};

}  // namespace flashwise::app
