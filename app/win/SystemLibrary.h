#pragma once
// Libraries of the desktop software are loaded from the system folder by full path
// only. The program runs as administrator, often from a download folder: a library
// of the same name planted beside it, or in the working folder, must never load.

#include <windows.h>

#include <string>
#include <string_view>

namespace flashwise::app {

// The system folder joined with the file name; empty when the folder is unknown.
std::wstring SystemLibraryPath(std::wstring_view fileName);

// Null when the library is not in the system folder or does not load. Libraries it
// needs in turn are looked for beside it first, not beside the program.
HMODULE LoadSystemLibrary(std::wstring_view fileName);

}  // namespace flashwise::app
