// The image tool's report: real numbers for the worked example and the packaged
// shape, the request block against the link's own builder, and damaged files.

#include <gtest/gtest.h>

#include "image/FirmwareImage.h"
#include "image/SectionHeaderBuilder.h"
#include "link/Blocks.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tools/flashwise-image/ImageReport.h"

namespace flashwise {
namespace {

using test::ScratchFolder;
using tool::ImageReport;
using tool::MakeImageReport;
using tool::ReportAsJson;

ImageReport Report(const std::filesystem::path& path, const std::u16string& name = {}) {
    ImageReport report;
    std::string error;
    EXPECT_TRUE(MakeImageReport(path, name, &report, &error)) << error;
    return report;
}

bool Has(const std::string& json, const std::string& piece) { return json.find(piece) != std::string::npos; }

TEST(ImageReport, WorkedExampleNumbers) {
    ScratchFolder dir;
    test::MakeWorkedExample(dir / "example.abi");
    const ImageReport r = Report(dir / "example.abi", u"Tarn_G4.abi");
    ASSERT_EQ(r.units.size(), 1u);
    const auto& u = r.units[0];
    EXPECT_EQ(u.code, 50);
    EXPECT_EQ(u.offset, 256u);
    EXPECT_EQ(u.length, 4u);
    EXPECT_EQ(u.requestLength, 260u);
    EXPECT_EQ(u.wordChecksum, 0x04030616u);
    EXPECT_EQ(u.byteChecksum, 639u);
    EXPECT_TRUE(r.warnings.empty());

    const std::string json = ReportAsJson(r);
    EXPECT_TRUE(Has(json, "\"units\":[{\"code\":50,\"offset\":256,\"length\":4,\"request_length\":260,"
                          "\"word_checksum\":67307030,\"byte_checksum\":639,"));
    // The block SendSection sends: magics, length 260, the name, flag 0, type 4, checksum 639.
    const std::string block =
        "66550000" "88990000" "0000a89a" "04010000"
        "5461726e5f47342e61626900000000000000000000000000000000000000"  // "Tarn_G4.abi", 30 bytes
        "00" "00" "0400" + std::string(36, '0') + "7f020000";
    EXPECT_TRUE(Has(json, "\"request_block_hex\":\"" + block + "\"")) << json;
    EXPECT_TRUE(Has(json, "\"section_header_hex\":\"011315133347494d414745201606030409040000"));
    EXPECT_TRUE(Has(json, "\"warnings\":[]"));
}

TEST(ImageReport, RequestBlockMatchesTheLinksBuilder) {
    ScratchFolder dir;
    auto bytes = test::MakeHeader();
    test::PutWord(bytes, 0x30, 7);
    test::PutWord(bytes, 0x14, 9000);
    test::PutWord(bytes, 0x24, 3);
    test::PutWord(bytes, 0x34, 0x70004);  // only the low 16 bits reach the block
    const auto data = test::SampleData(7 + 9000 + 3, 21);
    bytes.insert(bytes.end(), data.begin(), data.end());
    const auto path = dir / "a_rather_long_image_file_name_here.abi";
    test::WriteFile(path, bytes);
    const ImageReport r = Report(path);
    ASSERT_EQ(r.units.size(), 3u);
    EXPECT_EQ(r.units[0].code, 51);
    EXPECT_EQ(r.units[1].code, 52);
    EXPECT_EQ(r.units[2].code, 50);

    CFirmwareImage image;
    ASSERT_TRUE(image.OpenImage(path));
    SectionHeaderBuilder builder(image);
    for (const auto& u : r.units) {
        std::array<std::uint8_t, 256> header{};
        ASSERT_EQ(builder.BuildSectionHeader(header.data(), u.code), 1);
        EXPECT_EQ(header, u.sectionHeader);
        std::array<std::uint8_t, kRequestBlockSize> block{};
        ASSERT_EQ(FillRequestBlock(image, u.code, kSendFlag, header.data(), block.data()), RequestFill::Built);
        EXPECT_EQ(block, u.requestBlock) << "unit " << u.code;
        EXPECT_EQ(LoadLe32(block.data() + kRequestChecksumAt), u.byteChecksum);
    }
    // 29 characters of the name, then NUL.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.units[0].requestBlock.data() + 0x10)),
              "a_rather_long_image_file_name");
}

TEST(ImageReport, PackagedShape) {
    ScratchFolder dir;
    test::MakePackagedImage(dir / "Tarn_G4.abi");
    const ImageReport r = Report(dir / "Tarn_G4.abi");
    EXPECT_EQ(r.fileLength, test::kPackagedLength);
    ASSERT_EQ(r.units.size(), 1u);
    EXPECT_EQ(r.units[0].code, 51);
    EXPECT_EQ(r.units[0].offset, 256u);
    EXPECT_EQ(r.units[0].length, 5039996u);
    EXPECT_EQ(r.units[0].requestLength, 5040252u);
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_TRUE(Has(ReportAsJson(r), "\"code\":51,\"offset\":256,\"length\":5039996,\"request_length\":5040252,"));
}

TEST(ImageReport, DamagedAndMissingFiles) {
    ScratchFolder dir;
    auto bytes = test::MakeHeader();
    test::PutWord(bytes, 0x30, 4);
    test::PutWord(bytes, 0x14, 100);  // section 51 claims 100 bytes; 2 are there
    bytes.insert(bytes.end(), {1, 2, 3, 4, 5, 6});
    test::WriteFile(dir / "cut.abi", bytes);
    const ImageReport r = Report(dir / "cut.abi");
    ASSERT_EQ(r.units.size(), 2u);
    EXPECT_EQ(r.units[0].bytesPresent, 2u);
    EXPECT_EQ(r.units[1].bytesPresent, 4u);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0],
              "unit 51 runs past the end of the file: bytes 260 to 359 (100 bytes) but the file ends at 262, "
              "98 bytes missing; the checksums cover the 2 bytes present");

    test::WriteFile(dir / "two.abi", {'a', 'b'});
    const ImageReport tiny = Report(dir / "two.abi");
    EXPECT_TRUE(tiny.units.empty());
    ASSERT_EQ(tiny.warnings.size(), 1u);
    EXPECT_EQ(tiny.warnings[0], "file is 2 bytes, shorter than its 256-byte header; the missing header bytes read as 0");

    test::WriteFile(dir / "empty.abi", {});
    EXPECT_TRUE(Report(dir / "empty.abi").units.empty());

    ImageReport none;
    std::string error;
    EXPECT_FALSE(MakeImageReport(dir / "missing.abi", {}, &none, &error));
    EXPECT_NE(error.find("no such file"), std::string::npos);
    EXPECT_FALSE(MakeImageReport(dir.Path(), {}, &none, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos);
}

}  // namespace
}  // namespace flashwise
