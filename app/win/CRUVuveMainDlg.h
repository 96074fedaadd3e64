#pragma once
// The welcome page: layout 102 with the introduction and the checklist. This page
// opens with its texts and icon and ends on Cancel.

#include <windows.h>

#include "app/win/Dialog.h"

namespace flashwise::app {

class CRUVuveMainDlg : public Dialog {
public:
    static constexpr unsigned kLayout = 102;
    static constexpr int kNextButton = 1004;
    static constexpr int kCancelButton = IDCANCEL;
    static constexpr int kHeading = 1002;
    static constexpr int kStatusLine = 1021;

    CRUVuveMainDlg();
    ~CRUVuveMainDlg() override;

protected:
    void OnOpen() override;

private:
    void ShowTexts();
    void OnCancel();

    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
};

}  // namespace flashwise::app
