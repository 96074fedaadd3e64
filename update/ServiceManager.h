#pragma once
// The service control manager as the Vista path's service control uses it. States,
// control codes and start types carry the system's own values.

#include <cstdint>
#include <string_view>

namespace flashwise::update {

using ServiceHandle = void*;  // null: none

namespace service_state {
constexpr std::uint32_t kStopped = 1;
constexpr std::uint32_t kStartPending = 2;
constexpr std::uint32_t kStopPending = 3;
constexpr std::uint32_t kRunning = 4;
constexpr std::uint32_t kContinuePending = 5;
constexpr std::uint32_t kPausePending = 6;
constexpr std::uint32_t kPaused = 7;
}  // namespace service_state

namespace service_control {
constexpr std::uint32_t kStop = 1;
constexpr std::uint32_t kPause = 2;
constexpr std::uint32_t kContinue = 3;
}  // namespace service_control

namespace start_type {
constexpr std::uint32_t kAutomatic = 2;
constexpr std::uint32_t kDemand = 3;
constexpr std::uint32_t kDisabled = 4;
}  // namespace start_type

struct ServiceConfig {
    std::uint32_t serviceType = 0;
    std::uint32_t startType = 0;
    std::uint32_t errorControl = 0;
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // The local manager with full access.
    virtual ServiceHandle OpenManager() = 0;
    // The service with full access.
    virtual ServiceHandle OpenNamedService(ServiceHandle manager, std::u16string_view name) = 0;
    virtual bool QueryState(ServiceHandle service, std::uint32_t* state) = 0;
    // Start request with no arguments.
    virtual bool Start(ServiceHandle service) = 0;
    virtual bool Control(ServiceHandle service, std::uint32_t control) = 0;
    // The whole configuration record, read into a buffer large enough for it.
    virtual bool QueryConfig(ServiceHandle service, ServiceConfig* config) = 0;
    // The three settings given; every other setting left unchanged.
    virtual bool ChangeConfig(ServiceHandle service, const ServiceConfig& config) = 0;
    virtual void Close(ServiceHandle handle) = 0;
};

}  // namespace flashwise::update
