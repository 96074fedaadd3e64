#pragma once
// Dialog layouts and icons come from the active resource source (a translation
// library when start-up loaded one). A translation that lacks an entry falls back
// to the program file, so a partial translation still shows every page.

#include <windows.h>

namespace flashwise::app {

// The module that holds the entry: the active source when it has it, else the
// program file. Null when neither has it.
HMODULE ResourceModuleFor(LPCWSTR type, LPCWSTR name);

}  // namespace flashwise::app
