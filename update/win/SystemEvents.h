#pragma once
// Named events of the kernel, created with no security attributes.

#include "update/NamedEvents.h"

namespace flashwise::update {

class SystemEvents final : public EventApi {
public:
    WaitHandle CreateNamed(std::u16string_view name, bool manualReset) override;
    WaitHandle OpenNamed(std::u16string_view name) override;
    bool Set(WaitHandle event) override;
    bool Reset(WaitHandle event) override;
    void Close(WaitHandle event) override;
};

}  // namespace flashwise::update
