#pragma once
// The "[phone]" section of the simulated phone's state file and what the phone does
// to it. Keys (all optional):
//
//   reachable=1              0: the desktop software cannot reach the phone
//   battery=80               battery life in percent, 255 for unknown
//   os=5.2                   the phone's system version (major.minor)
//   os_build=0
//   oem=Model-A              the OEM information text (the model identity)
//   oem_error=0x7A           the OEM query fails with this last error instead
//   rom=3.10.404.1           ROM version in the ROM record
//   extrom=1.05.01           extended-ROM version in the ROM record
//   language=WWE             language code in the ROM record
//   rom_record=0             0: the ROM record call fails
//   radio=1.27.00.10         radio revision; radio_answers=0 keeps the radio silent
//   connect_delay_ms=0       how long a connection takes to come up (at most 120000)
//   connect_result=0x80004005  a connection attempt ends with this failure instead
//   mode=normal              normal or bootloader (the phone then has no desktop link)
//   boot_next=normal         what the next restart starts; DeviceMode sets bootloader
//   boot_loader_starts=1     0: a restart into the boot loader starts the phone normally
//   restarts=0               restarts so far
//
// What the Remote API double and the phone's DeviceSpy do on demand, and the desktop's
// hold on the phone ("[desktop]", DesktopLink.h), are listed in sim/phone/README.md.

#include <cstdint>
#include <optional>
#include <string>

#include "sim/phone/DesktopLink.h"
#include "sim/phone/IniDocument.h"

namespace flashwise::simphone {

constexpr char kPhoneSection[] = "phone";
constexpr std::uint32_t kConnectDelayLimitMs = 120000;
constexpr std::uint32_t kGrownValueLimit = 65536;

struct PhoneSettings {
    bool reachable = true;
    std::uint32_t battery = 100;
    std::uint32_t osMajor = 5;
    std::uint32_t osMinor = 2;
    std::uint32_t osBuild = 0;
    std::string oem;
    std::optional<std::uint32_t> oemError;
    bool romRecord = true;
    std::string rom;
    std::string extRom;
    std::string language;
    std::string radio;
    bool radioAnswers = true;
    std::uint32_t connectDelayMs = 0;
    std::optional<std::uint32_t> connectResult;
    bool inBootLoader = false;
    bool bootLoaderAtRestart = false;
    bool bootLoaderStarts = true;
    std::uint32_t restarts = 0;

    // The Remote API double's misbehaviour on demand.
    std::optional<std::uint32_t> initResult;       // what CeRapiInit returns
    bool initBlocks = false;                       // CeRapiInit waits while this holds
    std::optional<std::uint32_t> initExReturn;     // what CeRapiInitEx itself returns
    std::optional<std::uint32_t> initExResult;     // the result its attempt ends with
    bool initExCompletes = true;                   // false: its attempt never ends
    std::optional<std::uint32_t> rootProbeError;   // opening the registry root fails so
    bool powerQuery = true;
    bool versionQuery = true;
    std::string createFileFails;                   // this phone path cannot be created
    std::uint32_t createFileError = 5;             // ERROR_ACCESS_DENIED
    std::optional<std::uint32_t> writeShortAt;     // phone files stop growing at this byte
    std::uint32_t createProcessError = 0;          // nonzero: no program starts
    std::string growValue;                         // this value grows after its size query
    std::uint32_t growToBytes = 0;

    // The phone's DeviceSpy run.
    bool deviceSpyWrites = true;
    std::uint32_t deviceSpyDelayMs = 0;

    DesktopLink desktop;

    // The desktop software can talk to the phone.
    bool Connectable() const { return reachable && !inBootLoader && desktop.SyncLinkUp(); }
};

// Nullopt with *error naming the key for a value that does not parse.
std::optional<PhoneSettings> ReadPhoneSettings(const IniDocument& document, std::string* error = nullptr);

// The hardware layer's boot-mode word: 1 marks the boot loader for the next restart.
void SetBootModeWord(IniDocument& document, std::uint32_t word);

// A restart: into the boot loader when it was marked (and the phone's boot loader
// starts), else normal; the mark is used up.
void Restart(IniDocument& document);

}  // namespace flashwise::simphone
