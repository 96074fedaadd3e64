#include "app/win/CRUVuveMainDlg.h"

#include <string>

#include "app/CRUVuveMainApp.h"
#include "app/win/PackageMessage.h"
#include "app/win/ResourceSource.h"
#include "package/Package.h"

namespace flashwise::app {
namespace {

struct Label {
    int control;
    unsigned text;
};
constexpr Label kLabels[] = {{IDC_WELCOME_TEXT, IDS_WELCOME_TEXT},
                             {IDC_WELCOME_CHECKLIST, IDS_WELCOME_CHECKLIST},
                             {IDC_WELCOME_SPACER1, IDS_WELCOME_SPACER1},
                             {IDC_WELCOME_CONTINUE, IDS_CLICK_NEXT},
                             {IDC_WELCOME_SPACER2, IDS_WELCOME_SPACER2}};

HICON LoadPageIcon(int metricX, int metricY) {
    HMODULE module = ResourceModuleFor(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_FLASHWISE));
    if (module == nullptr) {
        return nullptr;
    }
    return static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDI_FLASHWISE), IMAGE_ICON, GetSystemMetrics(metricX),
                                         GetSystemMetrics(metricY), LR_DEFAULTCOLOR));
}

}  // namespace

CRUVuveMainDlg::CRUVuveMainDlg()
    : Dialog(IDD_WELCOME),
      bigIcon_(LoadPageIcon(SM_CXICON, SM_CYICON)),
      smallIcon_(LoadPageIcon(SM_CXSMICON, SM_CYSMICON)) {
    OnCommand(IDCANCEL, [this] { OnCancel(); });
}

CRUVuveMainDlg::~CRUVuveMainDlg() {
    if (bigIcon_ != nullptr) {
        DestroyIcon(bigIcon_);
    }
    if (smallIcon_ != nullptr) {
        DestroyIcon(smallIcon_);
    }
}

void CRUVuveMainDlg::OnOpen() {
    TheApp().SetMainWindow(Handle());
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    ShowTexts();
}

void CRUVuveMainDlg::ShowTexts() {
    SetTitle(FilledPackageText(IDS_WELCOME_TITLE));
    SetItemText(IDC_NEXT, PackageText(IDS_NEXT));
    SetItemText(IDCANCEL, PackageText(IDS_CANCEL));
    SetItemText(IDC_WELCOME_HEADING, FilledPackageText(IDS_WELCOME_HEADING));
    // One text serves all labels: a label whose text is missing shows the one before.
    std::wstring text;
    for (const Label& label : kLabels) {
        package::LoadPackageString(label.text, text);
        SetItemText(label.control, text);
    }
}

void CRUVuveMainDlg::OnCancel() { End(IDCANCEL); }

}  // namespace flashwise::app
