#include "update/win/CSetupConnectionDlg.h"

#include "app/win/PackageMessage.h"
#include "res/ResourceIds.h"

namespace flashwise::update {

CSetupConnectionDlg::CSetupConnectionDlg() : Dialog(IDD_SETUP_CONNECTION) {}

void CSetupConnectionDlg::OnOpen() {
    text_ = Item(IDC_WAIT_TEXT);
    SetWindowTextW(text_, app::PackageText(IDS_SETUP_CONNECTION).c_str());
}

}  // namespace flashwise::update
