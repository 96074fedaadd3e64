#include "update/win/SystemLinkFactory.h"

#include "link/win/SystemLinks.h"

namespace flashwise::update {

std::unique_ptr<CConnManager> SystemLinkFactory::NewSerialLink() { return flashwise::NewSerialLink(); }

std::unique_ptr<CConnManager> SystemLinkFactory::NewWinUsbLink() { return flashwise::NewWinUsbLink(); }

}  // namespace flashwise::update
