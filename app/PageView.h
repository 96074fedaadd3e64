#pragma once
// One wizard page's window as its logic sees it: controls by id, the page's own message
// boxes and the end of its modal run. The Windows side (app/win/Win32PageView) is a
// dialog of the package's layouts; tests record the calls.

#include <string_view>

#include "update/Waits.h"

namespace flashwise::app {

using update::WindowRef;

enum class Buttons { Ok, OkCancel, YesNo };
// None: the box could not be shown, or was closed some other way.
enum class Answer { Ok, Cancel, Yes, No, None };

// The Cancel button of every page (the system's cancel id, which Escape and the close
// box send too).
constexpr int kCancelButton = 2;

// The results a page's modal run ends with.
constexpr int kPageOk = 1;
constexpr int kPageCancel = 2;

class PageView {
public:
    virtual ~PageView() = default;

    virtual WindowRef Window() const = 0;
    virtual WindowRef Item(int control) const = 0;

    virtual void SetItemText(int control, std::u16string_view text) = 0;
    // String-table text `textId` of the active source.
    virtual void SetItemToString(int control, unsigned textId) = 0;
    virtual void EnableItem(int control, bool enabled) = 0;
    // The texts the page's layout is dressed with when it opens (title, buttons, labels).
    virtual void ShowTexts() = 0;

    // A message box owned by the page: text `textId` (the model name put into its
    // template when `fillText`), caption text 22 with the model name.
    virtual Answer Ask(unsigned textId, Buttons buttons, bool fillText = false) = 0;

    // Ends the modal run with `result`; the window goes when the run returns.
    virtual void End(int result) = 0;
    // Asks the window to close, as its close box does.
    virtual void Close() = 0;
};

}  // namespace flashwise::app
