#pragma once
// The 468-byte ROM information record that the phone's hardware layer fills in for
// control code 0x01012008. Its inner layout belongs to the phone; this is the layout
// of the simulated phone, and DeviceSpy reads it the same way:
//
//   offset  size  field
//        0     4  record size, 468 (written by the caller, checked by the phone)
//        4     4  layout version, 1 (written by the phone)
//        8    64  ROM version, 32 UTF-16 units, NUL-padded
//       72    64  extended-ROM version, 32 UTF-16 units, NUL-padded
//      136    16  language code, 8 UTF-16 units, NUL-padded (e.g. "WWE")
//      152   316  reserved, zero
//
// Words are little-endian. A text that fills its field has no terminator.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace flashwise::phone {

constexpr std::size_t kRomRecordSize = 468;
constexpr std::uint32_t kRomRecordLayout = 1;

using RomRecord = std::array<std::uint8_t, kRomRecordSize>;

struct RomInfo {
    std::u16string romVersion;
    std::u16string extRomVersion;
    std::u16string language;
};

// A record as the caller hands it over: cleared, with its size word set.
RomRecord EmptyRomRecord();
bool RomRecordSizeOk(const RomRecord& record);

// The phone's side. Texts longer than their field are cut.
void FillRomRecord(const RomInfo& info, RomRecord& record);

RomInfo ReadRomRecord(const RomRecord& record);

}  // namespace flashwise::phone
