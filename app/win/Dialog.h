#pragma once
// A thin dialog layer: a page or a wait window built on a dialog layout of the
// active resource source, run modally or modelessly, with a command map from
// control ids to handlers. Commands without a handler are ignored.

#include <windows.h>

#include <functional>
#include <map>
#include <string>

namespace flashwise::app {

class Dialog {
public:
    explicit Dialog(unsigned layoutId);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Returns the result the page ended with, or -1 when the layout is missing or
    // the window cannot be made.
    INT_PTR RunModal(HWND owner);

    // Null when the layout is missing or the window cannot be made. The caller's
    // message waits dispatch its messages; Destroy() ends it.
    HWND CreateModeless(HWND owner);
    void Destroy();

    HWND Handle() const { return window_; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    void SetItemText(int id, const std::wstring& text) const;
    void SetTitle(const std::wstring& text) const;

    // Ends a modal run with the result, or destroys a modeless window.
    void End(INT_PTR result);

protected:
    // The window and its controls exist; nothing is shown yet.
    virtual void OnOpen() {}
    // Other messages; true when handled (then `result` is the procedure's answer).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

    void OnCommand(int id, std::function<void()> handler);

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    const DLGTEMPLATE* Layout(HINSTANCE& module) const;

    unsigned layoutId_;
    HWND window_ = nullptr;
    bool modal_ = false;
    std::map<int, std::function<void()>> commands_;
};

}  // namespace flashwise::app
