#pragma once
// The device-center services on the Vista path: stopped while the phone is in its boot
// loader, started again afterwards. Each call opens and closes its own handles and
// keeps no state; a request waits for the service in one-second steps, about eleven
// seconds at most.

#include <cstdint>
#include <string_view>

#include "update/ServiceManager.h"
#include "update/Ticks.h"

namespace flashwise::update {

// RequestServiceState's start request; every other request is a control code.
constexpr std::uint32_t kStartRequest = 0;
constexpr std::uint32_t kServiceStatusQueries = 11;
constexpr std::uint32_t kServiceQueryPauseMs = 1000;
// Service names are passed on to the manager with at most this many characters.
constexpr std::size_t kServiceNameLimit = 259;

// `command` is "PAUSE", "CONTINUE", "START" or "STOP" in any letter case. A service in
// a pending state fails a STOP at once; the caller's retry is its second chance.
bool ControlDeviceService(ServiceManager& manager, Ticks& ticks, std::string_view command,
                          std::string_view serviceName);

// Issues the request, then queries the state once a second, up to the limit, until it
// is `targetState`; true when the last query finds it there.
bool RequestServiceState(ServiceManager& manager, Ticks& ticks, ServiceHandle service, std::uint32_t request,
                         std::uint32_t targetState);

// The service's start type and state as they are now; false when either cannot be read.
bool ReadDeviceService(ServiceManager& manager, std::u16string_view serviceName, std::uint32_t* startType,
                       std::uint32_t* state);

// Puts the service back as it was read: running or stopped (a pending state counts as
// where it was going), and exactly the start type it had. True when both hold.
bool RestoreDeviceService(ServiceManager& manager, Ticks& ticks, std::u16string_view serviceName,
                          std::uint32_t startType, std::uint32_t state);

// Changes only the start type; a configuration that cannot be read is left alone.
void SetServiceStartType(ServiceManager& manager, ServiceHandle service, std::uint32_t startType);

}  // namespace flashwise::update
