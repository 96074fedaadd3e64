#pragma once
// The program's own key of the local machine's registry, where the records that must
// outlive a process live, one subkey each.

#include <windows.h>

#include <cstdint>
#include <string>

namespace flashwise::update {

constexpr wchar_t kProgramKey[] = L"SOFTWARE\\Flashwise";

// The subkey `name` of the program's key; null when it cannot be opened or made.
HKEY OpenProgramSubkey(const wchar_t* name, bool create);
// Takes the subkey away, and the program's key with it once nothing else is in it.
void RemoveProgramSubkey(const wchar_t* name);

bool ReadNumber(HKEY key, const std::wstring& name, std::uint32_t* value);
bool ReadText(HKEY key, const std::wstring& name, std::wstring* value);
bool WriteNumber(HKEY key, const std::wstring& name, std::uint32_t value);
bool WriteText(HKEY key, const std::wstring& name, const std::wstring& text);

}  // namespace flashwise::update
