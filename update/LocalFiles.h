#pragma once
// The files the program writes into its working folder, as the update logic handles
// them. Every call that fails reports the system's error code read right after it.

#include <cstdint>
#include <filesystem>

namespace flashwise::update {

using LocalFile = void*;

class LocalFiles {
public:
    virtual ~LocalFiles() = default;
    static LocalFile Invalid() { return nullptr; }

    // Creates or replaces the file, hidden, for reading and writing. `shareDelete`
    // lets others delete it while it is open; otherwise nobody shares it.
    virtual LocalFile Create(const std::filesystem::path& path, bool shareDelete, std::uint32_t* error) = 0;
    // An existing file for reading and writing, shared for reading and deletion.
    virtual LocalFile OpenForCopy(const std::filesystem::path& path) = 0;
    virtual bool Write(LocalFile file, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written,
                       std::uint32_t* error) = 0;
    virtual bool Read(LocalFile file, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) = 0;
    virtual void Close(LocalFile file) = 0;
    // Opens the file for reading and closes it again.
    virtual bool CanOpenForReading(const std::filesystem::path& path) = 0;
    virtual bool Delete(const std::filesystem::path& path) = 0;
};

}  // namespace flashwise::update
