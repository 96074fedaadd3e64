#pragma once
// The package as the program sees it: release texts and payloads from the program
// file's own resources, user-visible strings from the active resource source.
// Windows build only.

#include <windows.h>

#include <cstddef>
#include <string>

#include "package/ReleaseText.h"
#include "res/ResourceIds.h"

namespace flashwise::package {

// The ids of the entries read here are those of res/ResourceIds.h (IDTXT_*, IDBIN_*),
// the header the resource scripts use too.

struct Binary {
    const void* data = nullptr;
    std::size_t size = 0;
};

// The module whose "TXT" and "BIN" entries are read: the program file unless a
// test points it at a library loaded as data. Null restores the program file.
void SetPackageModule(HMODULE module);
HMODULE PackageModule();

// Where string-table texts come from: the program file, or a satellite library
// loaded as data only. Null restores the program file.
void SetStringSource(HMODULE module);
HMODULE StringSource();

// "TXT" id by the layer rule, widened, under the caller's length rule.
std::wstring ReadReleaseText(unsigned id, ReleaseTextRule rule);

// "BIN" id by the layer rule. False when the entry is missing or cannot be loaded.
// The bytes stay valid as long as the package module stays loaded.
bool ReadBinary(unsigned id, Binary& out);

// String id from the active source. A missing id leaves the destination unchanged
// and returns false.
bool LoadPackageString(unsigned id, std::wstring& destination);

// Every "KROV_WORD_TEMPLATE" replaced by the name.
std::wstring FillTemplate(const std::wstring& text, const std::wstring& name);

// Conversions between the portable text type and Windows wide strings.
std::wstring ToWide(const std::u16string& text);
std::u16string FromWide(const std::wstring& text);

}  // namespace flashwise::package
