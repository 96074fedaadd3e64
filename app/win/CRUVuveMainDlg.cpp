#include "app/win/CRUVuveMainDlg.h"

#include <string>

#include "app/CRUVuveMainApp.h"
#include "app/win/PackageMessage.h"
#include "app/win/ResourceSource.h"
#include "package/Package.h"

namespace flashwise::app {
namespace {

constexpr unsigned kIcon = 128;

constexpr unsigned kTextTitle = 102;
constexpr unsigned kTextNext = 1004;
constexpr unsigned kTextCancel = 137;
constexpr unsigned kTextHeading = 3;

struct Label {
    int control;
    unsigned text;
};
constexpr Label kLabels[] = {{1018, 26}, {1019, 27}, {1020, 28}, {1022, 29}, {1023, 30}};

HICON LoadPageIcon(int metricX, int metricY) {
    HMODULE module = ResourceModuleFor(RT_GROUP_ICON, MAKEINTRESOURCEW(kIcon));
    if (module == nullptr) {
        return nullptr;
    }
    return static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(kIcon), IMAGE_ICON, GetSystemMetrics(metricX),
                                         GetSystemMetrics(metricY), LR_DEFAULTCOLOR));
}

}  // namespace

CRUVuveMainDlg::CRUVuveMainDlg()
    : Dialog(kLayout),
      bigIcon_(LoadPageIcon(SM_CXICON, SM_CYICON)),
      smallIcon_(LoadPageIcon(SM_CXSMICON, SM_CYSMICON)) {
    OnCommand(kCancelButton, [this] { OnCancel(); });
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
    SetTitle(FilledPackageText(kTextTitle));
    SetItemText(kNextButton, PackageText(kTextNext));
    SetItemText(kCancelButton, PackageText(kTextCancel));
    SetItemText(kHeading, FilledPackageText(kTextHeading));
    // One text serves all labels: a label whose text is missing shows the one before.
    std::wstring text;
    for (const Label& label : kLabels) {
        package::LoadPackageString(label.text, text);
        SetItemText(label.control, text);
    }
}

void CRUVuveMainDlg::OnCancel() { End(IDCANCEL); }

}  // namespace flashwise::app
