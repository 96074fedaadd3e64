#include "sim/phone/PhoneSettings.h"

#include <algorithm>
#include <cstdlib>

namespace flashwise::simphone {

namespace {

class Reader {
public:
    Reader(const IniDocument& document, std::string* error) : document_(document), error_(error) {}

    bool ok = true;

    const std::string* Text(const char* key) const { return document_.Get(kPhoneSection, key); }

    void Number(const char* key, std::uint32_t& out)
    {
        if (const std::string* text = Text(key))
            ParseInto(key, *text, out);
    }

    void OptionalNumber(const char* key, std::optional<std::uint32_t>& out)
    {
        if (const std::string* text = Text(key)) {
            std::uint32_t n = 0;
            if (ParseInto(key, *text, n))
                out = n;
        }
    }

    void Flag(const char* key, bool& out)
    {
        if (const std::string* text = Text(key)) {
            if (*text == "1" || *text == "0")
                out = *text == "1";
            else
                Fail(key);
        }
    }

    void String(const char* key, std::string& out)
    {
        if (const std::string* text = Text(key))
            out = *text;
    }

    void Fail(const char* key)
    {
        if (ok && error_)
            *error_ = std::string("[phone] ") + key + ": bad value";
        ok = false;
    }

private:
    bool ParseInto(const char* key, const std::string& text, std::uint32_t& out)
    {
        char* end = nullptr;
        const unsigned long long n = std::strtoull(text.c_str(), &end, 0);
        if (text.empty() || text[0] == '-' || *end != '\0' || n > 0xFFFFFFFFull) {
            Fail(key);
            return false;
        }
        out = static_cast<std::uint32_t>(n);
        return true;
    }

    const IniDocument& document_;
    std::string* error_;
};

}  // namespace

std::optional<PhoneSettings> ReadPhoneSettings(const IniDocument& document, std::string* error)
{
    PhoneSettings s;
    Reader r(document, error);
    r.Flag("reachable", s.reachable);
    r.Number("battery", s.battery);
    if (s.battery > 100 && s.battery != 255)
        r.Fail("battery");
    if (const std::string* os = r.Text("os")) {
        const std::size_t dot = os->find('.');
        char* end = nullptr;
        const unsigned long major = std::strtoul(os->c_str(), &end, 10);
        const bool majorOk = dot != std::string::npos && end == os->c_str() + dot && dot > 0;
        const unsigned long minor = majorOk ? std::strtoul(os->c_str() + dot + 1, &end, 10) : 0;
        if (!majorOk || *end != '\0' || dot + 1 == os->size())
            r.Fail("os");
        else {
            s.osMajor = static_cast<std::uint32_t>(major);
            s.osMinor = static_cast<std::uint32_t>(minor);
        }
    }
    r.Number("os_build", s.osBuild);
    r.String("oem", s.oem);
    r.OptionalNumber("oem_error", s.oemError);
    r.Flag("rom_record", s.romRecord);
    r.String("rom", s.rom);
    r.String("extrom", s.extRom);
    r.String("language", s.language);
    r.String("radio", s.radio);
    r.Flag("radio_answers", s.radioAnswers);
    r.Number("connect_delay_ms", s.connectDelayMs);
    s.connectDelayMs = std::min(s.connectDelayMs, kConnectDelayLimitMs);
    r.OptionalNumber("connect_result", s.connectResult);
    if (const std::string* mode = r.Text("mode")) {
        if (*mode == "normal" || *mode == "bootloader")
            s.inBootLoader = *mode == "bootloader";
        else
            r.Fail("mode");
    }
    if (const std::string* next = r.Text("boot_next")) {
        if (*next == "normal" || *next == "bootloader")
            s.bootLoaderAtRestart = *next == "bootloader";
        else
            r.Fail("boot_next");
    }
    r.Number("restarts", s.restarts);
    r.Flag("boot_loader_starts", s.bootLoaderStarts);

    r.OptionalNumber("init_result", s.initResult);
    r.Flag("init_blocks", s.initBlocks);
    r.OptionalNumber("initex_return", s.initExReturn);
    r.OptionalNumber("initex_result", s.initExResult);
    r.Flag("initex_completes", s.initExCompletes);
    r.OptionalNumber("root_probe_error", s.rootProbeError);
    r.Flag("power_query", s.powerQuery);
    r.Flag("version_query", s.versionQuery);
    r.String("create_file_fails", s.createFileFails);
    r.Number("create_file_error", s.createFileError);
    if (s.createFileError == 0)
        r.Fail("create_file_error");
    r.OptionalNumber("write_short_at", s.writeShortAt);
    r.Number("create_process_error", s.createProcessError);
    if (const std::string* grow = r.Text("grow_value")) {
        // NAME:BYTES, an even size of at least one character and its terminator.
        const std::size_t colon = grow->rfind(':');
        char* end = nullptr;
        const unsigned long bytes = colon == std::string::npos ? 0 : std::strtoul(grow->c_str() + colon + 1, &end, 10);
        if (colon == std::string::npos || colon == 0 || colon + 1 == grow->size() || *end != '\0' || bytes < 4 ||
            bytes % 2 != 0 || bytes > kGrownValueLimit)
            r.Fail("grow_value");
        else {
            s.growValue = grow->substr(0, colon);
            s.growToBytes = static_cast<std::uint32_t>(bytes);
        }
    }
    r.Flag("devicespy_writes", s.deviceSpyWrites);
    r.Number("devicespy_delay_ms", s.deviceSpyDelayMs);
    s.deviceSpyDelayMs = std::min(s.deviceSpyDelayMs, kConnectDelayLimitMs);

    std::string desktopError;
    const std::optional<DesktopLink> desktop = ReadDesktopLink(document, &desktopError);
    if (!desktop) {
        if (r.ok && error)
            *error = desktopError;
        return std::nullopt;
    }
    s.desktop = *desktop;
    if (!r.ok)
        return std::nullopt;
    return s;
}

void SetBootModeWord(IniDocument& document, std::uint32_t word)
{
    document.Set(kPhoneSection, "boot_next", word == 1 ? "bootloader" : "normal");
}

void Restart(IniDocument& document)
{
    const std::string* next = document.Get(kPhoneSection, "boot_next");
    const std::string* starts = document.Get(kPhoneSection, "boot_loader_starts");
    const bool bootLoader = next && *next == "bootloader" && !(starts && *starts == "0");
    std::uint32_t restarts = 0;
    if (const std::string* count = document.Get(kPhoneSection, "restarts"))
        restarts = static_cast<std::uint32_t>(std::strtoul(count->c_str(), nullptr, 0));
    document.Set(kPhoneSection, "mode", bootLoader ? "bootloader" : "normal");
    document.Set(kPhoneSection, "boot_next", "normal");
    document.Set(kPhoneSection, "restarts", std::to_string(restarts + 1));
}

}  // namespace flashwise::simphone
