#pragma once
// The files the program writes into its working folder, as the update logic handles
// them. Every call that fails reports the system's error code read right after it.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace flashwise::update {

using LocalFile = void*;

class LocalFiles {
public:
    virtual ~LocalFiles() = default;
    static LocalFile Invalid() { return nullptr; }

    // Creates the file new (a file already there is an error: it may belong to someone
    // else), hidden, for reading and writing. While it is open others may only read it:
    // nobody else can write, replace, rename or delete it.
    virtual LocalFile Create(const std::filesystem::path& path, std::uint32_t* error) = 0;
    // An existing file for reading only; while it is open others may only read it.
    virtual LocalFile OpenForCopy(const std::filesystem::path& path) = 0;
    virtual bool Write(LocalFile file, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written,
                       std::uint32_t* error) = 0;
    virtual bool Read(LocalFile file, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) = 0;
    virtual void Close(LocalFile file) = 0;
    // Opens the file for reading and closes it again.
    virtual bool CanOpenForReading(const std::filesystem::path& path) = 0;
    virtual bool Delete(const std::filesystem::path& path) = 0;
};

// Files kept open from their write to their last use, so that nobody can swap them in
// between; closed when let go.
class HeldFiles {
public:
    explicit HeldFiles(LocalFiles& files) : files_(files) {}
    HeldFiles(const HeldFiles&) = delete;
    HeldFiles& operator=(const HeldFiles&) = delete;
    ~HeldFiles() { Release(); }

    void Hold(LocalFile file) { held_.push_back(file); }
    void Release() {
        for (const LocalFile file : held_) files_.Close(file);
        held_.clear();
    }

private:
    LocalFiles& files_;
    std::vector<LocalFile> held_;
};

}  // namespace flashwise::update
