#include "app/win/PackageMessage.h"

#include "app/CRUVuveMainApp.h"
#include "package/Package.h"

namespace flashwise::app {

std::wstring PackageText(unsigned id) {
    std::wstring text;
    package::LoadPackageString(id, text);
    return text;
}

std::wstring FilledPackageText(unsigned id) {
    return package::FillTemplate(PackageText(id), package::ToWide(TheApp().ModelDisplayName()));
}

int ShowPackageMessage(HWND owner, unsigned textId, UINT buttons) {
    return ShowPackageMessage(owner, textId, buttons, package::ToWide(TheApp().ModelDisplayName()));
}

int ShowFilledPackageMessage(HWND owner, unsigned textId, UINT buttons) {
    const std::wstring text = FilledPackageText(textId);
    const std::wstring caption = FilledPackageText(IDS_MESSAGE_CAPTION);
    return MessageBoxW(owner, text.c_str(), caption.c_str(), buttons);
}

int ShowPackageMessage(HWND owner, unsigned textId, UINT buttons, const std::wstring& displayName) {
    const std::wstring text = PackageText(textId);
    const std::wstring caption = package::FillTemplate(PackageText(IDS_MESSAGE_CAPTION), displayName);
    return MessageBoxW(owner, text.c_str(), caption.c_str(), buttons);
}

}  // namespace flashwise::app
