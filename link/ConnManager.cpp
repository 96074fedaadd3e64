#include "link/ConnManager.h"

namespace flashwise {

// Placeholder bodies until the serial protocol lands: a link with no transport
// never opens and never carries a unit.
CConnManager::CConnManager() = default;
CConnManager::~CConnManager() = default;
void CConnManager::EndTransfer() {}
bool CConnManager::Open() { return false; }
bool CConnManager::Read(int, std::uint8_t*) { return false; }
bool CConnManager::PrepareSection(CFirmwareImage*, std::uint8_t*, const std::uint8_t*, int) { return false; }
bool CConnManager::SendSection(CFirmwareImage*, std::uint8_t*, const std::uint8_t*, int) { return false; }

}  // namespace flashwise
