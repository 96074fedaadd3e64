#include "update/HelperDeployment.h"

#include <algorithm>
#include <array>
#include <vector>

#include "image/ImageCheck.h"
#include "res/ResourceIds.h"
#include "update/CDownloadAgent.h"
#include "update/RapiConnection.h"

namespace flashwise::update {

const HelperFile kHelperFiles[4] = {
    {IDBIN_SYSREBOOT, u"SysReboot.exe"},
    {IDBIN_DEVICESPY, u"DeviceSpy.exe"},
    {IDBIN_DEVICEMODE, u"DeviceMode.exe"},
    {IDBIN_WCESTEST, kDesktopHelperFile},
};

namespace {

constexpr std::uint32_t kErrorNotEnoughMemory = 8;

struct PhoneHelperFiles {
    unsigned binaryId;
    std::u16string_view localFile;
    std::u16string_view phonePath;
    std::u16string_view processName;
    bool blockingConnect;
};

PhoneHelperFiles FilesOf(PhoneHelper helper) {
    switch (helper) {
    case PhoneHelper::DeviceSpy:
        return {IDBIN_DEVICESPY, u"DeviceSpy.exe", u"\\windows\\DeviceSpy.exe", u"DeviceSpy", true};
    case PhoneHelper::DeviceMode:
        return {IDBIN_DEVICEMODE, u"DeviceMode.exe", u"\\windows\\DeviceMode.exe", u"DeviceMode", false};
    case PhoneHelper::SysReboot:
        break;
    }
    return {IDBIN_SYSREBOOT, u"SysReboot.exe", u"\\windows\\SysReboot.exe", u"SysReboot", false};
}

// One payload into one new file, with one write. `error` is the system's code of the call
// that failed, read right after it (0 for a short write the system did not explain).
// With `held`, the file stays open there after a good write; otherwise it is closed.
bool WritePayload(UpdatePlatform& platform, unsigned binaryId, std::u16string_view fileName, HeldFiles* held,
                  bool* readable, std::uint32_t* error) {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    *readable = platform.package.ReadBinary(binaryId, &data, &size);
    *error = 0;
    if (!*readable) return false;
    // A file of the name left by this run goes first; one that cannot go stays in the way.
    const std::filesystem::path path = platform.folder.File(fileName);
    platform.files.Delete(path);
    const LocalFile file = platform.files.Create(path, error);
    if (file == LocalFiles::Invalid()) return false;
    std::uint32_t written = 0;
    const std::uint32_t length = static_cast<std::uint32_t>(size);
    const bool ok = size == length && platform.files.Write(file, data, length, &written, error) && written == length;
    if (ok && held != nullptr) {
        held->Hold(file);
    } else {
        platform.files.Close(file);
    }
    return ok;
}

// Reads the open file to its end in pieces, each checked against the payload's bytes at
// its place before `use` gets it; the last piece, at the end, is empty. False at a read
// that fails, a piece that differs, a file that ends early or runs on, or a `use` that
// fails: a file that is not byte for byte the payload is never used whole.
bool ReadChecked(UpdatePlatform& platform, LocalFile file, const std::uint8_t* expected, std::size_t size,
                 const std::function<bool(const std::uint8_t*, std::uint32_t)>& use) {
    std::vector<std::uint8_t> piece(kCopyPieceSize);
    std::size_t at = 0;
    for (;;) {
        std::uint32_t read = 0;
        if (!platform.files.Read(file, piece.data(), kCopyPieceSize, &read)) return false;
        if (read > size - at || !std::equal(piece.begin(), piece.begin() + read, expected + at)) return false;
        if (read == 0 && at != size) return false;
        at += read;
        if (!use(piece.data(), read)) return false;
        if (read == 0) return true;
    }
}

// The local file is already open, and nobody else can write it; the write after the read
// that found the end has length 0.
bool CopyToPhone(UpdatePlatform& platform, LocalFile local, RapiHandle phone, const std::uint8_t* expected,
                 std::size_t expectedSize) {
    return ReadChecked(platform, local, expected, expectedSize, [&platform, phone](const std::uint8_t* data,
                                                                                    std::uint32_t length) {
        std::uint32_t written = 0;
        return platform.rapi.WritePhoneFile(phone, data, length, &written) && written == length;
    });
}

bool Connect(RapiConnection& connection, bool blocking) {
    if (blocking) return connection.Started();
    return connection.Started() && connection.WaitReady(kHelperConnectMs) == WaitOutcome::Signalled &&
           RapiSucceeded(connection.Result());
}

bool CopyAndStart(UpdatePlatform& platform, const PhoneHelperFiles& files, LocalFile local,
                  const std::uint8_t* expected, std::size_t expectedSize) {
    RapiApi& rapi = platform.rapi;
    RapiConnection connection =
        files.blockingConnect ? RapiConnection::Blocking(rapi) : RapiConnection::Request(rapi);
    if (!Connect(connection, files.blockingConnect)) return false;

    const RapiHandle phone = rapi.CreatePhoneFile(files.phonePath);
    if (phone == InvalidRapiHandle()) return false;
    const bool copied = CopyToPhone(platform, local, phone, expected, expectedSize);
    if (copied) rapi.SetPhoneEndOfFile(phone);
    rapi.ClosePhoneHandle(phone);
    if (!copied) return false;

    RapiHandle process = InvalidRapiHandle();
    RapiHandle thread = InvalidRapiHandle();
    if (!rapi.StartPhoneProcess(files.processName, &process, &thread)) {
        if (files.blockingConnect) rapi.LastError();
        return false;
    }
    rapi.ClosePhoneHandle(process);
    rapi.ClosePhoneHandle(thread);
    return connection.End() != kRapiFail;
}

void DeleteAll(UpdatePlatform& platform, bool imageFiles) {
    for (const HelperFile& helper : kHelperFiles) platform.files.Delete(platform.folder.File(helper.fileName));
    if (!imageFiles) return;
    for (const unsigned nameId : {IDS_IMAGE_FILE_NAME, IDS_BOOT_LOADER_IMAGE_FILE_NAME}) {
        const std::u16string name = platform.package.Text(nameId);
        if (!name.empty()) platform.files.Delete(platform.folder.File(name));
    }
    // The download deletes its unpacked entry itself, but not when it fails before the
    // unit is sent; nothing of the program's may stay behind.
    platform.files.Delete(platform.folder.ExtRomFile());
}

}  // namespace

bool ExtractHelperFiles(UpdatePlatform& platform) {
    for (const HelperFile& helper : kHelperFiles) {
        // The desktop helper is written afresh before each of its runs.
        if (helper.binaryId == IDBIN_WCESTEST) continue;
        bool readable = false;
        std::uint32_t error = 0;
        if (!WritePayload(platform, helper.binaryId, helper.fileName, nullptr, &readable, &error)) return false;
    }
    return true;
}

bool ExtractImageFiles(UpdatePlatform& platform, WindowRef page, HeldFiles& held) {
    struct ImageFile {
        unsigned binaryId;
        unsigned nameId;
    };
    constexpr ImageFile kImageFiles[] = {{IDBIN_FIRMWARE_IMAGE, IDS_IMAGE_FILE_NAME},
                                         {IDBIN_BOOT_LOADER_IMAGE, IDS_BOOT_LOADER_IMAGE_FILE_NAME}};
    // The names may come from a library beside the program: one that leads out of the
    // work folder writes nothing anywhere.
    for (const ImageFile& image : kImageFiles) {
        if (!WorkFolder::IsBareFileName(platform.package.Text(image.nameId))) return false;
    }
    for (const ImageFile& image : kImageFiles) {
        bool readable = false;
        std::uint32_t error = 0;
        const std::u16string name = platform.package.Text(image.nameId);
        if (WritePayload(platform, image.binaryId, name, &held, &readable, &error)) continue;
        if (readable) {
            platform.messages.Notify(error == kErrorNotEnoughMemory ? IDS_NOT_ENOUGH_MEMORY : IDS_MEMORY_ERROR, page);
        }
        return false;
    }
    return true;
}

bool WriteDesktopHelper(UpdatePlatform& platform, HeldFiles& held, std::uint32_t* error) {
    const std::filesystem::path path = platform.folder.File(std::u16string_view(kDesktopHelperFile));
    bool readable = false;
    if (!WritePayload(platform, IDBIN_WCESTEST, kDesktopHelperFile, nullptr, &readable, error)) return false;
    // The writing handle would keep the system from starting the file: it is let go and
    // the file opened again, read only, and checked, so nothing swapped in between runs.
    const LocalFile file = platform.files.OpenForCopy(path);
    if (file == LocalFiles::Invalid()) return false;
    const std::uint8_t* expected = nullptr;
    std::size_t size = 0;
    if (platform.package.ReadBinary(IDBIN_WCESTEST, &expected, &size) &&
        ReadChecked(platform, file, expected, size, [](const std::uint8_t*, std::uint32_t) { return true; })) {
        held.Hold(file);
        return true;
    }
    platform.files.Close(file);
    *error = 0;
    return false;
}

bool RunDesktopHelper(UpdatePlatform& platform, std::u16string_view parameters, std::uint32_t* exitCode,
                      std::uint32_t* error) {
    const std::filesystem::path program = platform.folder.File(std::u16string_view(kDesktopHelperFile));
    *exitCode = kHelperStillRunning;
    bool ran = false;
    {
        HeldFiles held(platform.files);
        if (WriteDesktopHelper(platform, held, error)) {
            ran = platform.shell.Run(program, parameters, platform.folder.Path(), kDesktopHelperWaitMs, exitCode,
                                     error);
        }
    }
    platform.files.Delete(program);
    return ran;
}

bool CheckImageFiles(UpdatePlatform& platform, bool bootLoaderPass) {
    // The files hold these bytes exactly: written whole from them and held since.
    const auto fit = [&platform](unsigned binaryId, bool needsUnit) {
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
        return platform.package.ReadBinary(binaryId, &data, &size) &&
               CheckImage(data, size, needsUnit) == ImageFault::None;
    };
    return fit(IDBIN_FIRMWARE_IMAGE, true) && (!bootLoaderPass || fit(IDBIN_BOOT_LOADER_IMAGE, false));
}

bool DeployHelper(UpdatePlatform& platform, PhoneHelper helper) {
    const PhoneHelperFiles files = FilesOf(helper);
    const std::uint8_t* expected = nullptr;
    std::size_t expectedSize = 0;
    if (!platform.package.ReadBinary(files.binaryId, &expected, &expectedSize)) return false;
    // Nobody else may write or delete it while it is copied.
    const LocalFile local = platform.files.OpenForCopy(platform.folder.File(files.localFile));
    if (local == LocalFiles::Invalid()) return false;
    const bool done = CopyAndStart(platform, files, local, expected, expectedSize);
    platform.files.Close(local);
    return done;
}

void DeleteHelperFiles(UpdatePlatform& platform) { DeleteAll(platform, false); }

void DeleteWrittenFiles(UpdatePlatform& platform) { DeleteAll(platform, true); }

void CleanUpAfterFailure(UpdatePlatform& platform, CDownloadAgent& agent) {
    agent.SetDesktopLink(true, false);
    platform.ticks.Sleep(kCleanUpPauseMs);
    DeleteWrittenFiles(platform);
}

bool CancelUpdatePage(UpdatePlatform& platform, WindowRef page, const std::function<void()>& endWithCancel,
                      const std::function<void()>& closePage) {
    if (!platform.messages.Confirm(IDS_QUIT_CONFIRMATION, page)) return false;
    endWithCancel();
    for (const HelperFile& helper : kHelperFiles) {
        const auto path = platform.folder.File(helper.fileName);
        if (!platform.files.CanOpenForReading(path)) continue;
        platform.ticks.Sleep(kCancelDeletePauseMs);
        platform.files.Delete(path);
    }
    closePage();
    return true;
}

}  // namespace flashwise::update
