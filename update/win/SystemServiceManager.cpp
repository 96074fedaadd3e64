#include "update/win/SystemServiceManager.h"

#include <windows.h>

#include <string>
#include <vector>

namespace flashwise::update {
namespace {
SC_HANDLE Sc(ServiceHandle handle) { return static_cast<SC_HANDLE>(handle); }
}  // namespace

ServiceHandle SystemServiceManager::OpenManager() { return OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS); }

ServiceHandle SystemServiceManager::OpenNamedService(ServiceHandle manager, std::u16string_view name) {
    const std::wstring wide(name.begin(), name.end());
    return OpenServiceW(Sc(manager), wide.c_str(), SERVICE_ALL_ACCESS);
}

bool SystemServiceManager::QueryState(ServiceHandle service, std::uint32_t* state) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(Sc(service), &status)) return false;
    *state = status.dwCurrentState;
    return true;
}

bool SystemServiceManager::Start(ServiceHandle service) { return StartServiceW(Sc(service), 0, nullptr) != FALSE; }

bool SystemServiceManager::Control(ServiceHandle service, std::uint32_t control) {
    SERVICE_STATUS status{};
    return ControlService(Sc(service), control, &status) != FALSE;
}

bool SystemServiceManager::QueryConfig(ServiceHandle service, ServiceConfig* config) {
    DWORD needed = 0;
    QueryServiceConfigW(Sc(service), nullptr, 0, &needed);
    if (needed == 0) return false;
    std::vector<std::uint8_t> buffer(needed);
    auto* record = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(Sc(service), record, needed, &needed)) return false;
    config->serviceType = record->dwServiceType;
    config->startType = record->dwStartType;
    config->errorControl = record->dwErrorControl;
    return true;
}

bool SystemServiceManager::ChangeConfig(ServiceHandle service, const ServiceConfig& config) {
    return ChangeServiceConfigW(Sc(service), config.serviceType, config.startType, config.errorControl, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != FALSE;
}

void SystemServiceManager::Close(ServiceHandle handle) { CloseServiceHandle(Sc(handle)); }

}  // namespace flashwise::update
