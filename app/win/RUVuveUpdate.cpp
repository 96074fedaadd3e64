#include "app/win/RUVuveUpdate.h"

#include "app/win/PackageMessage.h"
#include "app/win/Win32SessionHold.h"
#include "package/Package.h"
#include "res/ResourceIds.h"

namespace flashwise::app {
namespace {

struct Label {
    int control;
    unsigned text;
};
constexpr Label kLabels[] = {{IDC_UPDATE, IDS_UPDATE},
                             {IDCANCEL, IDS_CANCEL},
                             {IDC_UPDATE_FIRST_LINE, IDS_UPDATE_FROM},
                             {IDC_UPDATE_INSTRUCTION, IDS_CLICK_UPDATE},
                             {IDC_CURRENT_ROM_LABEL, IDS_ROM_VERSION},
                             {IDC_NEW_ROM_LABEL, IDS_ROM_VERSION},
                             {IDC_CURRENT_RADIO_LABEL, IDS_RADIO_VERSION},
                             {IDC_NEW_RADIO_LABEL, IDS_RADIO_VERSION},
                             {IDC_UPDATE_TO, IDS_TO}};

}  // namespace

RUVuveUpdate::RUVuveUpdate(Wizard wizard, std::optional<update::RecoveryPlan> recovery)
    : Dialog(IDD_UPDATE),
      // From the program file itself, whatever the translation holds.
      smallIcon_(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_FLASHWISE), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                               LR_DEFAULTCOLOR))),
      view_(*this, [this] { ShowTexts(); }),
      page_(wizard, view_, recovery) {
    OnCommand(IDC_UPDATE, [this] { page_.OnUpdate(); });
    OnCommand(IDCANCEL, [this] { page_.OnCancel(); });
}

RUVuveUpdate::~RUVuveUpdate() {
    if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

void RUVuveUpdate::OnOpen() {
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    // The whole opening, the fetch included, runs before the page is first shown: the
    // fetch window stands alone until the page is ready.
    page_.Open();
    // Queued, so that the page is up and painted before the update takes over its thread.
    if (page_.StartsByItself()) PostMessageW(Handle(), WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED), 0);
}

bool RUVuveUpdate::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
    if (message != WM_QUERYENDSESSION || !Win32SessionHold::Refusing()) return false;
    // A dialog answers through its message result.
    SetWindowLongPtrW(Handle(), DWLP_MSGRESULT, FALSE);
    result = TRUE;
    return true;
}

void RUVuveUpdate::ShowTexts() {
    SetTitle(FilledPackageText(IDS_UPDATE_TITLE));
    for (const Label& label : kLabels) SetItemText(label.control, PackageText(label.text));
    SetItemText(IDC_NEW_RADIO_VERSION,
                package::ReadReleaseText(IDTXT_NEW_RADIO_VERSION, package::ReleaseTextRule::NewVersion));
    SetItemText(IDC_NEW_ROM_VERSION,
                package::ReadReleaseText(IDTXT_NEW_ROM_VERSION, package::ReleaseTextRule::NewVersion));
}

}  // namespace flashwise::app
