#pragma once
// The body of the download thread: sends the units of the open image to the boot
// loader through the link, keeps the completed fraction, ends the transfer and raises
// the finished flag. Shows nothing; the caller turns the result into events.

#include <filesystem>

#include "image/DownloadState.h"
#include "image/FirmwareImage.h"
#include "link/ConnManager.h"
#include "link/Pause.h"

namespace flashwise {

// True when every unit was written and the end of the transfer was sent.
// `workFolder` is where ExtRom.tmp is unpacked (the current folder by default; the
// links read ExtRom.tmp from the current folder, so the program keeps the default);
// `pause` carries the one-second wait before the extended-ROM unit.
bool RunDownload(DownloadState& state, CConnManager& link, CFirmwareImage& image, const PauseFn& pause,
                 const std::filesystem::path& workFolder = {});

}  // namespace flashwise
