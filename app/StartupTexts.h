#pragma once
// Ids and names start-up relies on.

#include <cstdint>
#include <string_view>

namespace flashwise::app {

// String-table texts.
constexpr unsigned kTextRapiMissing = 24;
constexpr unsigned kTextWinUsbMissing = 39;
constexpr unsigned kTextNotice = 40;

// Release texts.
constexpr unsigned kTxtModelIdentity = 160;
constexpr unsigned kTxtModelDisplayName = 161;

// The only language with a translation of its own, and the abbreviation that names it.
constexpr std::uint16_t kSatelliteUiLanguage = 0x0404;
inline constexpr std::u16string_view kSatelliteAbbreviation = u"CHT";

inline constexpr std::u16string_view kWinUsbLibrary = u"Winusb.dll";
inline constexpr std::u16string_view kRapiLibrary = u"Rapi.dll";

}  // namespace flashwise::app
