#pragma once
// The boot-loader links the download agents create.

#include <memory>

#include "link/ConnManager.h"

namespace flashwise::update {

class LinkFactory {
public:
    virtual ~LinkFactory() = default;
    // Over the USB serial host device.
    virtual std::unique_ptr<CConnManager> NewSerialLink() = 0;
    // Over WinUSB.
    virtual std::unique_ptr<CConnManager> NewWinUsbLink() = 0;
    // Whether the boot loader's WinUSB interface is present, found by discovery alone.
    virtual bool BootLoaderInterfacePresent() = 0;
};

}  // namespace flashwise::update
