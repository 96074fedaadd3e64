#pragma once
// Named events: how worker threads report to the user-interface thread. The names are
// seen by every process of the user, so an event of the same name may already exist,
// left signalled by an earlier pass or by another copy of the program. NamedEvent
// therefore resets every event right after creating it: a wait never starts with a
// stale signal.

#include <memory>
#include <string_view>

#include "update/Waits.h"

namespace flashwise::update {

// The system's calls, thin.
class EventApi {
public:
    virtual ~EventApi() = default;
    // Creates the event or, when it exists, opens it as it is; null on failure.
    virtual WaitHandle CreateNamed(std::u16string_view name, bool manualReset) = 0;
    // Full access; null when there is none of that name.
    virtual WaitHandle OpenNamed(std::u16string_view name) = 0;
    virtual bool Set(WaitHandle event) = 0;
    virtual bool Reset(WaitHandle event) = 0;
    virtual void Close(WaitHandle event) = 0;
};

class NamedEvent {
public:
    // Created (or found) and then reset. Valid() is false when that failed.
    static NamedEvent Create(EventApi& api, std::u16string_view name, bool manualReset);
    // An existing event, as it is.
    static NamedEvent Open(EventApi& api, std::u16string_view name);

    NamedEvent(NamedEvent&& other) noexcept;
    NamedEvent& operator=(NamedEvent&&) = delete;
    NamedEvent(const NamedEvent&) = delete;
    ~NamedEvent();

    bool Valid() const { return handle_ != nullptr; }
    WaitHandle Handle() const { return handle_; }
    bool Set();
    // Closes this handle now; the event itself lives while others hold it.
    void Close();

private:
    NamedEvent(EventApi& api, WaitHandle handle) : api_(&api), handle_(handle) {}

    EventApi* api_;
    WaitHandle handle_;
};

}  // namespace flashwise::update
