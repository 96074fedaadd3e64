#include "update/win/SystemTicks.h"

#include <windows.h>

namespace flashwise::update {

std::uint32_t SystemTicks::Now() { return GetTickCount(); }

void SystemTicks::Sleep(std::uint32_t ms) { ::Sleep(ms); }

}  // namespace flashwise::update
