#include "update/win/SystemUserMessages.h"

#include <windows.h>

#include "app/win/PackageMessage.h"

namespace flashwise::update {

void SystemUserMessages::Notify(unsigned textId, WindowRef owner) {
    app::ShowPackageMessage(static_cast<HWND>(owner), textId, MB_OK);
}

void SystemUserMessages::NotifyOnTop(unsigned textId) {
    // System-modal as well: a box without owner is only placed above everything else
    // for that on some systems, not for MB_TOPMOST alone.
    app::ShowPackageMessage(nullptr, textId, MB_OK | MB_SYSTEMMODAL | MB_TOPMOST | MB_SETFOREGROUND);
}

bool SystemUserMessages::Confirm(unsigned textId, WindowRef owner) {
    return app::ShowPackageMessage(static_cast<HWND>(owner), textId, MB_YESNO) == IDYES;
}

}  // namespace flashwise::update
