#pragma once
// How DeviceSpy turns what the phone reports into the texts it leaves in the registry.

#include <cstdint>
#include <optional>
#include <string>

#include "helpers/phone/RomRecord.h"

namespace flashwise::phone {

// What DeviceSpy writes when a source gave nothing usable.
extern const char16_t kUnavailableText[];  // "Error"

struct VersionTexts {
    std::u16string rom;      // "vROM"
    std::u16string extRom;   // "vExtROM": ends in the three-letter language code
    std::u16string radio;    // "vRadio"
};

// romRecord empty when the hardware call failed; radioRevision empty when the radio
// did not answer. The updater takes the language from the last three characters of
// vExtROM, so the language goes last, after a blank.
VersionTexts MakeVersionTexts(const std::optional<RomRecord>& romRecord,
                              const std::optional<std::string>& radioRevision);

// The model identity text of the OEM information query.
constexpr std::uint32_t kErrorInsufficientBuffer = 0x7A;
std::u16string IdentityAfterFailedQuery(std::uint32_t lastError);

}  // namespace flashwise::phone
