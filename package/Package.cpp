#include "package/Package.h"

#include <atomic>
#include <optional>
#include <vector>

#include "package/LayerRule.h"
#include "package/StringTable.h"
#include "package/TextTemplate.h"

namespace flashwise::package {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 code units");

namespace {

// Set once at start-up, read from the page and worker threads afterwards.
std::atomic<HMODULE> g_packageModule{nullptr};
std::atomic<HMODULE> g_stringSource{nullptr};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

// FindResourceExW falls back to other languages when asked for language 0, so the
// exact language is confirmed from the module's own list first.
std::optional<ByteView> FindExact(HMODULE module, LPCWSTR type, unsigned id, std::uint16_t language) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module, type, MAKEINTRESOURCEW(id), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    bool present = false;
    for (WORD l : languages) {
        present = present || l == language;
    }
    if (!present) {
        return std::nullopt;
    }
    HRSRC info = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
    if (info == nullptr) {
        return std::nullopt;
    }
    HGLOBAL handle = LoadResource(module, info);
    if (handle == nullptr) {
        return std::nullopt;
    }
    const void* data = LockResource(handle);
    const DWORD size = SizeofResource(module, info);
    if (data == nullptr && size != 0) {
        return std::nullopt;
    }
    return ByteView{static_cast<const std::uint8_t*>(data), size};
}

std::optional<ByteView> FindLayered(LPCWSTR type, unsigned id) {
    HMODULE module = PackageModule();
    const LayeredEntry entry = LookupByLayer(
        [&](std::uint16_t language) { return FindExact(module, type, id, language); });
    if (entry.layer == Layer::Missing) {
        return std::nullopt;
    }
    return entry.bytes;
}

std::optional<std::u16string> StringFromSource(HMODULE module, unsigned id) {
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(StringBlockId(id)), MAKEINTRESOURCEW(6) /* RT_STRING */);
    if (info == nullptr) {
        return std::nullopt;
    }
    HGLOBAL handle = LoadResource(module, info);
    const void* data = handle != nullptr ? LockResource(handle) : nullptr;
    if (data == nullptr) {
        return std::nullopt;
    }
    return StringFromBlock({static_cast<const std::uint8_t*>(data), SizeofResource(module, info)}, id);
}

}  // namespace

void SetPackageModule(HMODULE module) { g_packageModule = module; }

HMODULE PackageModule() {
    HMODULE module = g_packageModule;
    return module != nullptr ? module : GetModuleHandleW(nullptr);
}

void SetStringSource(HMODULE module) { g_stringSource = module; }

HMODULE StringSource() {
    HMODULE module = g_stringSource;
    return module != nullptr ? module : GetModuleHandleW(nullptr);
}

std::wstring ReadReleaseText(unsigned id, ReleaseTextRule rule) {
    return ToWide(ApplyReleaseTextRule(FindLayered(L"TXT", id), rule));
}

bool ReadBinary(unsigned id, Binary& out) {
    auto entry = FindLayered(L"BIN", id);
    if (!entry) {
        return false;
    }
    out.data = entry->data;
    out.size = entry->size;
    return true;
}

bool LoadPackageString(unsigned id, std::wstring& destination) {
    HMODULE source = StringSource();
    std::u16string text;
    if (!LoadStringInto([source](unsigned wanted) { return StringFromSource(source, wanted); }, id, text)) {
        return false;
    }
    destination = ToWide(text);
    return true;
}

std::wstring FillTemplate(const std::wstring& text, const std::wstring& name) {
    return ToWide(package::FillTemplate(FromWide(text), FromWide(name)));
}

std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

std::u16string FromWide(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace flashwise::package
