#include "link/win/SystemLinks.h"

#include "link/ConnManagerVista.h"
#include "link/win/WinSerialPort.h"
#include "link/win/WinUsbSystemApi.h"

namespace flashwise {

std::unique_ptr<CConnManager> NewSerialLink(PauseFn pause) {
    return std::make_unique<CConnManager>(std::make_unique<WinSerialPort>(), std::move(pause));
}

std::unique_ptr<CConnManager> NewWinUsbLink(PauseFn pause) {
    return std::make_unique<CConnManagerVista>(std::make_unique<WinUsbSystemApi>(), std::move(pause));
}

}  // namespace flashwise
