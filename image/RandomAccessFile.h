#pragma once
// A binary file with 64-bit positions, the same on Linux and Windows.
// Kept free of platform headers so the image code stays portable.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace flashwise {

class RandomAccessFile {
public:
    enum class Mode {
        Read,            // existing file, read only
        ReadWrite,       // existing file, read and write
        CreateReadWrite  // created or emptied, read and write
    };

    RandomAccessFile() = default;
    ~RandomAccessFile();
    RandomAccessFile(const RandomAccessFile&) = delete;
    RandomAccessFile& operator=(const RandomAccessFile&) = delete;

    bool Open(const std::filesystem::path& path, Mode mode);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

    bool Seek(std::uint64_t offset);
    // Returns the number of bytes read; fewer than asked only at the end of the file or on error.
    std::size_t Read(void* buffer, std::size_t count);
    std::size_t Write(const void* buffer, std::size_t count);
    bool Flush();
    // Length of the open file, or 0 when none is open. Keeps the current position.
    std::uint64_t Length();

private:
    std::FILE* file_ = nullptr;
};

}  // namespace flashwise
