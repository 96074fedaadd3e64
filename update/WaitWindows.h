#pragma once
// The small "please wait" windows the update shows while it waits.

#include <memory>

#include "update/Waits.h"

namespace flashwise::update {

class WaitWindow {
public:
    // Destroys the window.
    virtual ~WaitWindow() = default;
    virtual WindowRef Handle() const = 0;
};

class WaitWindows {
public:
    virtual ~WaitWindows() = default;
    // Layout 136 with text 43, made without a parent, shown, then placed above every
    // other window without moving it. Null when it cannot be made.
    virtual std::unique_ptr<WaitWindow> ShowSetupConnection() = 0;
};

}  // namespace flashwise::update
