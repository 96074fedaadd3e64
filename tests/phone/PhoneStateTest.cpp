#include "sim/phone/IniDocument.h"
#include "sim/phone/PhonePath.h"
#include "sim/phone/PhoneRegistry.h"
#include "sim/phone/PhoneSettings.h"
#include "sim/phone/Utf16Text.h"

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

    std::string error;
    for (const char* bad : {"battery=101", "battery=-1", "os=5", "os=5.", "os=.1", "os=a.b", "reachable=yes",
                            "mode=recovery", "connect_delay_ms=1s"}) {
        EXPECT_FALSE(ReadPhoneSettings(ParseOk(std::string("[phone]\n") + bad + "\n"), &error)) << bad;
        EXPECT_EQ(error.rfind("[phone] ", 0), 0u) << bad;
    }
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
