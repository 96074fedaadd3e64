#pragma once
// The desktop synchronisation software's hold on the phone, kept in the "[desktop]"
// section of the simulated phone's state file by the stand-ins that play it:
//
//   connection_types=10      the connection manager's connection types (SimDccMan,
//                            XP path): 2 serial, 8 USB, 4 network. With USB enabled
//                            it keeps the phone's USB device to itself.
//   WcesComm=running         a device-center service (SimService, Vista path):
//   RapiMgr=running          stopped, start-pending, running or stop-pending. From its
//                            start until it has stopped it keeps the phone's device.
//
// A key that is absent is a stand-in this world does not have: it neither holds the
// phone nor is needed for the synchronisation link.

#include <cstdint>
#include <optional>
#include <string>

#include "sim/phone/IniDocument.h"

namespace flashwise::simphone {

constexpr char kDesktopSection[] = "desktop";
constexpr std::uint32_t kConnectionTypeUsb = 8;

enum class ServiceState { Stopped, StartPending, Running, StopPending };

const char* ServiceStateName(ServiceState state);

struct DesktopLink {
    std::optional<std::uint32_t> connectionTypes;
    std::optional<ServiceState> wcesComm;
    std::optional<ServiceState> rapiMgr;

    // The synchronisation software can reach the phone: USB enabled in the connection
    // manager and both services running, as far as this world has them.
    bool SyncLinkUp() const;
    // The phone's USB device is taken by the desktop, so no other program can open it.
    bool HoldsPhone() const;
};

// Nullopt with *error naming the key for a value that does not parse.
std::optional<DesktopLink> ReadDesktopLink(const IniDocument& document, std::string* error = nullptr);

void SetConnectionTypes(IniDocument& document, std::uint32_t types);
// False for a name other than "WcesComm" and "RapiMgr".
bool SetServiceState(IniDocument& document, const std::string& service, ServiceState state);

}  // namespace flashwise::simphone
