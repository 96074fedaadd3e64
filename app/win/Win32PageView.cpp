#include "app/win/Win32PageView.h"

#include <string>

#include "app/win/PackageMessage.h"

namespace flashwise::app {

void Win32PageView::SetItemText(int control, std::u16string_view text) {
    dialog_.SetItemText(control, std::wstring(text.begin(), text.end()));
}

void Win32PageView::SetItemToString(int control, unsigned textId) { dialog_.SetItemText(control, PackageText(textId)); }

void Win32PageView::EnableItem(int control, bool enabled) { EnableWindow(dialog_.Item(control), enabled ? TRUE : FALSE); }

Answer Win32PageView::Ask(unsigned textId, Buttons buttons, bool fillText) {
    UINT kind = MB_OK;
    if (buttons == Buttons::OkCancel) kind = MB_OKCANCEL;
    if (buttons == Buttons::YesNo) kind = MB_YESNO;
    const int chosen = fillText ? ShowFilledPackageMessage(dialog_.Handle(), textId, kind)
                                : ShowPackageMessage(dialog_.Handle(), textId, kind);
    switch (chosen) {
    case IDOK: return Answer::Ok;
    case IDCANCEL: return Answer::Cancel;
    case IDYES: return Answer::Yes;
    case IDNO: return Answer::No;
    default: return Answer::None;
    }
}

void Win32PageView::Close() {
    if (dialog_.Handle() != nullptr) SendMessageW(dialog_.Handle(), WM_CLOSE, 0, 0);
}

}  // namespace flashwise::app
