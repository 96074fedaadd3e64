#pragma once
// The simulated phone's registry, kept in the state file. A key is a section named
// after its path under the root, "HKLM" for HKEY_LOCAL_MACHINE itself and
// "HKLM\KROV\SYSVERSION" for a key below it. A value is a line "name=type:data":
//
//   ID=sz:Model-A          string (REG_SZ), stored as UTF-16 with one terminator
//   Count=dword:7          32-bit number (REG_DWORD), decimal or 0x...
//   ID=hex(1):4d0000...    any type with its bytes exactly, for data that a plain
//                          string would not round-trip (embedded terminators, padding)
//
// The unnamed value is "@". Only HKEY_LOCAL_MACHINE is simulated.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/phone/IniDocument.h"

namespace flashwise::simphone {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegDword = 4;

struct RegistryValue {
    std::uint32_t type = kRegSz;
    std::vector<std::uint8_t> data;
};

RegistryValue StringValue(const std::u16string& text);  // with its terminator

std::string EncodeRegistryValue(const RegistryValue& value);
std::optional<RegistryValue> DecodeRegistryValue(const std::string& text);

// "KROV\\SYSVERSION" -> "HKLM\\KROV\\SYSVERSION"; nullopt for an empty path component
// in the middle ("A\\\\B"). Leading and trailing backslashes are dropped.
std::optional<std::string> KeySection(const std::string& subKeyUtf8);

class PhoneRegistry {
public:
    explicit PhoneRegistry(IniDocument& document) : document_(document) {}

    bool KeyExists(const std::string& section) const;
    void CreateKey(const std::string& section);  // and its parents
    std::optional<RegistryValue> GetValue(const std::string& section, const std::string& name) const;
    void SetValue(const std::string& section, const std::string& name, const RegistryValue& value);
    bool DeleteValue(const std::string& section, const std::string& name);

private:
    IniDocument& document_;
};

}  // namespace flashwise::simphone
