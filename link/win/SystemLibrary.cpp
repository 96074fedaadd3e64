#include "link/win/SystemLibrary.h"

namespace flashwise {

std::wstring SystemLibraryPath(std::wstring_view fileName) {
    std::wstring folder(MAX_PATH, L'\0');
    UINT length = GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    if (length >= folder.size()) {
        folder.resize(length);
        length = GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    }
    if (length == 0 || length >= folder.size()) {
        return {};
    }
    folder.resize(length);
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    return folder + std::wstring(fileName);
}

HMODULE LoadSystemLibrary(std::wstring_view fileName) {
    const std::wstring path = SystemLibraryPath(fileName);
    if (path.empty()) {
        return nullptr;
    }
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace flashwise
