#include "update/ServiceControl.h"

#include <cctype>
#include <string>

namespace flashwise::update {
namespace {

bool SameCommand(std::string_view command, std::string_view name) {
    if (command.size() != name.size()) return false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(command[i])) != name[i]) return false;
    }
    return true;
}

std::u16string WideName(std::string_view name) {
    std::u16string wide;
    for (const char c : name.substr(0, kServiceNameLimit)) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
    return wide;
}

bool IsPending(std::uint32_t state) {
    return state == service_state::kStartPending || state == service_state::kStopPending ||
           state == service_state::kContinuePending || state == service_state::kPausePending;
}

// Waits, in the same steps as a request, for a pending state to end; the state reached
// (still pending after the last query), or 0 when a query fails.
std::uint32_t SettledState(ServiceManager& manager, Ticks& ticks, ServiceHandle service) {
    std::uint32_t state = 0;
    for (std::uint32_t query = 0; query < kServiceStatusQueries; ++query) {
        ticks.Sleep(kServiceQueryPauseMs);
        if (!manager.QueryState(service, &state)) return 0;
        if (!IsPending(state)) break;
    }
    return state;
}

void EnableIfDisabled(ServiceManager& manager, ServiceHandle service) {
    ServiceConfig config;
    if (manager.QueryConfig(service, &config) && config.startType == start_type::kDisabled) {
        SetServiceStartType(manager, service, start_type::kAutomatic);
    }
}

bool Start(ServiceManager& manager, Ticks& ticks, ServiceHandle service, std::uint32_t state) {
    if (state == service_state::kStopped) {
        SetServiceStartType(manager, service, start_type::kAutomatic);
        return RequestServiceState(manager, ticks, service, kStartRequest, service_state::kRunning);
    }
    if (state == service_state::kRunning) {
        // A stop that was refused still marked the service disabled.
        EnableIfDisabled(manager, service);
        return true;
    }
    if (IsPending(state)) {
        // A stop that outlasted its queries has left the service disabled and on its
        // way down: it must not stay disabled, so wait for it and start it again.
        SetServiceStartType(manager, service, start_type::kAutomatic);
        const std::uint32_t settled = SettledState(manager, ticks, service);
        if (settled == service_state::kStopped) {
            return RequestServiceState(manager, ticks, service, kStartRequest, service_state::kRunning);
        }
        return settled == service_state::kRunning;
    }
    return false;
}

bool Act(ServiceManager& manager, Ticks& ticks, ServiceHandle service, std::string_view command,
         std::uint32_t state) {
    using namespace service_state;
    if (SameCommand(command, "PAUSE")) {
        if (state == kRunning) return RequestServiceState(manager, ticks, service, service_control::kPause, kPaused);
        return state == kPaused;
    }
    if (SameCommand(command, "CONTINUE")) {
        if (state == kPaused) {
            return RequestServiceState(manager, ticks, service, service_control::kContinue, kRunning);
        }
        return state == kRunning;
    }
    if (SameCommand(command, "START")) return Start(manager, ticks, service, state);
    if (SameCommand(command, "STOP")) {
        if (state != kRunning) return state == kStopped;
        const bool stopped = RequestServiceState(manager, ticks, service, service_control::kStop, kStopped);
        SetServiceStartType(manager, service, start_type::kDisabled);
        return stopped;
    }
    return false;
}

bool Running(std::uint32_t state) {
    return state == service_state::kRunning || state == service_state::kStartPending ||
           state == service_state::kContinuePending;
}

template <typename Act>
bool WithService(ServiceManager& manager, std::u16string_view name, Act act) {
    const ServiceHandle scm = manager.OpenManager();
    if (scm == nullptr) return false;
    const ServiceHandle service = manager.OpenNamedService(scm, name.substr(0, kServiceNameLimit));
    const bool result = service != nullptr && act(service);
    if (service != nullptr) manager.Close(service);
    manager.Close(scm);
    return result;
}

}  // namespace

bool ReadDeviceService(ServiceManager& manager, std::u16string_view serviceName, std::uint32_t* startType,
                       std::uint32_t* state) {
    return WithService(manager, serviceName, [&](ServiceHandle service) {
        ServiceConfig config;
        if (!manager.QueryState(service, state) || !manager.QueryConfig(service, &config)) return false;
        *startType = config.startType;
        return true;
    });
}

bool RestoreDeviceService(ServiceManager& manager, Ticks& ticks, std::u16string_view serviceName,
                          std::uint32_t startType, std::uint32_t state) {
    return WithService(manager, serviceName, [&](ServiceHandle service) {
        std::uint32_t now = 0;
        if (!manager.QueryState(service, &now)) return false;
        if (IsPending(now)) now = SettledState(manager, ticks, service);
        bool reached = Running(now) == Running(state);
        if (!reached && Running(state) && now == service_state::kStopped) {
            // Only a service that may start can be started; a disabled one that ran
            // starts on demand and is disabled again below.
            SetServiceStartType(manager, service,
                                startType == start_type::kDisabled ? start_type::kDemand : startType);
            reached = RequestServiceState(manager, ticks, service, kStartRequest, service_state::kRunning);
        } else if (!reached && !Running(state) && now == service_state::kRunning) {
            reached = RequestServiceState(manager, ticks, service, service_control::kStop, service_state::kStopped);
        }
        ServiceConfig config;
        if (!manager.QueryConfig(service, &config)) return false;
        if (config.startType != startType) {
            config.startType = startType;
            if (!manager.ChangeConfig(service, config)) return false;
        }
        return reached;
    });
}

bool ControlDeviceService(ServiceManager& manager, Ticks& ticks, std::string_view command,
                          std::string_view serviceName) {
    const ServiceHandle scm = manager.OpenManager();
    if (scm == nullptr) return false;
    const ServiceHandle service = manager.OpenNamedService(scm, WideName(serviceName));
    if (service == nullptr) {
        manager.Close(scm);
        return false;
    }
    std::uint32_t state = 0;
    const bool result = manager.QueryState(service, &state) && Act(manager, ticks, service, command, state);
    manager.Close(service);
    manager.Close(scm);
    return result;
}

bool RequestServiceState(ServiceManager& manager, Ticks& ticks, ServiceHandle service, std::uint32_t request,
                         std::uint32_t targetState) {
    const bool issued = request == kStartRequest ? manager.Start(service) : manager.Control(service, request);
    if (!issued) return false;
    std::uint32_t state = 0;
    for (std::uint32_t query = 0; query < kServiceStatusQueries; ++query) {
        ticks.Sleep(kServiceQueryPauseMs);
        if (!manager.QueryState(service, &state) || state == targetState) break;
    }
    return manager.QueryState(service, &state) && state == targetState;
}

void SetServiceStartType(ServiceManager& manager, ServiceHandle service, std::uint32_t startType) {
    ServiceConfig config;
    if (!manager.QueryConfig(service, &config)) return;
    config.startType = startType;
    manager.ChangeConfig(service, config);
}

}  // namespace flashwise::update
