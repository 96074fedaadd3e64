#include "image/WorkFolder.h"

#include <string>
#include <system_error>

namespace flashwise {

WorkFolder::WorkFolder(const std::filesystem::path& folder) {
    std::error_code error;
    folder_ = std::filesystem::absolute(folder, error);
    if (error) folder_ = folder;
}

WorkFolder WorkFolder::Current() {
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    return WorkFolder(error ? std::filesystem::path(".") : here);
}

std::filesystem::path WorkFolder::File(std::string_view name) const {
    return File(std::u16string(name.begin(), name.end()));
}

std::filesystem::path WorkFolder::File(std::u16string_view name) const {
    if (!IsBareFileName(name)) return {};
    return folder_ / std::filesystem::path(std::u16string(name));
}

std::filesystem::path WorkFolder::PrivateFolderIn(const std::filesystem::path& base, std::uint32_t token) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string name = "Flashwise-";
    for (int shift = 28; shift >= 0; shift -= 4) name += kDigits[(token >> shift) & 0xF];
    return base / name;
}

bool WorkFolder::IsBareFileName(std::u16string_view name) {
    if (name.empty() || name.back() == u'.' || name.back() == u' ') return false;
    for (const char16_t c : name) {
        if (c < 32) return false;
        for (const char16_t refused : u"\\/:*?\"<>|") {
            if (refused != 0 && c == refused) return false;
        }
    }
    // The system takes these names, with any extension, for devices wherever they stand.
    std::u16string stem(name.substr(0, name.find(u'.')));
    while (!stem.empty() && stem.back() == u' ') stem.pop_back();
    for (char16_t& c : stem) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    static const std::u16string_view kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    for (const std::u16string_view device : kDevices) {
        if (stem == device) return false;
    }
    if (stem.size() == 4 && (stem.compare(0, 3, u"COM") == 0 || stem.compare(0, 3, u"LPT") == 0) &&
        stem[3] >= u'0' && stem[3] <= u'9') {
        return false;
    }
    return true;
}

}  // namespace flashwise
