#include "update/win/SystemLocalFiles.h"

#include <windows.h>

namespace flashwise::update {
namespace {

LocalFile FromHandle(HANDLE file) { return file == INVALID_HANDLE_VALUE ? LocalFiles::Invalid() : file; }

}  // namespace

LocalFile SystemLocalFiles::Create(const std::filesystem::path& path, std::uint32_t* error) {
    // Created new: an existing file keeps its owner and access list through a replace.
    // Shared for reading only, so the image object can read it while this handle is held.
    const HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE) *error = GetLastError();
    return FromHandle(file);
}

LocalFile SystemLocalFiles::OpenForCopy(const std::filesystem::path& path) {
    return FromHandle(CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
}

bool SystemLocalFiles::Write(LocalFile file, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written,
                             std::uint32_t* error) {
    DWORD done = 0;
    const BOOL ok = WriteFile(file, data, size, &done, nullptr);
    // Read before anything else can change it.
    if (!ok) *error = GetLastError();
    *written = done;
    return ok != FALSE;
}

bool SystemLocalFiles::Read(LocalFile file, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) {
    DWORD done = 0;
    const BOOL ok = ReadFile(file, buffer, size, &done, nullptr);
    *read = done;
    return ok != FALSE;
}

void SystemLocalFiles::Close(LocalFile file) { CloseHandle(file); }

bool SystemLocalFiles::CanOpenForReading(const std::filesystem::path& path) {
    const HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool SystemLocalFiles::Delete(const std::filesystem::path& path) {
    return DeleteFileW(path.wstring().c_str()) != FALSE;
}

}  // namespace flashwise::update
