#include "app/win/Dialog.h"

#include "app/win/ResourceSource.h"

namespace flashwise::app {

Dialog::Dialog(unsigned layoutId) : layoutId_(layoutId) {}

Dialog::~Dialog() {
    if (!modal_ && window_ != nullptr) {
        DestroyWindow(window_);
    }
}

const DLGTEMPLATE* Dialog::Layout(HINSTANCE& module) const {
    LPCWSTR name = MAKEINTRESOURCEW(layoutId_);
    module = ResourceModuleFor(RT_DIALOG, name);
    if (module == nullptr) {
        return nullptr;
    }
    HRSRC info = FindResourceW(module, name, RT_DIALOG);
    HGLOBAL handle = info != nullptr ? LoadResource(module, info) : nullptr;
    return handle != nullptr ? static_cast<const DLGTEMPLATE*>(LockResource(handle)) : nullptr;
}

INT_PTR Dialog::RunModal(HWND owner) {
    HINSTANCE module = nullptr;
    const DLGTEMPLATE* layout = Layout(module);
    if (layout == nullptr) {
        return -1;
    }
    modal_ = true;
    // Controls that name their own pictures load them from the layout's module.
    const INT_PTR result =
        DialogBoxIndirectParamW(module, layout, owner, &Dialog::Procedure, reinterpret_cast<LPARAM>(this));
    window_ = nullptr;
    return result;
}

HWND Dialog::CreateModeless(HWND owner) {
    HINSTANCE module = nullptr;
    const DLGTEMPLATE* layout = Layout(module);
    if (layout == nullptr) {
        return nullptr;
    }
    modal_ = false;
    return CreateDialogIndirectParamW(module, layout, owner, &Dialog::Procedure, reinterpret_cast<LPARAM>(this));
}

void Dialog::Destroy() {
    if (!modal_ && window_ != nullptr) {
        DestroyWindow(window_);
    }
}

void Dialog::SetItemText(int id, const std::wstring& text) const { SetDlgItemTextW(window_, id, text.c_str()); }

void Dialog::SetTitle(const std::wstring& text) const { SetWindowTextW(window_, text.c_str()); }

void Dialog::End(INT_PTR result) {
    if (window_ == nullptr) {
        return;
    }
    if (modal_) {
        EndDialog(window_, result);
    } else {
        DestroyWindow(window_);
    }
}

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

void Dialog::OnCommand(int id, std::function<void()> handler) { commands_[id] = std::move(handler); }

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
    }
    auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    const INT_PTR result = self->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->window_ = nullptr;
    }
    return result;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        OnOpen();
        return TRUE;
    case WM_COMMAND: {
        // Buttons, menu items and accelerators; other control notifications are left
        // to OnMessage.
        const int code = HIWORD(wParam);
        if (code == BN_CLICKED || code == 1) {
            auto handler = commands_.find(LOWORD(wParam));
            if (handler != commands_.end()) {
                // A copy: the handler may run a nested page that maps commands anew.
                auto run = handler->second;
                run();
                return TRUE;
            }
        }
        break;
    }
    default:
        break;
    }
    INT_PTR result = FALSE;
    if (OnMessage(message, wParam, lParam, result)) {
        return result;
    }
    return FALSE;
}

}  // namespace flashwise::app
