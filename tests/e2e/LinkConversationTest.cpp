// The four-byte reference image sent through each link with the capture on: the conversation
// the boot loader sees, transfer by transfer, and the capture's line format.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "image/DownloadDriver.h"
#include "image/DownloadState.h"
#include "image/FirmwareImage.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/e2e/SimRig.h"

namespace flashwise::e2e {
namespace {

using namespace flashwise::test;

// Header with the magic, the tag, 0x409 at 0x10, L50 = 4, type 4; section 50 = 01 02 03 04.
void WriteReferenceImage(const std::filesystem::path& path) {
    std::uint8_t file[260] = {};
    const std::uint8_t magic[] = {0x01, 0x13, 0x15, 0x13};
    std::memcpy(file, magic, 4);
    std::memcpy(file + 4, "3GIMAGE ", 8);
    file[0x10] = 0x09;
    file[0x11] = 0x04;
    file[0x30] = 4;
    file[0x34] = 4;
    const std::uint8_t data[] = {1, 2, 3, 4};
    std::memcpy(file + 256, data, 4);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file), sizeof file);
}

// The capture without sequence numbers, the device's notes and events, and bytes:
// what the host did, in order.
std::vector<std::string> HostSide(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        std::istringstream in(line);
        std::string seq, dir, kind, field;
        in >> seq >> dir >> kind;
        if (dir == "SIM" || kind == "event") continue;
        std::string entry = kind;
        if (in >> field) entry += " " + field;
        out.push_back(entry);
    }
    return out;
}

std::vector<std::string> Capture(LinkKind kind, SimRig& rig, const std::filesystem::path& path) {
    rig.device.SetProgressRecords(1);
    rig.device.Capture().Enable(true);
    EXPECT_TRUE(rig.link->Open());
    CFirmwareImage image;
    EXPECT_TRUE(image.OpenImage(path));
    DownloadState state;
    state.BeginPass(260);
    EXPECT_TRUE(RunDownload(state, *rig.link, image, [](std::uint32_t) {})) << Name(kind);
    return rig.device.Capture().Lines();
}

class LinkConversation : public ::testing::TestWithParam<LinkKind> {};

TEST_P(LinkConversation, ReferenceImageCrossesTheLinkInTheLinksOrder) {
    ScratchFolder folder;
    const auto path = folder.Path() / "Tarn_G4.abi";
    WriteReferenceImage(path);
    SimRig rig(GetParam());
    if (!rig.link) GTEST_SKIP() << "this build has no WinUSB link";
    const std::vector<std::string> lines = Capture(GetParam(), rig, path);

    const std::vector<std::string> serial = {
        // PrepareSection
        "line 0", "write 72", "line 1", "wait RXCHAR", "line 1", "read 20",
        // SendSection
        "line 0", "write 72", "line 1", "wait CTS", "write 256", "wait CTS", "write 4", "wait RXCHAR", "line 1",
        "read 20", "read 20",
        // EndTransfer
        "line 0", "write 72", "line 1"};
    const std::vector<std::string> winusb = {
        "line 0", "write 72", "line 1", "line 1", "read 20",
        "line 0", "write 72", "line 1", "write 256", "write 4", "line 1", "read 20", "read 20",
        "line 0", "line 0", "write 72", "line 1", "line 1"};
    EXPECT_EQ(HostSide(lines), GetParam() == LinkKind::Serial ? serial : winusb);

    // The device's reading of the unit: the known checksums, and a good verdict.
    bool judged = false;
    for (const std::string& line : lines)
        judged = judged || line.find("note unit 1 code 50 data 4 byte sum 0x27f word sum 0x4030616 verdict 0x0") !=
                               std::string::npos;
    EXPECT_TRUE(judged);
    EXPECT_TRUE(rig.device.ProtocolErrors().empty());

    // Every line follows the documented format.
    const std::regex format(
        R"(^[1-9][0-9]* (H>D (line [01]|write [0-9]+( [0-9a-f]+(\.\.\.)?)?|wait [A-Z0-9x|]+|gone)|)"
        R"(D>H (read [0-9]+( [0-9a-f]+(\.\.\.)?)?|zlp|empty|gone|event [A-Z0-9x|]+)|SIM note .+)$)");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], format)) << lines[i];
        EXPECT_EQ(lines[i].substr(0, lines[i].find(' ')), std::to_string(i + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(BothLinks, LinkConversation, ::testing::Values(LinkKind::Serial, LinkKind::WinUsb),
                         [](const ::testing::TestParamInfo<LinkKind>& info) { return Name(info.param); });

}  // namespace
}  // namespace flashwise::e2e
