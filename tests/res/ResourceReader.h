#pragma once
// Reads the resources of a module loaded as data, the way a check sees them:
// exact languages, raw bytes, and dialog templates taken apart field by field.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace flashwise::test {

// Loads the module under test as data only. The path comes from the first
// command-line argument, else from the default relative to this program.
HMODULE LoadModuleUnderTest(int argc, wchar_t** argv, const wchar_t* defaultRelativePath, std::wstring& path);

std::vector<WORD> LanguagesOf(HMODULE module, LPCWSTR type, LPCWSTR name);
std::optional<std::vector<std::uint8_t>> ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language);
// Ids of every entry of a type (names given as strings are skipped).
std::vector<unsigned> IdsOf(HMODULE module, LPCWSTR type);

// A name or ordinal as dialog templates store them.
struct NameOrOrdinal {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::wstring name;
};

struct DialogItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
};

struct DialogTemplate {
    bool extended = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::wstring title;
    WORD pointSize = 0;
    WORD weight = 0;
    std::wstring typeface;
    std::vector<DialogItem> items;
};

// Parses an extended dialog template (DLGTEMPLATEEX); nothing when it is not one
// or is cut short.
std::optional<DialogTemplate> ParseDialog(const std::vector<std::uint8_t>& bytes);

}  // namespace flashwise::test
