#pragma once
// Names the translated resource library after the program: Tool.exe looks for
// ToolCHT.dll.

#include <string>
#include <string_view>

namespace flashwise::app {

// The file name without folder and without its last extension.
std::u16string ApplicationNameFromPath(std::u16string_view path);

// "%s%s.dll" of the application name and the language abbreviation.
std::u16string SatelliteLibraryName(std::u16string_view applicationName, std::u16string_view abbreviation);

}  // namespace flashwise::app
