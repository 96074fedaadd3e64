#include "update/HelperDeployment.h"

#include <array>
#include <vector>

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
    std::u16string_view localFile;
    std::u16string_view phonePath;
    std::u16string_view processName;
    bool blockingConnect;
};

PhoneHelperFiles FilesOf(PhoneHelper helper) {
    switch (helper) {
    case PhoneHelper::DeviceSpy:
        return {u"DeviceSpy.exe", u"\\windows\\DeviceSpy.exe", u"DeviceSpy", true};
    case PhoneHelper::DeviceMode:
        return {u"DeviceMode.exe", u"\\windows\\DeviceMode.exe", u"DeviceMode", false};
    case PhoneHelper::SysReboot:
        break;
    }
    return {u"SysReboot.exe", u"\\windows\\SysReboot.exe", u"SysReboot", false};
}

// One payload into one file, with one write. `error` is the system's code of the call
// that failed, read right after it (0 for a short write the system did not explain).
bool WritePayload(UpdatePlatform& platform, unsigned binaryId, std::u16string_view fileName, bool shareDelete,
                  bool* readable, std::uint32_t* error) {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    *readable = platform.package.ReadBinary(binaryId, &data, &size);
    *error = 0;
    if (!*readable) return false;
    if (fileName.empty()) return false;
    const LocalFile file = platform.files.Create(platform.folder.File(fileName), shareDelete, error);
    if (file == LocalFiles::Invalid()) return false;
    std::uint32_t written = 0;
    const std::uint32_t length = static_cast<std::uint32_t>(size);
    const bool ok = size == length && platform.files.Write(file, data, length, &written, error) && written == length;
    platform.files.Close(file);
    return ok;
}

// The local file is already open; the copy goes piece by piece, and the write after the
// read that found the end has length 0.
bool CopyToPhone(UpdatePlatform& platform, LocalFile local, RapiHandle phone) {
    std::vector<std::uint8_t> piece(kCopyPieceSize);
    for (;;) {
        std::uint32_t read = 0;
        if (!platform.files.Read(local, piece.data(), kCopyPieceSize, &read)) return false;
        std::uint32_t written = 0;
        if (!platform.rapi.WritePhoneFile(phone, piece.data(), read, &written) || written != read) return false;
        if (read == 0) return true;
    }
}

bool Connect(RapiConnection& connection, bool blocking) {
    if (blocking) return connection.Started();
    return connection.Started() && connection.WaitReady(kHelperConnectMs) == WaitOutcome::Signalled &&
           RapiSucceeded(connection.Result());
}

bool CopyAndStart(UpdatePlatform& platform, const PhoneHelperFiles& files, LocalFile local) {
    RapiApi& rapi = platform.rapi;
    RapiConnection connection =
        files.blockingConnect ? RapiConnection::Blocking(rapi) : RapiConnection::Request(rapi);
    if (!Connect(connection, files.blockingConnect)) return false;

    const RapiHandle phone = rapi.CreatePhoneFile(files.phonePath);
    if (phone == InvalidRapiHandle()) return false;
    const bool copied = CopyToPhone(platform, local, phone);
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
        bool readable = false;
        std::uint32_t error = 0;
        if (!WritePayload(platform, helper.binaryId, helper.fileName, false, &readable, &error)) return false;
    }
    return true;
}

bool ExtractDesktopHelper(UpdatePlatform& platform) {
    bool readable = false;
    std::uint32_t error = 0;
    return WritePayload(platform, IDBIN_WCESTEST, kDesktopHelperFile, false, &readable, &error);
}

bool ExtractImageFiles(UpdatePlatform& platform, WindowRef page) {
    struct ImageFile {
        unsigned binaryId;
        unsigned nameId;
    };
    constexpr ImageFile kImageFiles[] = {{IDBIN_FIRMWARE_IMAGE, IDS_IMAGE_FILE_NAME},
                                         {IDBIN_BOOT_LOADER_IMAGE, IDS_BOOT_LOADER_IMAGE_FILE_NAME}};
    for (const ImageFile& image : kImageFiles) {
        bool readable = false;
        std::uint32_t error = 0;
        const std::u16string name = platform.package.Text(image.nameId);
        if (WritePayload(platform, image.binaryId, name, true, &readable, &error)) continue;
        if (readable) {
            platform.messages.Notify(error == kErrorNotEnoughMemory ? IDS_NOT_ENOUGH_MEMORY : IDS_MEMORY_ERROR, page);
        }
        return false;
    }
    return true;
}

bool DeployHelper(UpdatePlatform& platform, PhoneHelper helper) {
    const PhoneHelperFiles files = FilesOf(helper);
    // Shared for deletion, so that a clean-up that runs meanwhile can still remove it.
    const LocalFile local = platform.files.OpenForCopy(platform.folder.File(files.localFile));
    if (local == LocalFiles::Invalid()) return false;
    const bool done = CopyAndStart(platform, files, local);
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
