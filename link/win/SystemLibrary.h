#pragma once
// The program's one way to load a library of the system or of the desktop software:
// from the system folder by full path, never by a search. The program runs as
// administrator, often from a download folder, so a library of the same name planted
// beside it or in the working folder must never load. Winusb.dll, SetupAPI, Rapi.dll
// and the start-up probes all come through here.

#include <windows.h>

#include <string>
#include <string_view>

namespace flashwise {

// The system folder joined with the file name; empty when the folder is unknown.
std::wstring SystemLibraryPath(std::wstring_view fileName);

// Null when the library is not in the system folder or does not load. Libraries it
// needs in turn are looked for beside it first, not beside the program.
HMODULE LoadSystemLibrary(std::wstring_view fileName);

}  // namespace flashwise
