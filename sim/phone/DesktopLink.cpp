#include "sim/phone/DesktopLink.h"

#include <cstdlib>

namespace flashwise::simphone {

namespace {

constexpr const char* kServices[] = {"WcesComm", "RapiMgr"};

std::optional<ServiceState> ParseState(const std::string& text)
{
    for (ServiceState state :
         {ServiceState::Stopped, ServiceState::StartPending, ServiceState::Running, ServiceState::StopPending})
        if (text == ServiceStateName(state))
            return state;
    return std::nullopt;
}

bool Fail(std::string* error, const std::string& key)
{
    if (error)
        *error = "[desktop] " + key + ": bad value";
    return false;
}

}  // namespace

const char* ServiceStateName(ServiceState state)
{
    switch (state) {
    case ServiceState::Stopped: return "stopped";
    case ServiceState::StartPending: return "start-pending";
    case ServiceState::Running: return "running";
    case ServiceState::StopPending: return "stop-pending";
    }
    return "stopped";
}

bool DesktopLink::SyncLinkUp() const
{
    if (connectionTypes && (*connectionTypes & kConnectionTypeUsb) == 0)
        return false;
    for (const auto& service : {wcesComm, rapiMgr})
        if (service && *service != ServiceState::Running)
            return false;
    return true;
}

bool DesktopLink::HoldsPhone() const
{
    if (connectionTypes && (*connectionTypes & kConnectionTypeUsb) != 0)
        return true;
    for (const auto& service : {wcesComm, rapiMgr})
        if (service && *service != ServiceState::Stopped)
            return true;
    return false;
}

std::optional<DesktopLink> ReadDesktopLink(const IniDocument& document, std::string* error)
{
    DesktopLink link;
    if (const std::string* text = document.Get(kDesktopSection, "connection_types")) {
        char* end = nullptr;
        const unsigned long long types = std::strtoull(text->c_str(), &end, 0);
        if (text->empty() || (*text)[0] == '-' || *end != '\0' || types > 0xFFFFFFFFull) {
            Fail(error, "connection_types");
            return std::nullopt;
        }
        link.connectionTypes = static_cast<std::uint32_t>(types);
    }
    std::optional<ServiceState>* states[] = {&link.wcesComm, &link.rapiMgr};
    for (int i = 0; i < 2; ++i) {
        if (const std::string* text = document.Get(kDesktopSection, kServices[i])) {
            *states[i] = ParseState(*text);
            if (!*states[i]) {
                Fail(error, kServices[i]);
                return std::nullopt;
            }
        }
    }
    return link;
}

void SetConnectionTypes(IniDocument& document, std::uint32_t types)
{
    document.Set(kDesktopSection, "connection_types", std::to_string(types));
}

bool SetServiceState(IniDocument& document, const std::string& service, ServiceState state)
{
    for (const char* name : kServices) {
        if (EqualsIgnoringCase(service, name)) {
            document.Set(kDesktopSection, name, ServiceStateName(state));
            return true;
        }
    }
    return false;
}

}  // namespace flashwise::simphone
