#include "image/DownloadDriver.h"

#include <array>
#include <filesystem>
#include <system_error>

#include "image/ExtendedRomUnpacker.h"
#include "image/TransferPlan.h"
#include "image/TransferUnits.h"

namespace flashwise {

namespace {

constexpr std::uint32_t kExtRomSettleMs = 1000;

void RemoveQuietly(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// The end of every pass that reached the link: close the transfer, then tell the others.
// False when the end-of-transfer block did not go.
bool Close(DownloadState& state, CConnManager& link, CFirmwareImage& image) {
    const bool ended = link.EndTransfer();
    state.SetFinished(true);
    image.CloseImage();
    return ended;
}

}  // namespace

bool RunDownload(DownloadState& state, CConnManager& link, CFirmwareImage& image, const PauseFn& pause) {
    const std::filesystem::path extRomPath = image.ExtRomPath();
    state.HeaderBuilder() = std::make_unique<SectionHeaderBuilder>(image);
    std::array<std::uint8_t, kRequestBlockSize> request{};
    state.SetUnitsWritten(0);

    if (!image.IsOpen()) return false;

    for (const int code : TransferOrder(image)) {
        if (code == kExtendedRomCode) {
            if (!UnpackExtendedRom(image)) return false;
            if (pause) pause(kExtRomSettleMs);
        }

        auto& header = state.SectionHeader();
        header.fill(0);
        if (state.HeaderBuilder()->BuildSectionHeader(header.data(), code) != SectionHeaderBuilder::kBuilt) {
            return false;
        }
        if (!link.PrepareSection(&image, request.data(), header.data(), code) ||
            !link.SendSection(&image, request.data(), header.data(), code)) {
            Close(state, link, image);
            if (code == kExtendedRomCode) RemoveQuietly(extRomPath);
            return false;
        }

        std::uint32_t bytes = UnitProgressBytes(image, code);
        if (code == kExtendedRomCode) {
            // The unit's own length, as measured into its header.
            bytes = LoadLe32(header.data() + 0x30);
            RemoveQuietly(extRomPath);
        }
        state.AddCompletedBytes(bytes);
        state.SetUnitsWritten(state.UnitsWritten() + 1);
    }

    // A boot loader that never heard the end may not have stored what it took.
    if (!Close(state, link, image)) return false;
    state.HeaderBuilder().reset();
    return true;
}

}  // namespace flashwise
