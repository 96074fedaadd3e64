#include "helpers/DeviceSpy/VersionTexts.h"
#include "helpers/phone/RomRecord.h"

#include <gtest/gtest.h>

namespace flashwise::phone {
namespace {

RomRecord PhoneRecord(const RomInfo& info)
{
    RomRecord record = EmptyRomRecord();
    FillRomRecord(info, record);
    return record;
}

TEST(RomRecord, LayoutIsFixed)
{
    const RomRecord record = PhoneRecord({u"1.23.456.7", u"2.01.0", u"WWE"});
    EXPECT_EQ(record.size(), 468u);
    EXPECT_EQ(record[0], 0xD4);  // 468 = 0x1D4, little-endian
    EXPECT_EQ(record[1], 0x01);
    EXPECT_EQ(record[4], 1);
    EXPECT_EQ(record[8], '1');
    EXPECT_EQ(record[9], 0);
    EXPECT_EQ(record[72], '2');
    EXPECT_EQ(record[136], 'W');
    EXPECT_EQ(record[140], 'E');
    for (std::size_t i = 152; i < record.size(); ++i)
        ASSERT_EQ(record[i], 0) << i;
}

TEST(RomRecord, TextsRoundTripAndOverlongOnesAreCut)
{
    const std::u16string longVersion(40, u'9');
    const RomInfo info = ReadRomRecord(PhoneRecord({longVersion, u"", u"CHT-LONG-CODE"}));
    EXPECT_EQ(info.romVersion, std::u16string(32, u'9'));
    EXPECT_EQ(info.extRomVersion, u"");
    EXPECT_EQ(info.language, u"CHT-LONG");
}

TEST(RomRecord, RecordNotFilledByThePhoneReadsEmpty)
{
    const RomInfo info = ReadRomRecord(EmptyRomRecord());
    EXPECT_TRUE(info.romVersion.empty());
    EXPECT_TRUE(info.language.empty());
}

TEST(VersionTexts, ExtendedRomEndsInTheLanguage)
{
    const VersionTexts texts =
        MakeVersionTexts(PhoneRecord({u"3.10.404.1", u"1.05.01", u"CHT"}), std::string("1.27.00.10"));
    EXPECT_EQ(texts.rom, u"3.10.404.1");
    EXPECT_EQ(texts.extRom, u"1.05.01 CHT");
    EXPECT_EQ(texts.extRom.substr(texts.extRom.size() - 3), u"CHT");
    EXPECT_EQ(texts.radio, u"1.27.00.10");

    EXPECT_EQ(MakeVersionTexts(PhoneRecord({u"1", u"", u"WWE"}), std::nullopt).extRom, u"WWE");
}

TEST(VersionTexts, MissingSourcesGiveTheErrorText)
{
    const VersionTexts none = MakeVersionTexts(std::nullopt, std::nullopt);
    EXPECT_EQ(none.rom, u"Error");
    EXPECT_EQ(none.extRom, u"Error");
    EXPECT_EQ(none.radio, u"Error");

    // A record whose size word the phone did not accept is not trusted.
    RomRecord wrongSize = PhoneRecord({u"1", u"2", u"WWE"});
    wrongSize[0] = 0;
    EXPECT_EQ(MakeVersionTexts(wrongSize, std::string()).rom, u"Error");
    EXPECT_EQ(MakeVersionTexts(wrongSize, std::string()).radio, u"Error");
}

TEST(VersionTexts, IdentityOfAFailedQuery)
{
    EXPECT_EQ(IdentityAfterFailedQuery(0x7A), u"NOT ENOUGH BUFFER");
    EXPECT_EQ(IdentityAfterFailedQuery(0), u"Error");
    EXPECT_EQ(IdentityAfterFailedQuery(31), u"Error");
}

}  // namespace
}  // namespace flashwise::phone
