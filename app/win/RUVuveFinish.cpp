#include "app/win/RUVuveFinish.h"

#include "app/win/PackageMessage.h"
#include "res/ResourceIds.h"

namespace flashwise::app {

RUVuveFinish::RUVuveFinish(Wizard wizard)
    : Dialog(IDD_FINISH),
      smallIcon_(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_FLASHWISE), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                               LR_DEFAULTCOLOR))),
      view_(*this, [this] { ShowTexts(); }),
      page_(wizard, view_) {
    OnCommand(IDC_FINISH, [this] { page_.OnFinish(); });
    // Every way out deletes the files the program wrote.
    OnCommand(IDCANCEL, [this] { page_.OnFinish(); });
}

RUVuveFinish::~RUVuveFinish() {
    if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

void RUVuveFinish::ShowTexts() {
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    SetTitle(FilledPackageText(IDS_FINISH_TITLE));
    SetItemText(IDC_FINISH, PackageText(IDS_FINISH));
    SetItemText(IDC_FINISH_HEADING, PackageText(IDS_CONGRATULATIONS));
    SetItemText(IDC_FINISH_TEXT, PackageText(IDS_FIRST_USE_NOTE));
}

}  // namespace flashwise::app
