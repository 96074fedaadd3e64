#pragma once
// The Remote API on the real system: "Rapi.dll" bound on first use from the system
// folder only. While the library cannot be bound every operation fails as the library
// would when it has no phone; the next call tries to bind it again.

#include "update/RapiApi.h"

namespace flashwise::update {

class SystemRapi final : public RapiApi {
public:
    RapiResult Init() override;
    std::unique_ptr<RapiInitRequest> InitEx() override;
    RapiResult Uninit() override;
    std::uint32_t LastError() override;
    RapiHandle CreatePhoneFile(std::u16string_view phonePath) override;
    bool WritePhoneFile(RapiHandle file, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written) override;
    bool SetPhoneEndOfFile(RapiHandle file) override;
    bool ClosePhoneHandle(RapiHandle handle) override;
    bool StartPhoneProcess(std::u16string_view name, RapiHandle* process, RapiHandle* thread) override;
    std::int32_t OpenPhoneKey(RapiKey root, std::u16string_view subKey, RapiKey* key) override;
    std::int32_t QueryPhoneValue(RapiKey key, std::u16string_view name, std::uint32_t* type, std::uint8_t* data,
                               std::uint32_t* size) override;
    std::int32_t ClosePhoneKey(RapiKey key) override;
    bool GetPowerStatus(RapiPowerStatus* status, bool refresh) override;
    bool GetVersion(RapiVersion* version) override;
};

}  // namespace flashwise::update
