#pragma once
// Paths on the simulated phone and where its files live on the desktop: the phone's
// "\windows\DeviceSpy.exe" is "<phone folder>\files\windows\DeviceSpy.exe".

#include <optional>
#include <string>

namespace flashwise::simphone {

// The path below the phone's files folder ("windows\\DeviceSpy.exe"), or nullopt for
// a path that is not absolute on the phone or would leave the phone's files
// ("..", ".", drive letters, empty components, characters no file name may hold).
std::optional<std::string> PhoneFileRelativePath(const std::string& phonePathUtf8);

// The phone's path of a program started by name: a bare name is looked for in
// \windows, and gets ".exe" when it has no extension.
std::string ProgramPhonePath(const std::string& nameUtf8);

}  // namespace flashwise::simphone
