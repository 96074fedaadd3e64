#pragma once
// The two boot-loader links on the real system, as the download agents create them.

#include <memory>

#include "link/ConnManager.h"

namespace flashwise {

// Over the USB serial host device.
std::unique_ptr<CConnManager> NewSerialLink(PauseFn pause = RealPause());
// Over WinUSB.
std::unique_ptr<CConnManager> NewWinUsbLink(PauseFn pause = RealPause());

}  // namespace flashwise
