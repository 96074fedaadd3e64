#pragma once
// The welcome page: layout 102 with the introduction and the checklist. This page
// opens with its texts and icon and ends on Cancel.

#include <windows.h>

#include "app/win/Dialog.h"
#include "res/ResourceIds.h"

namespace flashwise::app {

class CRUVuveMainDlg : public Dialog {
public:
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
