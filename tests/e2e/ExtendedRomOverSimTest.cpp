// The extended-ROM unit end to end: the driver unpacks the selected entry into the work
// folder and each link sends it from there to the simulated boot loader, while the
// process sits in another folder, where a file opened by its bare name would be missed.

#include <gtest/gtest.h>

#include <zlib.h>

#include <fstream>

#include "image/DownloadDriver.h"
#include "image/DownloadState.h"
#include "image/FirmwareImage.h"
#include "tests/support/DeviceFaults.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tests/e2e/SimRig.h"
#include "tests/support/CurrentFolder.h"

namespace flashwise::e2e {
namespace {

using namespace flashwise::test;

std::vector<std::uint8_t> Gzip(const std::vector<std::uint8_t>& plain) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<std::uint8_t> out(deflateBound(&z, plain.size()) + 64);
    z.next_in = const_cast<Bytef*>(plain.data());
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

void PutWordAt(std::fstream& file, std::uint64_t at, std::uint32_t value) {
    const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 24)};
    file.seekp(static_cast<std::streamoff>(at));
    file.write(bytes, 4);
}

// The sections of `sizes`, then `entry` as extended-ROM entry 0, then the extension table
// that gives its size.
void WriteImageWithEntry(const std::filesystem::path& path, const ImageSizes& sizes,
                         const std::vector<std::uint8_t>& entry) {
    WriteImage(path, sizes);
    const std::uint64_t entryAt = std::filesystem::file_size(path);
    const std::uint64_t tableAt = entryAt + entry.size();
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(entryAt));
    file.write(reinterpret_cast<const char*>(entry.data()), static_cast<std::streamsize>(entry.size()));
    const std::vector<char> table(2048, 0);
    file.write(table.data(), static_cast<std::streamsize>(table.size()));
    PutWordAt(file, tableAt + 196, static_cast<std::uint32_t>(entry.size()));
    PutWordAt(file, 0x44, static_cast<std::uint32_t>(tableAt));
    ASSERT_TRUE(file.good());
}


class ExtendedRomOverSim : public ::testing::TestWithParam<LinkKind> {};

TEST_P(ExtendedRomOverSim, Unit55GoesFromTheWorkFolderWhateverTheCurrentFolder) {
    ImageSizes sizes;
    sizes.l51a = 3000;
    sizes.l54a = 100;
    sizes.l52 = 50;
    std::vector<std::uint8_t> plain(70001);   // nine transfer pieces, and a tail that is no whole word
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = PatternByte(i * 7);
    const auto entry = Gzip(plain);

    struct Row {
        const char* what;
        std::vector<sim::DeviceFault> faults;
        bool written;
        std::vector<int> judged;   // the units the device judged, in order
    } rows[] = {
        {"every unit written", {}, true, {51, 54, 55, 52}},
        {"unit 55 refused", {Fault(sim::Misbehaviour::ResultCode, sim::Step::Data, 3, 0x88, 1)}, false, {51, 54, 55}},
        {"unit 55 lost half-way", {Fault(sim::Misbehaviour::Vanish, sim::Step::Data, 3, 0, 30000)}, false, {51, 54}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SimRig rig(GetParam());
        if (!rig.link) GTEST_SKIP() << "this build has no WinUSB link";
        for (const auto& fault : row.faults) rig.device.AddFault(fault);
        ScratchFolder work, elsewhere;
        const auto path = work.Path() / "Tarn_G4.abi";
        WriteImageWithEntry(path, sizes, entry);

        test::InCurrentFolder away(elsewhere.Path());
        CFirmwareImage image{WorkFolder(work.Path())};
        ASSERT_TRUE(image.OpenImage(path));
        image.SelectExtendedRom(0);
        ASSERT_TRUE(rig.link->Open());
        DownloadState state;
        state.BeginPass(std::filesystem::file_size(path));
        testing::internal::CaptureStdout();
        const bool ok = RunDownload(state, *rig.link, image, [&rig](std::uint32_t ms) { rig.pausedMs += ms; });
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Gzip decompress\n");

        EXPECT_EQ(ok, row.written);
        std::vector<int> judged;
        for (const auto& v : rig.device.Verdicts()) judged.push_back(v.code);
        EXPECT_EQ(judged, row.judged);
        const sim::StoredUnit* stored = rig.device.Store().Find(55);
        if (row.written) {
            ASSERT_NE(stored, nullptr);
            EXPECT_TRUE(stored->data == plain) << "unit 55 differs from the unpacked entry";
        } else {
            EXPECT_EQ(stored, nullptr);
        }
        EXPECT_TRUE(rig.device.ProtocolErrors().empty());
        // Written or not, the unpacked file is gone, and nothing was put where the process sits.
        EXPECT_FALSE(std::filesystem::exists(work.Path() / "ExtRom.tmp"));
        EXPECT_TRUE(std::filesystem::is_empty(elsewhere.Path()));
    }
}

INSTANTIATE_TEST_SUITE_P(BothLinks, ExtendedRomOverSim, ::testing::Values(LinkKind::Serial, LinkKind::WinUsb),
                         [](const ::testing::TestParamInfo<LinkKind>& info) { return Name(info.param); });

}  // namespace
}  // namespace flashwise::e2e
