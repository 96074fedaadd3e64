#include "app/win/LibrarySearch.h"

#include <windows.h>

namespace flashwise::app {

void RestrictLibrarySearch() {
    // Looked up, not imported: older systems lack it, and a missing import would keep
    // the program from starting at all.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setDirectories =
        kernel ? reinterpret_cast<SetDirectories>(GetProcAddress(kernel, "SetDefaultDllDirectories")) : nullptr;
    if (setDirectories != nullptr && setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Without it, at least the current folder leaves the search.
    SetDllDirectoryW(L"");
}

}  // namespace flashwise::app
