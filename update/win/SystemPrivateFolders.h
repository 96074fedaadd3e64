#pragma once
// Private work folders on Windows: under the system's own Temp folder, with an explicit,
// protected access list (SYSTEM and Administrators, full control, inherited by
// everything made inside), held open without delete sharing so nobody can move them.

#include <map>
#include <string>

#include "update/PrivateFolder.h"

namespace flashwise::update {

class SystemPrivateFolders final : public PrivateFolders {
public:
    ~SystemPrivateFolders() override;
    // The security descriptor every folder is created with, as a descriptor string.
    static std::wstring AccessText();
    std::filesystem::path Base() override;
    std::uint32_t RandomToken() override;
    Made Create(const std::filesystem::path& folder) override;
    void Remove(const std::filesystem::path& folder) override;

private:
    std::map<std::filesystem::path, void*> held_;
};

}  // namespace flashwise::update
