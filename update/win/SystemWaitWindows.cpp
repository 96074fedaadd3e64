#include "update/win/SystemWaitWindows.h"

#include <windows.h>

#include "update/win/CSetupConnectionDlg.h"

namespace flashwise::update {
namespace {

class ShownDialog final : public WaitWindow {
public:
    explicit ShownDialog(std::unique_ptr<app::Dialog> dialog) : dialog_(std::move(dialog)) {}
    ~ShownDialog() override { dialog_->Destroy(); }
    WindowRef Handle() const override { return dialog_->Handle(); }

private:
    std::unique_ptr<app::Dialog> dialog_;
};

}  // namespace

std::unique_ptr<WaitWindow> SystemWaitWindows::ShowSetupConnection() {
    auto dialog = std::make_unique<CSetupConnectionDlg>();
    // No parent: the wait must stay in view whatever page is up.
    const HWND window = dialog->CreateModeless(nullptr);
    if (window == nullptr) return nullptr;
    ShowWindow(window, SW_SHOW);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return std::make_unique<ShownDialog>(std::move(dialog));
}

}  // namespace flashwise::update
