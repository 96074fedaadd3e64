#include "helpers/DeviceSpy/VersionTexts.h"

namespace flashwise::phone {

const char16_t kUnavailableText[] = u"Error";

VersionTexts MakeVersionTexts(const std::optional<RomRecord>& romRecord,
                              const std::optional<std::string>& radioRevision)
{
    VersionTexts texts;
    if (romRecord && RomRecordSizeOk(*romRecord)) {
        const RomInfo info = ReadRomRecord(*romRecord);
        texts.rom = info.romVersion;
        texts.extRom = info.extRomVersion;
        if (!info.language.empty())
            texts.extRom += (texts.extRom.empty() ? u"" : u" ") + info.language;
    }
    if (texts.rom.empty())
        texts.rom = kUnavailableText;
    if (texts.extRom.empty())
        texts.extRom = kUnavailableText;
    if (radioRevision && !radioRevision->empty()) {
        // The radio reports plain ASCII; anything else is kept byte by byte.
        for (char c : *radioRevision)
            texts.radio.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    } else {
        texts.radio = kUnavailableText;
    }
    return texts;
}

std::u16string IdentityAfterFailedQuery(std::uint32_t lastError)
{
    return lastError == kErrorInsufficientBuffer ? u"NOT ENOUGH BUFFER" : u"Error";
}

}  // namespace flashwise::phone
