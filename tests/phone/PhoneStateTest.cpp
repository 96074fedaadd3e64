#include "sim/phone/DesktopLink.h"
#include "sim/phone/IniDocument.h"
#include "sim/phone/PhonePath.h"
#include "sim/phone/PhoneRegistry.h"
#include "sim/phone/PhoneSettings.h"
#include "sim/phone/Utf16Text.h"
#include "sim/phone/WorldLog.h"

#include <gtest/gtest.h>

namespace flashwise::simphone {
namespace {

IniDocument ParseOk(const std::string& text)
{
    std::string error;
    std::optional<IniDocument> document = IniDocument::Parse(text, &error);
    EXPECT_TRUE(document.has_value()) << error;
    return document.value_or(IniDocument());
}

TEST(IniDocument, ParsesLooksUpWithoutCaseAndWritesBackInOrder)
{
    IniDocument document = ParseOk("# phone\n[Phone]\r\n battery = 80 \nOEM=Model A=B\n\n[HKLM\\KROV]\n; none\n");
    ASSERT_NE(document.Get("phone", "BATTERY"), nullptr);
    EXPECT_EQ(*document.Get("phone", "battery"), "80");
    EXPECT_EQ(*document.Get("PHONE", "oem"), "Model A=B");
    EXPECT_TRUE(document.HasSection("hklm\\krov"));
    EXPECT_EQ(document.Get("phone", "radio"), nullptr);

    document.Set("phone", "Battery", "20");
    document.Set("phone", "radio", "1.0");
    EXPECT_EQ(document.Serialize(), "[Phone]\nbattery=20\nOEM=Model A=B\nradio=1.0\n\n[HKLM\\KROV]\n");
    EXPECT_TRUE(document.Remove("phone", "OEM"));
    EXPECT_FALSE(document.Remove("phone", "OEM"));
    EXPECT_EQ(ParseOk(document.Serialize()).Serialize(), document.Serialize());
}

TEST(IniDocument, RejectsMalformedLinesWithTheirNumber)
{
    std::string error;
    EXPECT_FALSE(IniDocument::Parse("key=value\n", &error));
    EXPECT_EQ(error, "line 1: expected key=value in a section");
    EXPECT_FALSE(IniDocument::Parse("[phone]\nbattery\n", &error));
    EXPECT_EQ(error, "line 2: expected key=value in a section");
    EXPECT_FALSE(IniDocument::Parse("[phone\n", &error));
    EXPECT_FALSE(IniDocument::Parse("[]\n", &error));
    EXPECT_FALSE(IniDocument::Parse("[phone]\n=5\n", &error));
}

TEST(PhoneRegistry, ValuesRoundTripThroughTheirText)
{
    const RegistryValue text = StringValue(u"Model-\u00C4");
    EXPECT_EQ(EncodeRegistryValue(text), "sz:Model-\xC3\x84");
    EXPECT_EQ(DecodeRegistryValue("sz:Model-\xC3\x84")->data, text.data);

    // A 2,048-byte identity buffer keeps its padding exactly.
    RegistryValue padded = StringValue(u"ID");
    padded.data.resize(2048, 0);
    const std::string encoded = EncodeRegistryValue(padded);
    EXPECT_EQ(encoded.rfind("hex(1):49004400", 0), 0u);
    const auto decoded = DecodeRegistryValue(encoded);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->type, kRegSz);
    EXPECT_EQ(decoded->data, padded.data);

