#include "app/win/Win32WizardSystem.h"

#include <windows.h>
#include <commctrl.h>

#include "app/CRUVuveMainApp.h"
#include "app/win/CRUVuveMainDlg.h"
#include "app/win/RUVuveFetchDlg.h"
#include "app/win/RUVuveFinish.h"
#include "app/win/RUVuveUpdate.h"
#include "app/win/Win32SessionHold.h"
#include "image/DownloadDriver.h"
#include "package/Package.h"
#include "update/CDownloadAgent.h"

namespace flashwise::app {
namespace {

class ShownDialog final : public update::WaitWindow {
public:
    explicit ShownDialog(std::unique_ptr<Dialog> dialog) : dialog_(std::move(dialog)) {}
    ~ShownDialog() override { dialog_->Destroy(); }
    update::WindowRef Handle() const override { return dialog_->Handle(); }

private:
    std::unique_ptr<Dialog> dialog_;
};

// Over the middle of the page, so that it reads as the page's own.
void CentreOver(HWND window, HWND owner) {
    RECT mine{};
    RECT theirs{};
    if (owner == nullptr || !GetWindowRect(window, &mine) || !GetWindowRect(owner, &theirs)) return;
    const int x = theirs.left + ((theirs.right - theirs.left) - (mine.right - mine.left)) / 2;
    const int y = theirs.top + ((theirs.bottom - theirs.top) - (mine.bottom - mine.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

std::optional<std::uint64_t> Win32WizardSystem::TotalPhysicalMemory() {
    // The extended status: the plain one stops at 2 GiB in a 32-bit program.
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return std::nullopt;
    return status.ullTotalPhys;
}

std::uint32_t Win32WizardSystem::PackedVersion() { return GetVersion(); }

std::u16string Win32WizardSystem::ModelIdentity() { return TheApp().ModelIdentity(); }

std::u16string Win32WizardSystem::LanguageCode() {
    return package::FromWide(package::ReadReleaseText(IDTXT_LANGUAGE_CODE, package::ReleaseTextRule::LanguageCode));
}

std::unique_ptr<update::WaitWindow> Win32WizardSystem::ShowFetchWindow(WindowRef page) {
    auto dialog = std::make_unique<RUVuveFetchDlg>();
    const HWND owner = static_cast<HWND>(page);
    const HWND window = dialog->CreateModeless(owner);
    if (window == nullptr) return nullptr;
    CentreOver(window, owner);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return std::make_unique<ShownDialog>(std::move(dialog));
}

void Win32WizardSystem::SetProgressPosition(WindowRef bar, unsigned position) {
    SendMessageW(static_cast<HWND>(bar), PBM_SETPOS, position, 0);
}

bool Win32WizardSystem::RunDownload(update::CDownloadAgent& agent) {
    if (agent.Link() == nullptr || agent.Image() == nullptr) return false;
    return flashwise::RunDownload(agent.State(), *agent.Link(), *agent.Image(), RealPause());
}

std::unique_ptr<SessionHold> Win32WizardSystem::HoldSession(WindowRef page) {
    return std::make_unique<Win32SessionHold>(static_cast<HWND>(page));
}

void Win32WizardSystem::RunWelcomePage() {
    CRUVuveMainDlg page(ThisWizard());
    page.RunModal(nullptr);
}

void Win32WizardSystem::RunUpdatePage() {
    RUVuveUpdate page(ThisWizard());
    page.RunModal(nullptr);
}

void Win32WizardSystem::RunUpdatePageToRecover(const update::RecoveryPlan& plan) {
    RUVuveUpdate page(ThisWizard(), plan);
    page.RunModal(nullptr);
}

void Win32WizardSystem::RunFinishPage() {
    RUVuveFinish page(ThisWizard());
    page.RunModal(nullptr);
}

}  // namespace flashwise::app
