#include "app/SatelliteName.h"

namespace flashwise::app {

std::u16string ApplicationNameFromPath(std::u16string_view path) {
    const auto slash = path.find_last_of(u"\\/");
    std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of(u'.');
    if (dot != std::u16string_view::npos && dot != 0) {
        name = name.substr(0, dot);
    }
    return std::u16string(name);
}

std::u16string SatelliteLibraryName(std::u16string_view applicationName, std::u16string_view abbreviation) {
    std::u16string name(applicationName);
    name += abbreviation;
    name += u".dll";
    return name;
}

}  // namespace flashwise::app
