#include "sim/phone/PhoneRegistry.h"

#include <cstdlib>

#include "sim/phone/Utf16Text.h"

namespace flashwise::simphone {

namespace {

constexpr char kRoot[] = "HKLM";

std::string KeyName(const std::string& name)
{
    return name.empty() ? "@" : name;
}

bool PlainText(const std::string& text)
{
    if (!text.empty() && (text.front() == ' ' || text.back() == ' '))
        return false;
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseNumber(const std::string& text, std::uint32_t& number)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || parsed > 0xFFFFFFFFull || text[0] == '-')
        return false;
    number = static_cast<std::uint32_t>(parsed);
    return true;
}

}  // namespace

RegistryValue StringValue(const std::u16string& text)
{
    RegistryValue value;
    value.type = kRegSz;
    for (char16_t c : text) {
        value.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        value.data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    value.data.push_back(0);
    value.data.push_back(0);
    return value;
}

std::string EncodeRegistryValue(const RegistryValue& value)
{
    if (value.type == kRegDword && value.data.size() == 4) {
        const std::uint32_t n = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                (static_cast<std::uint32_t>(value.data[3]) << 24);
        return "dword:" + std::to_string(n);
    }
    if (value.type == kRegSz && value.data.size() >= 2 && value.data.size() % 2 == 0) {
        std::u16string text;
        for (std::size_t i = 0; i + 2 < value.data.size(); i += 2)
            text.push_back(static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8)));
        const std::string utf8 = Utf16ToUtf8(text);
        if (text.find(u'\0') == std::u16string::npos && PlainText(utf8) &&
            StringValue(Utf8ToUtf16(utf8)).data == value.data)
            return "sz:" + utf8;
    }
    static const char digits[] = "0123456789abcdef";
    std::string text = "hex(" + std::to_string(value.type) + "):";
    for (std::uint8_t byte : value.data) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0xF]);
    }
    return text;
}

std::optional<RegistryValue> DecodeRegistryValue(const std::string& text)
{
    if (text.rfind("sz:", 0) == 0)
        return StringValue(Utf8ToUtf16(text.substr(3)));
    if (text.rfind("dword:", 0) == 0) {
        std::uint32_t n = 0;
        if (!ParseNumber(text.substr(6), n))
            return std::nullopt;
        return RegistryValue{kRegDword, {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                                         static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)}};
    }
    if (text.rfind("hex(", 0) == 0) {
        const std::size_t close = text.find("):");
        RegistryValue value;
        if (close == std::string::npos || !ParseNumber(text.substr(4, close - 4), value.type))
            return std::nullopt;
        const std::string hex = text.substr(close + 2);
        if (hex.size() % 2 != 0)
            return std::nullopt;
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            const int high = HexDigit(hex[i]);
            const int low = HexDigit(hex[i + 1]);
            if (high < 0 || low < 0)
                return std::nullopt;
            value.data.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
        return value;
    }
    return std::nullopt;
}

std::optional<std::string> KeySection(const std::string& subKeyUtf8)
{
    std::size_t begin = subKeyUtf8.find_first_not_of('\\');
    if (begin == std::string::npos)
        return std::string(kRoot);
    const std::size_t end = subKeyUtf8.find_last_not_of('\\');
    const std::string path = subKeyUtf8.substr(begin, end - begin + 1);
    if (path.find("\\\\") != std::string::npos || path.find_first_of("[]") != std::string::npos)
        return std::nullopt;
    return std::string(kRoot) + "\\" + path;
}

bool PhoneRegistry::KeyExists(const std::string& section) const
{
    return EqualsIgnoringCase(section, kRoot) || document_.HasSection(section);
}

void PhoneRegistry::CreateKey(const std::string& section)
{
    for (std::size_t slash = section.find('\\'); slash != std::string::npos;
         slash = section.find('\\', slash + 1))
        document_.AddSection(section.substr(0, slash));
    document_.AddSection(section);
}

std::optional<RegistryValue> PhoneRegistry::GetValue(const std::string& section, const std::string& name) const
{
    const std::string* text = document_.Get(section, KeyName(name));
    if (!text)
        return std::nullopt;
    return DecodeRegistryValue(*text);
}

void PhoneRegistry::SetValue(const std::string& section, const std::string& name, const RegistryValue& value)
{
    CreateKey(section);
    document_.Set(section, KeyName(name), EncodeRegistryValue(value));
}

bool PhoneRegistry::DeleteValue(const std::string& section, const std::string& name)
{
    return document_.Remove(section, KeyName(name));
}

}  // namespace flashwise::simphone
