#pragma once
// The "Fetching Device Information" window: layout 135, a captionless popup whose one
// label says text 21 while the update page reads the phone's versions.

#include "app/win/Dialog.h"

namespace flashwise::app {

class RUVuveFetchDlg : public Dialog {
public:
    RUVuveFetchDlg();

protected:
    void OnOpen() override;
};

}  // namespace flashwise::app
