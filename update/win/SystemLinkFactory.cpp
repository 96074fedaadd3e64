#include "update/win/SystemLinkFactory.h"

#include "link/ConnManagerVista.h"
#include "link/win/SystemLinks.h"
#include "link/win/WinUsbSystemApi.h"

namespace flashwise::update {

std::unique_ptr<CConnManager> SystemLinkFactory::NewSerialLink() { return flashwise::NewSerialLink(); }

std::unique_ptr<CConnManager> SystemLinkFactory::NewWinUsbLink() { return flashwise::NewWinUsbLink(); }

bool SystemLinkFactory::BootLoaderInterfacePresent() {
    CConnManagerVista link(std::make_unique<WinUsbSystemApi>(), RealPause());
    return link.InterfacePresent();
}

}  // namespace flashwise::update
