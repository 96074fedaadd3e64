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

// Writes the three phone-side helper executables, each created new; false at the first
// that cannot be read from the package or written (the files written before it stay).
// The desktop helper is written by its runs (CDownloadAgent::SetDesktopLink).
bool ExtractHelperFiles(UpdatePlatform& platform);

// Writes the image file and the boot-loader image file, each created new and kept open
// in `held` so that nobody can swap it before its last use. A write that fails shows
// text 35 when the system ran out of memory, else 36, owned by `page`, and returns
// false; a file name (strings 33 and 37) that is not a bare name fails before anything
// is written, without a message of its own.
bool ExtractImageFiles(UpdatePlatform& platform, WindowRef page, HeldFiles& held);

// Whether the image, and with `bootLoaderPass` the boot-loader image, are whole and fit
// to be sent (image/ImageCheck.h); the image must have a unit to send.
bool CheckImageFiles(UpdatePlatform& platform, bool bootLoaderPass);

// Writes the desktop helper new (after deleting any file of its name), opens it again
// for reading only, finds it byte for byte the package's payload and keeps it open in
// `held`, so that nothing else can be run in its place. False with the system's error
// (0 when the bytes differ) otherwise; nothing is kept open then.
bool WriteDesktopHelper(UpdatePlatform& platform, HeldFiles& held, std::uint32_t* error);

// Runs the desktop helper with `parameters`: written and checked first, held while it
// runs, started by its full path from the work folder, waited for (bounded), deleted
// after. True when it ran, with its exit code in `exitCode`; false with the system's
// error otherwise.
bool RunDesktopHelper(UpdatePlatform& platform, std::u16string_view parameters, std::uint32_t* exitCode,
                      std::uint32_t* error);

// Copies the helper to the phone's \windows folder and starts it there, not waiting for
// it. The local file must be byte for byte the package's payload, or nothing starts. DeviceSpy connects with the blocking call; the others give the connection 3,000 ms.
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
