#include <gtest/gtest.h>

#include "app/SatelliteName.h"

namespace flashwise::app {
namespace {

TEST(SatelliteName, ApplicationNameIsTheFileNameWithoutFolderAndExtension) {
    EXPECT_EQ(ApplicationNameFromPath(u"C:\\Program Files\\Tool.exe"), u"Tool");
    EXPECT_EQ(ApplicationNameFromPath(u"C:\\Downloads\\v1.2\\Flashwise.exe"), u"Flashwise");
    EXPECT_EQ(ApplicationNameFromPath(u"C:\\dir.with.dots\\Tool"), u"Tool");
    EXPECT_EQ(ApplicationNameFromPath(u"\\\\server\\share\\my.tool.exe"), u"my.tool");
    EXPECT_EQ(ApplicationNameFromPath(u"Z:/unix/style/Tool.EXE"), u"Tool");
    EXPECT_EQ(ApplicationNameFromPath(u"Tool.exe"), u"Tool");
}

TEST(SatelliteName, LibraryNameJoinsNameAndAbbreviation) {
    EXPECT_EQ(SatelliteLibraryName(u"Tool", u"CHT"), u"ToolCHT.dll");
    EXPECT_EQ(SatelliteLibraryName(u"Flashwise", u"CHT"), u"FlashwiseCHT.dll");
    EXPECT_EQ(SatelliteLibraryName(u"my.tool", u"CHT"), u"my.toolCHT.dll");
}

}  // namespace
}  // namespace flashwise::app
