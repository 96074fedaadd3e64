#pragma once
// A page's window for its logic: the page's dialog, its controls and message boxes
// owned by it. The texts a page opens with are the page's own (its ShowTexts).

#include <windows.h>

#include <functional>

#include "app/PageView.h"
#include "app/win/Dialog.h"

namespace flashwise::app {

class Win32PageView final : public PageView {
public:
    Win32PageView(Dialog& dialog, std::function<void()> showTexts)
        : dialog_(dialog), showTexts_(std::move(showTexts)) {}

    WindowRef Window() const override { return dialog_.Handle(); }
    WindowRef Item(int control) const override { return dialog_.Item(control); }
    void SetItemText(int control, std::u16string_view text) override;
    void SetItemToString(int control, unsigned textId) override;
    void EnableItem(int control, bool enabled) override;
    void ShowTexts() override { showTexts_(); }
    Answer Ask(unsigned textId, Buttons buttons, bool fillText) override;
    void End(int result) override { dialog_.End(result); }
    void Close() override;

private:
    Dialog& dialog_;
    std::function<void()> showTexts_;
};

}  // namespace flashwise::app
