#pragma once
// The files the program writes into its working folder, and the helpers it copies to
// the phone and starts there. Every file is written hidden, replacing an older one,
// and deleted again when the program is done with it; copies on the phone stay.

#include <cstdint>
#include <functional>
#include <string_view>

#include "update/UpdatePlatform.h"

namespace flashwise::update {

class CDownloadAgent;

enum class PhoneHelper { DeviceSpy, DeviceMode, SysReboot };

constexpr std::uint32_t kCopyPieceSize = 8192;
constexpr std::uint32_t kHelperConnectMs = 3000;
constexpr std::uint32_t kCleanUpPauseMs = 1000;
constexpr std::uint32_t kCancelDeletePauseMs = 10;

// The four helper executables, in the order they are written and deleted.
struct HelperFile {
    unsigned binaryId;
    std::u16string_view fileName;
};
extern const HelperFile kHelperFiles[4];

// Writes the four helper executables; false at the first that cannot be read from the
// package or written (the files written before it stay).
bool ExtractHelperFiles(UpdatePlatform& platform);

// Writes wcestest.exe alone, for restoring the synchronisation link of a run that died.
bool ExtractDesktopHelper(UpdatePlatform& platform);

// Writes the image file and the boot-loader image file. A write that fails shows text
// 35 when the system ran out of memory, else 36, owned by `page`, and returns false.
bool ExtractImageFiles(UpdatePlatform& platform, WindowRef page);

// Copies the helper to the phone's \windows folder and starts it there, not waiting for
// it. DeviceSpy connects with the blocking call; the others give the connection 3,000 ms.
// Leaves the Remote API connection ended, whatever happens.
bool DeployHelper(UpdatePlatform& platform, PhoneHelper helper);

// Deletes the four helper executables; failures are ignored.
void DeleteHelperFiles(UpdatePlatform& platform);

// Deletes the helper executables, both image files and any ExtRom.tmp left by a failed
// download; failures are ignored.
void DeleteWrittenFiles(UpdatePlatform& platform);

// Every failure exit of the update: restores the desktop link, waits a second, deletes
// every file the program wrote.
void CleanUpAfterFailure(UpdatePlatform& platform, CDownloadAgent& agent);

// The update page's Cancel command. Asks text 2 (Yes/No); on Yes ends the page with the
// Cancel result, deletes the helper executables that can be opened and closes the
// page. True when the user chose Yes.
bool CancelUpdatePage(UpdatePlatform& platform, WindowRef page, const std::function<void()>& endWithCancel,
                      const std::function<void()>& closePage);

}  // namespace flashwise::update
