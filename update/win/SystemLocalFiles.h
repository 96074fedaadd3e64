#pragma once
// Files of the working folder through the kernel's file calls.

#include "update/LocalFiles.h"

namespace flashwise::update {

class SystemLocalFiles final : public LocalFiles {
public:
    LocalFile Create(const std::filesystem::path& path, std::uint32_t* error) override;
    LocalFile OpenForCopy(const std::filesystem::path& path) override;
    bool Write(LocalFile file, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written,
               std::uint32_t* error) override;
    bool Read(LocalFile file, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) override;
    void Close(LocalFile file) override;
    bool CanOpenForReading(const std::filesystem::path& path) override;
    bool Delete(const std::filesystem::path& path) override;
};

}  // namespace flashwise::update
