#include "tests/res/ResourceReader.h"

#include <cstring>

namespace flashwise::test {

HMODULE LoadModuleUnderTest(int argc, wchar_t** argv, const wchar_t* defaultRelativePath, std::wstring& path) {
    if (argc > 1) {
        path = argv[1];
    } else {
        wchar_t self[MAX_PATH];
        const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring dir(self, n);
        dir = dir.substr(0, dir.find_last_of(L"\\/") + 1);
        path = dir + defaultRelativePath;
    }
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

namespace {

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

BOOL CALLBACK CollectId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
    if (IS_INTRESOURCE(name)) {
        reinterpret_cast<std::vector<unsigned>*>(param)->push_back(static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name)));
    }
    return TRUE;
}

class Cursor {
public:
    explicit Cursor(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool ok() const { return ok_; }
    void Align4() { at_ = (at_ + 3) & ~std::size_t{3}; }
    template <class T>
    T Read() {
        T value{};
        if (at_ + sizeof(T) > bytes_.size()) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, bytes_.data() + at_, sizeof(T));
        at_ += sizeof(T);
        return value;
    }
    std::wstring ReadString() {
        std::wstring s;
        for (;;) {
            const WORD c = Read<WORD>();
            if (!ok_ || c == 0) {
                return s;
            }
            s.push_back(static_cast<wchar_t>(c));
        }
    }
    NameOrOrdinal ReadNameOrOrdinal() {
        NameOrOrdinal n;
        const WORD first = Read<WORD>();
        if (first == 0xFFFF) {
            n.isOrdinal = true;
            n.ordinal = Read<WORD>();
        } else if (first != 0) {
            n.name.push_back(static_cast<wchar_t>(first));
            n.name += ReadString();
        }
        return n;
    }
    void Skip(std::size_t count) {
        if (at_ + count > bytes_.size()) {
            ok_ = false;
            return;
        }
        at_ += count;
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

}  // namespace

std::vector<WORD> LanguagesOf(HMODULE module, LPCWSTR type, LPCWSTR name) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module, type, name, CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

std::optional<std::vector<std::uint8_t>> ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
    bool present = false;
    for (WORD l : LanguagesOf(module, type, name)) {
        present = present || l == language;
    }
    if (!present) {
        return std::nullopt;
    }
    HRSRC info = FindResourceExW(module, type, name, language);
    HGLOBAL handle = info ? LoadResource(module, info) : nullptr;
    const auto* data = handle ? static_cast<const std::uint8_t*>(LockResource(handle)) : nullptr;
    if (data == nullptr) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(data, data + SizeofResource(module, info));
}

std::vector<unsigned> IdsOf(HMODULE module, LPCWSTR type) {
    std::vector<unsigned> ids;
    EnumResourceNamesW(module, type, CollectId, reinterpret_cast<LONG_PTR>(&ids));
    return ids;
}

std::optional<DialogTemplate> ParseDialog(const std::vector<std::uint8_t>& bytes) {
    Cursor c(bytes);
    DialogTemplate d;
    const WORD version = c.Read<WORD>();
    const WORD signature = c.Read<WORD>();
    if (!c.ok() || version != 1 || signature != 0xFFFF) {
        return std::nullopt;
    }
    d.extended = true;
    c.Read<DWORD>();  // help id
    d.exStyle = c.Read<DWORD>();
    d.style = c.Read<DWORD>();
    const WORD count = c.Read<WORD>();
    d.x = c.Read<short>();
    d.y = c.Read<short>();
    d.cx = c.Read<short>();
    d.cy = c.Read<short>();
    d.menu = c.ReadNameOrOrdinal();
    d.windowClass = c.ReadNameOrOrdinal();
    d.title = c.ReadString();
    if (d.style & (DS_SETFONT | DS_SHELLFONT)) {
        d.pointSize = c.Read<WORD>();
        d.weight = c.Read<WORD>();
        c.Read<BYTE>();  // italic
        c.Read<BYTE>();  // character set
        d.typeface = c.ReadString();
    }
    for (WORD i = 0; i < count && c.ok(); ++i) {
        c.Align4();
        DialogItem item;
        c.Read<DWORD>();  // help id
        item.exStyle = c.Read<DWORD>();
        item.style = c.Read<DWORD>();
        item.x = c.Read<short>();
        item.y = c.Read<short>();
        item.cx = c.Read<short>();
        item.cy = c.Read<short>();
        item.id = c.Read<DWORD>();
        item.windowClass = c.ReadNameOrOrdinal();
        item.title = c.ReadNameOrOrdinal();
        const WORD extra = c.Read<WORD>();
        c.Skip(extra);
        d.items.push_back(item);
    }
    if (!c.ok()) {
        return std::nullopt;
    }
    return d;
}

}  // namespace flashwise::test
