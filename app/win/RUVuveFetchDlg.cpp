#include "app/win/RUVuveFetchDlg.h"

#include "app/win/PackageMessage.h"
#include "res/ResourceIds.h"

namespace flashwise::app {

RUVuveFetchDlg::RUVuveFetchDlg() : Dialog(IDD_FETCHING) {}

void RUVuveFetchDlg::OnOpen() { SetItemText(IDC_WAIT_TEXT, PackageText(IDS_CHECKING_DEVICE)); }

}  // namespace flashwise::app
