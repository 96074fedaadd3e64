#include "update/NamedEvents.h"

namespace flashwise::update {

NamedEvent NamedEvent::Create(EventApi& api, std::u16string_view name, bool manualReset) {
    WaitHandle handle = api.CreateNamed(name, manualReset);
    if (handle != nullptr && !api.Reset(handle)) {
        // A signal that cannot be taken back would end the first wait at once.
        api.Close(handle);
        handle = nullptr;
    }
    return NamedEvent(api, handle);
}

NamedEvent NamedEvent::Open(EventApi& api, std::u16string_view name) { return NamedEvent(api, api.OpenNamed(name)); }

NamedEvent::NamedEvent(NamedEvent&& other) noexcept : api_(other.api_), handle_(other.handle_) {
    other.handle_ = nullptr;
}

NamedEvent::~NamedEvent() { Close(); }

bool NamedEvent::Set() { return handle_ != nullptr && api_->Set(handle_); }

void NamedEvent::Close() {
    if (handle_ != nullptr) api_->Close(handle_);
    handle_ = nullptr;
}

}  // namespace flashwise::update
