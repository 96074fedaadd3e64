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

CRUVuveMainDlg::CRUVuveMainDlg(Wizard wizard)
    : Dialog(IDD_WELCOME),
      bigIcon_(LoadPageIcon(SM_CXICON, SM_CYICON)),
      smallIcon_(LoadPageIcon(SM_CXSMICON, SM_CYSMICON)),
      view_(*this, [this] { ShowTexts(); }),
      page_(wizard, view_) {
    OnCommand(IDC_NEXT, [this] { page_.OnNext(); });
    OnCommand(IDCANCEL, [this] { page_.OnCancel(); });
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
    page_.Open();
}

void CRUVuveMainDlg::ShowTexts() {
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
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

bool CRUVuveMainDlg::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
    switch (message) {
    case WM_PAINT:
        if (!IsIconic(Handle())) return false;
        PaintMinimised();
        result = TRUE;
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<INT_PTR>(bigIcon_);
        return true;
    default:
        return false;
    }
}

void CRUVuveMainDlg::PaintMinimised() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Handle(), &paint);
    SendMessageW(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    GetClientRect(Handle(), &client);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, bigIcon_);
    EndPaint(Handle(), &paint);
}

}  // namespace flashwise::app
