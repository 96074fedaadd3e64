#pragma once
// The boot-loader links over this machine's devices.

#include "update/LinkFactory.h"

namespace flashwise::update {

class SystemLinkFactory final : public LinkFactory {
public:
    std::unique_ptr<CConnManager> NewSerialLink() override;
    std::unique_ptr<CConnManager> NewWinUsbLink() override;
    bool BootLoaderInterfacePresent() override;
};

}  // namespace flashwise::update
