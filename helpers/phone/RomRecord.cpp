#include "helpers/phone/RomRecord.h"

namespace flashwise::phone {

namespace {

constexpr std::size_t kSizeAt = 0;
constexpr std::size_t kLayoutAt = 4;
constexpr std::size_t kRomAt = 8;
constexpr std::size_t kExtRomAt = 72;
constexpr std::size_t kLanguageAt = 136;
constexpr std::size_t kVersionUnits = 32;
constexpr std::size_t kLanguageUnits = 8;

void PutWord(RomRecord& record, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        record[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetWord(const RomRecord& record, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(record[at + i]) << (8 * i);
    return value;
}

void PutText(RomRecord& record, std::size_t at, std::size_t units, const std::u16string& text)
{
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = i < text.size() ? text[i] : u'\0';
        record[at + 2 * i] = static_cast<std::uint8_t>(c & 0xFF);
        record[at + 2 * i + 1] = static_cast<std::uint8_t>(c >> 8);
    }
}

std::u16string GetText(const RomRecord& record, std::size_t at, std::size_t units)
{
    std::u16string text;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = static_cast<char16_t>(record[at + 2 * i] | (record[at + 2 * i + 1] << 8));
        if (c == u'\0')
            break;
        text.push_back(c);
    }
    return text;
}

}  // namespace

RomRecord EmptyRomRecord()
{
    RomRecord record{};
    PutWord(record, kSizeAt, static_cast<std::uint32_t>(kRomRecordSize));
    return record;
}

bool RomRecordSizeOk(const RomRecord& record)
{
    return GetWord(record, kSizeAt) == kRomRecordSize;
}

void FillRomRecord(const RomInfo& info, RomRecord& record)
{
    PutWord(record, kLayoutAt, kRomRecordLayout);
    PutText(record, kRomAt, kVersionUnits, info.romVersion);
    PutText(record, kExtRomAt, kVersionUnits, info.extRomVersion);
    PutText(record, kLanguageAt, kLanguageUnits, info.language);
}

RomInfo ReadRomRecord(const RomRecord& record)
{
    RomInfo info;
    if (GetWord(record, kLayoutAt) != kRomRecordLayout)
        return info;
    info.romVersion = GetText(record, kRomAt, kVersionUnits);
    info.extRomVersion = GetText(record, kExtRomAt, kVersionUnits);
    info.language = GetText(record, kLanguageAt, kLanguageUnits);
    return info;
}

}  // namespace flashwise::phone
