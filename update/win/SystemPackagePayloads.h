#pragma once
// Payloads and texts from the package of the running program.

#include "update/PackagePayloads.h"

namespace flashwise::update {

class SystemPackagePayloads final : public PackagePayloads {
public:
    bool ReadBinary(unsigned id, const std::uint8_t** data, std::size_t* size) override;
    std::u16string Text(unsigned id) override;
    std::u16string NewRomVersion() override;
};

}  // namespace flashwise::update
