#pragma once
// The body of the download thread: sends the units of the open image to the boot
// loader through the link, keeps the completed fraction, ends the transfer and raises
// the finished flag. Shows nothing; the caller turns the result into events.

#include "image/DownloadState.h"
#include "image/FirmwareImage.h"
#include "link/ConnManager.h"
#include "link/Pause.h"

namespace flashwise {

// True when every unit was written and the end of the transfer was sent; the state
// counts the units written. The extended-ROM
// entry is unpacked to, sent from and deleted at the image object's ExtRom.tmp; `pause`
// carries the one-second wait before that unit.
bool RunDownload(DownloadState& state, CConnManager& link, CFirmwareImage& image, const PauseFn& pause);

}  // namespace flashwise
