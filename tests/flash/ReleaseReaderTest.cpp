// The release reader on program files written here, and on the demo release when the
// Windows build has made it (label "release").

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "package/ReleaseFile.h"
#include "package/ReleaseText.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/PeFiles.h"
#include "tools/flashwise-flash/FlashTool.h"

namespace flashwise::test {
namespace {

using package::Layer;
using package::ReleaseFile;

std::string Text(const ReleaseFile& file, std::uint32_t id) {
    const auto e = file.Lookup(u"TXT", id);
    const auto wide = package::WidenReleaseText(e.bytes);
    return std::string(wide.begin(), wide.end());
}

TEST(ReleaseReader, ReadsTextsImagesAndStringsByTheLayerRule) {
    const auto image = ImageFile(ImageSizes{4, 0, 0, 0, 0, 0, 0}, {1, 2, 3, 4});
    const auto bytes = MakePeFile(ReleaseResources(image));
    ReleaseFile file;
    std::string error;
    ASSERT_TRUE(file.Parse(bytes.data(), bytes.size(), &error)) << error;
    EXPECT_EQ(Text(file, 159), "FRA");          // neutral over base
    EXPECT_EQ(Text(file, 160), "Krov Q512");    // base only
    EXPECT_EQ(Text(file, 161), "Krov Q512");    // trailing zero byte
    const auto bin152 = file.Lookup(u"BIN", 152);
    EXPECT_EQ(bin152.layer, Layer::Neutral);
    EXPECT_EQ(std::vector<std::uint8_t>(bin152.bytes.data, bin152.bytes.data + bin152.bytes.size), image);
    const auto bin153 = file.Lookup(u"BIN", 153);
    EXPECT_EQ(bin153.layer, Layer::Base);
    EXPECT_EQ(std::string(bin153.bytes.data, bin153.bytes.data + bin153.bytes.size), "fake");
    EXPECT_EQ(file.Lookup(u"BIN", 149).layer, Layer::Missing);
    EXPECT_EQ(file.String(33), u"Tarn_G4.abi");
    EXPECT_EQ(file.String(37), u"Tarn_G4_SPBL.abi");
    EXPECT_FALSE(file.String(34).has_value());
    EXPECT_EQ(file.Languages(u"TXT"), (std::vector<std::uint16_t>{0, 1028}));
}

// Every offset, size and count the file gives is checked: each row breaks one.
TEST(ReleaseReader, RefusesDamageWithTheCheckThatFailed) {
    const auto good = MakePeFile(ReleaseResources(ImageFile(ImageSizes{4, 0, 0, 0, 0, 0, 0}, {1, 2, 3, 4})));
    struct Case {
        const char* what;
        std::size_t at;      // where to write
        std::uint32_t word;  // what
        std::size_t cut;     // or: keep only this many bytes (0: keep all)
        const char* says;
    } cases[] = {
        {"no MZ", 0, 0x00005A4E, 0, "no MZ header"},
        {"PE header past the end", 0x3C, 0x7FFFFFF0, 0, "no PE header"},
        {"unknown optional header", 0x58, 0x00000999, 0, "unknown kind"},
        {"too few data directories", 0x58 + 92, 2, 0, "no resource directory"},
        {"section count past the end", 0x46, 0x0000FFFF | (0x014C << 16), 0, "section table"},
        {"resource directory outside every section", 0x58 + 112, 0x00900000, 0, "outside the file"},
        {"directory entry count past the section", 0x200 + 12, 0x7FFF7FFF, 0, "run past"},
        {"file cut inside the resources", 0, 0, 0x240, "lies outside"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto bytes = good;
        if (c.cut != 0) {
            bytes.resize(c.cut);
        } else {
            PutWord(bytes, c.at, c.word);
        }
        ReleaseFile file;
        std::string error;
        EXPECT_FALSE(file.Parse(bytes.data(), bytes.size(), &error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_TRUE(file.Entries().empty());
    }
}

TEST(ReleaseReader, InfoReportsTheReleaseAndItsUnits) {
    const auto path = std::filesystem::temp_directory_path() / ("flashwise-info-" + std::to_string(getpid()) + ".exe");
    WriteFile(path, MakePeFile(ReleaseResources(ImageFile(ImageSizes{4, 0, 0, 0, 0, 0, 0}, {1, 2, 3, 4}))));
    for (const bool json : {false, true}) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        std::vector<std::string> args = {"--info", path.string()};
        if (json) args.insert(args.begin() + 1, "--json");
        EXPECT_EQ(flash::RunFlashTool(args, out, err, flash::Environment()), 0);
        std::rewind(out);
        std::string said(1 << 16, '\0');
        said.resize(std::fread(said.data(), 1, said.size(), out));
        std::fclose(out);
        std::fclose(err);
        // The worked example's unit 50: word checksum 0x04030616, byte checksum 639 with the header.
        for (const char* piece : json ? std::vector<const char*>{"\"model\":\"Krov Q512\"", "\"language\":\"FRA\"",
                                                                  "\"rom_version\":\"V2.1.7 FRA\"", "\"code\":50",
                                                                  "\"word_checksum\":67307030", "\"byte_checksum\":639",
                                                                  "\"boot_loader_image\":null"}
                                      : std::vector<const char*>{"Krov Q512", "FRA", "V3.42.10.2_2008-05-30",
                                                                  "unit 50", "0x04030616", "0x0000027F",
                                                                  "boot-loader image: none"}) {
            EXPECT_NE(said.find(piece), std::string::npos) << piece << " not in:\n" << said;
        }
    }
    std::filesystem::remove(path);
}

#ifdef FLASHWISE_DEMO_RELEASE
// The real demo release as the Windows build makes it.
TEST(DemoRelease, InfoPrintsIt) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int exit = flash::RunFlashTool({"--info", FLASHWISE_DEMO_RELEASE}, out, err, flash::Environment());
    std::rewind(out);
    std::string said(1 << 16, '\0');
    said.resize(std::fread(said.data(), 1, said.size(), out));
    std::rewind(err);
    std::string complained(4096, '\0');
    complained.resize(std::fread(complained.data(), 1, complained.size(), err));
    std::fclose(out);
    std::fclose(err);
    ASSERT_EQ(exit, 0) << complained;
    std::printf("%s", said.c_str());
    EXPECT_NE(said.find("Krov Q512"), std::string::npos);
    EXPECT_NE(said.find("FRA"), std::string::npos);
    EXPECT_NE(said.find("firmware image: Tarn_G4.abi"), std::string::npos);
    EXPECT_NE(said.find(", whole"), std::string::npos);
    EXPECT_NE(said.find("unit 51"), std::string::npos);
}
#endif

}  // namespace
}  // namespace flashwise::test
