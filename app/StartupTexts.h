#pragma once
// Names start-up relies on. Its resource ids are those of res/ResourceIds.h.

#include <cstdint>
#include <string_view>

namespace flashwise::app {

// The only language with a translation of its own, and the abbreviation that names it.
constexpr std::uint16_t kSatelliteUiLanguage = 0x0404;
inline constexpr std::u16string_view kSatelliteAbbreviation = u"CHT";

inline constexpr std::u16string_view kWinUsbLibrary = u"Winusb.dll";
inline constexpr std::u16string_view kRapiLibrary = u"Rapi.dll";

}  // namespace flashwise::app
