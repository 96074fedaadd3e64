#pragma once
// The message-aware wait of the user-interface thread: everything queued is removed and
// dispatched (no key translation, no dialog-key handling), then the thread sleeps until
// one of the handles is signalled or any new input arrives.

#include "update/Waits.h"

namespace flashwise::update {

class MessageWait final : public UiWaits {
public:
    void DispatchQueued() override;
    // At most 63 handles (the system's limit, less the message queue).
    WakeResult WaitForHandlesOrInput(const std::vector<WaitHandle>& handles, std::uint32_t timeoutMs) override;
};

}  // namespace flashwise::update
