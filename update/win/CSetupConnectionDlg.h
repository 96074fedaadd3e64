#pragma once
// The "please wait" window of the connection set-up: layout 136, a popup without caption
// whose one static text says text 43.

#include <windows.h>

#include "app/win/Dialog.h"

namespace flashwise::update {

class CSetupConnectionDlg : public app::Dialog {
public:
    CSetupConnectionDlg();

protected:
    void OnOpen() override;

private:
    HWND text_ = nullptr;  // control 1012
};

}  // namespace flashwise::update
