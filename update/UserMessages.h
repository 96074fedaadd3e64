#pragma once
// Message boxes of the update logic: a string-table text with the title text (22, the
// model name filled in) as caption.

#include "update/Waits.h"

namespace flashwise::update {

class UserMessages {
public:
    virtual ~UserMessages() = default;
    // OK only, owned by `owner`.
    virtual void Notify(unsigned textId, WindowRef owner) = 0;
    // OK only, no owner, above every other window: for a worker thread's message while
    // a topmost wait window is up, which would otherwise hide it.
    virtual void NotifyOnTop(unsigned textId) = 0;
    // Yes and No, owned by `owner`; true for Yes.
    virtual bool Confirm(unsigned textId, WindowRef owner) = 0;
};

}  // namespace flashwise::update
