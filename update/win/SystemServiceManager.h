#pragma once
// The service control manager of this machine.

#include "update/ServiceManager.h"

namespace flashwise::update {

class SystemServiceManager final : public ServiceManager {
public:
    ServiceHandle OpenManager() override;
    ServiceHandle OpenNamedService(ServiceHandle manager, std::u16string_view name) override;
    bool QueryState(ServiceHandle service, std::uint32_t* state) override;
    bool Start(ServiceHandle service) override;
    bool Control(ServiceHandle service, std::uint32_t control) override;
    bool QueryConfig(ServiceHandle service, ServiceConfig* config) override;
    bool ChangeConfig(ServiceHandle service, const ServiceConfig& config) override;
    void Close(ServiceHandle handle) override;
};

}  // namespace flashwise::update
