// An image file as the release engineer's tool reads it: the image object, the
// transfer plan, every unit's section header and checksums, and the report in both
// forms; then the extended-ROM entry the header's unread word at 0x0C picks, unpacked
// as the download driver would, and the whole driver against a link that takes every
// unit.

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "image/DownloadDriver.h"
#include "image/DownloadState.h"
#include "image/ExtendedRomUnpacker.h"
#include "image/FirmwareImage.h"
#include "image/WorkFolder.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/image/RecordingLink.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"
#include "tools/flashwise-image/ImageReport.h"

namespace {

using namespace flashwise;

const test::ScratchFolder& Folder() {
    static const test::ScratchFolder folder;
    return folder;
}

void CheckReport(const tool::ImageReport& report, std::size_t size) {
    FUZZ_CHECK(report.fileLength == size);
    FUZZ_CHECK(report.units.size() <= 7);
    std::set<int> codes;
    for (const tool::UnitReport& unit : report.units) {
        FUZZ_CHECK(unit.code >= 50 && unit.code <= 57 && unit.code != 55);
        FUZZ_CHECK(codes.insert(unit.code).second);
        FUZZ_CHECK(unit.requestLength == unit.length + 256u);
        FUZZ_CHECK(unit.bytesPresent <= unit.length);
        // What the file holds of the unit is all the checksums can have read.
        const std::uint64_t held = unit.offset < size ? size - unit.offset : 0;
        FUZZ_CHECK(unit.bytesPresent == std::min<std::uint64_t>(unit.length, held));
    }
    // A long section 54 goes out as 56 and 57, together, never beside 54.
    FUZZ_CHECK(codes.count(56) == codes.count(57));
    FUZZ_CHECK(!(codes.count(54) && codes.count(56)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = Folder() / "image.abi";
    test::WriteFile(path, std::vector<std::uint8_t>(data, data + size));

    tool::ImageReport report;
    std::string error;
    FUZZ_CHECK(tool::MakeImageReport(path, u"", &report, &error));
    CheckReport(report, size);
    FUZZ_CHECK(!tool::ReportAsJson(report).empty());
    FUZZ_CHECK(!tool::ReportAsText(report).empty());

    // The driver's extended-ROM step, with an entry picked by the image itself.
    CFirmwareImage image{WorkFolder(Folder().Path())};
    const std::filesystem::path extRom = image.ExtRomPath();
    FUZZ_CHECK(image.OpenImage(path));
    image.SelectExtendedRom(static_cast<std::int32_t>(image.HeaderWord(0x0C) % 4));
    DownloadState state;
    test::RecordingLink link;
    link.onSection = [&extRom](const test::RecordingLink::Call& call) {
        if (call.code == 55) FUZZ_CHECK(std::filesystem::file_size(extRom) <= kUnpackCapacity);
    };
    RunDownload(state, link, image, [](std::uint32_t) {});
    std::error_code ignored;
    std::filesystem::remove(extRom, ignored);
    return 0;
}