    EXPECT_EQ(EncodeRegistryValue(*DecodeRegistryValue("dword:0x10")), "dword:16");
    EXPECT_EQ(EncodeRegistryValue(StringValue(u" lead")).rfind("hex(1):", 0), 0u);
    for (const char* bad : {"text", "dword:", "dword:-1", "dword:0x1FFFFFFFF", "hex(1):abc", "hex(1):zz", "hex(:00"})
        EXPECT_FALSE(DecodeRegistryValue(bad)) << bad;
}

TEST(PhoneRegistry, KeysValuesAndPaths)
{
    EXPECT_EQ(KeySection(""), "HKLM");
    EXPECT_EQ(KeySection("\\KROV\\SYSVERSION\\"), "HKLM\\KROV\\SYSVERSION");
    EXPECT_FALSE(KeySection("KROV\\\\SYSVERSION"));
    EXPECT_FALSE(KeySection("KROV]"));

    IniDocument document = ParseOk("[phone]\nbattery=80\n");
    PhoneRegistry registry(document);
    EXPECT_TRUE(registry.KeyExists("HKLM"));
    EXPECT_FALSE(registry.KeyExists("HKLM\\KROV\\SYSVERSION"));
    registry.CreateKey("HKLM\\KROV\\SYSVERSION");
    EXPECT_TRUE(registry.KeyExists("hklm\\krov"));
    registry.SetValue("HKLM\\KROV\\SYSVERSION", "vROM", StringValue(u"1.0"));
    registry.SetValue("HKLM\\KROV\\SYSVERSION", "", StringValue(u"default"));
    EXPECT_EQ(*document.Get("HKLM\\KROV\\SYSVERSION", "vrom"), "sz:1.0");
    EXPECT_EQ(*document.Get("HKLM\\KROV\\SYSVERSION", "@"), "sz:default");
    EXPECT_TRUE(registry.GetValue("HKLM\\KROV\\SYSVERSION", "VROM"));
    EXPECT_TRUE(registry.DeleteValue("HKLM\\KROV\\SYSVERSION", "vROM"));
    EXPECT_FALSE(registry.GetValue("HKLM\\KROV\\SYSVERSION", "vROM"));
    EXPECT_FALSE(registry.DeleteValue("HKLM\\KROV\\SYSVERSION", "vROM"));
}

TEST(PhoneSettings, DefaultsValuesAndRefusals)
{
    const auto defaults = ReadPhoneSettings(IniDocument());
    ASSERT_TRUE(defaults);
    EXPECT_TRUE(defaults->Connectable());
    EXPECT_EQ(defaults->battery, 100u);
    EXPECT_EQ(defaults->osMajor, 5u);
    EXPECT_EQ(defaults->osMinor, 2u);

    const auto set = ReadPhoneSettings(ParseOk(
        "[phone]\nreachable=0\nbattery=255\nos=5.1\noem_error=0x7A\nconnect_delay_ms=999999\nconnect_result=0x80004005\n"));
    ASSERT_TRUE(set);
    EXPECT_FALSE(set->Connectable());
    EXPECT_EQ(set->battery, 255u);
    EXPECT_EQ(set->osMinor, 1u);
    EXPECT_EQ(set->oemError, 0x7Au);
    EXPECT_EQ(set->connectDelayMs, kConnectDelayLimitMs);
    EXPECT_EQ(set->connectResult, 0x80004005u);

    const auto faults = ReadPhoneSettings(ParseOk("[phone]\ninitex_completes=0\ninit_blocks=1\ninit_result=0x8007000E\n"
                                                  "create_file_fails=\\windows\\DeviceMode.exe\nwrite_short_at=100\n"
                                                  "grow_value=vExtROM:4100\ndevicespy_delay_ms=999999\n"));
    ASSERT_TRUE(faults);
    EXPECT_FALSE(faults->initExCompletes);
    EXPECT_TRUE(faults->initBlocks);
    EXPECT_EQ(faults->initResult, 0x8007000Eu);
    EXPECT_EQ(faults->createFileFails, "\\windows\\DeviceMode.exe");
    EXPECT_EQ(faults->createFileError, 5u) << "access denied unless told otherwise";
    EXPECT_EQ(faults->writeShortAt, 100u);
    EXPECT_EQ(faults->growValue, "vExtROM");
    EXPECT_EQ(faults->growToBytes, 4100u);
    EXPECT_EQ(faults->deviceSpyDelayMs, kConnectDelayLimitMs);

    std::string error;
    for (const char* bad : {"battery=101", "battery=-1", "os=5", "os=5.", "os=.1", "os=a.b", "reachable=yes",
                            "mode=recovery", "connect_delay_ms=1s", "create_file_error=0", "grow_value=vROM",
                            "grow_value=vROM:4099", "grow_value=:4100", "grow_value=vROM:2", "power_query=no"}) {
        EXPECT_FALSE(ReadPhoneSettings(ParseOk(std::string("[phone]\n") + bad + "\n"), &error)) << bad;
        EXPECT_EQ(error.rfind("[phone] ", 0), 0u) << bad;
    }
}

TEST(DesktopLink, TheSyncLinkNeedsUsbAndBothServicesWhereTheWorldHasThem)
{
    struct Row {
        const char* desktop;
        bool syncLinkUp;
        bool holdsPhone;
    };
    const Row rows[] = {
        {"", true, false},  // no stand-in in this world: nothing holds the phone
        {"connection_types=10", true, true},
        {"connection_types=2", false, false},
        {"connection_types=0", false, false},
        {"WcesComm=running\nRapiMgr=running", true, true},
        {"WcesComm=stopped\nRapiMgr=running", false, true},
        {"WcesComm=stopped\nRapiMgr=start-pending", false, true},
        {"WcesComm=stopped\nRapiMgr=stopped", false, false},
    };
    for (const Row& row : rows) {
        const auto settings = ReadPhoneSettings(ParseOk(std::string("[phone]\n[desktop]\n") + row.desktop + "\n"));
        ASSERT_TRUE(settings) << row.desktop;
        EXPECT_EQ(settings->desktop.SyncLinkUp(), row.syncLinkUp) << row.desktop;
        EXPECT_EQ(settings->Connectable(), row.syncLinkUp) << row.desktop;
        EXPECT_EQ(settings->desktop.HoldsPhone(), row.holdsPhone) << row.desktop;
    }
    std::string error;
    EXPECT_FALSE(ReadPhoneSettings(ParseOk("[desktop]\nRapiMgr=paused\n"), &error));
    EXPECT_EQ(error, "[desktop] RapiMgr: bad value");
    EXPECT_FALSE(ReadPhoneSettings(ParseOk("[desktop]\nconnection_types=-8\n")));

    IniDocument document;
    SetConnectionTypes(document, 0);
    EXPECT_TRUE(SetServiceState(document, "wcescomm", ServiceState::StopPending));
    EXPECT_FALSE(SetServiceState(document, "Spooler", ServiceState::Running));
    EXPECT_EQ(document.Serialize(), "[desktop]\nconnection_types=0\nWcesComm=stop-pending\n");
}

TEST(WorldLog, LinesRoundTripAndBrokenLinesAreSkipped)
{
    WorldAct act;
    act.ms = 1234567;
    act.source = "rapi";
    act.act = "CeCreateFile";
    act.fields = {{"path", "\\My Documents\\100%.txt"}, {"handle", HexWord(0xC0DE)}, {"empty", ""}};
    const std::string line = FormatWorldAct(act);
    EXPECT_EQ(line, "1234567 rapi CeCreateFile path=\\My%20Documents\\100%25.txt handle=0x0000C0DE empty=\n");
    const auto acts = ParseWorldLog("12 x\n" + line + "x1 a b\n7 a b c\n8 scm start-type name=RapiMgr");
    ASSERT_EQ(acts.size(), 1u) << "a line without an act, a bad time, a bad field and an unfinished line are skipped";
    EXPECT_EQ(acts[0].ms, 1234567u);
    EXPECT_EQ(acts[0].Field("path"), "\\My Documents\\100%.txt");
    EXPECT_EQ(acts[0].Field("empty"), "");
    EXPECT_FALSE(acts[0].Field("size"));
}

TEST(PhoneSettings, RestartGoesToTheBootLoaderOnlyWhenMarked)
{
    IniDocument document;
    Restart(document);
    auto after = ReadPhoneSettings(document);
    EXPECT_FALSE(after->inBootLoader);
    EXPECT_EQ(after->restarts, 1u);

    SetBootModeWord(document, 1);
    EXPECT_TRUE(ReadPhoneSettings(document)->bootLoaderAtRestart);
    Restart(document);
    after = ReadPhoneSettings(document);
    EXPECT_TRUE(after->inBootLoader);
    EXPECT_FALSE(after->bootLoaderAtRestart);
    EXPECT_FALSE(after->Connectable());
    EXPECT_EQ(after->restarts, 2u);

    SetBootModeWord(document, 0);
    Restart(document);
    EXPECT_FALSE(ReadPhoneSettings(document)->inBootLoader);

    // A phone whose boot loader never comes up restarts normally, marked or not.
    document.Set(kPhoneSection, "boot_loader_starts", "0");
    SetBootModeWord(document, 1);
    Restart(document);
    after = ReadPhoneSettings(document);
    EXPECT_FALSE(after->inBootLoader);
    EXPECT_FALSE(after->bootLoaderStarts);
    EXPECT_EQ(after->restarts, 4u);
}

TEST(PhonePath, StaysInsideThePhonesFiles)
{
    EXPECT_EQ(PhoneFileRelativePath("\\windows\\DeviceSpy.exe"), "windows\\DeviceSpy.exe");
    for (const char* bad : {"", "windows\\a.exe", "\\windows\\..\\..\\x", "\\.\\x", "\\windows\\", "\\a\\\\b",
                            "\\C:\\x", "\\a/b", "\\a\\b.", "\\a\\b?"})
        EXPECT_FALSE(PhoneFileRelativePath(bad)) << bad;
    EXPECT_EQ(ProgramPhonePath("DeviceSpy"), "\\windows\\DeviceSpy.exe");
    EXPECT_EQ(ProgramPhonePath("tool.bin"), "\\windows\\tool.bin");
    EXPECT_EQ(ProgramPhonePath("\\temp\\x"), "\\temp\\x.exe");
}

TEST(Utf16Text, ConvertsBothWaysAndReplacesBrokenInput)
{
    EXPECT_EQ(Utf8ToUtf16("A\xC3\x84\xE2\x82\xAC\xF0\x9F\x98\x80"), u"A\u00C4\u20AC\U0001F600");
    EXPECT_EQ(Utf16ToUtf8(u"A\u00C4\u20AC\U0001F600"), "A\xC3\x84\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xFF" "a"), u"\uFFFDa");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace flashwise::simphone
