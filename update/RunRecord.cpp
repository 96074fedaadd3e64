#include "update/RunRecord.h"

#include "update/CDownloadAgent.h"
#include "update/HelperDeployment.h"
#include "update/ServiceControl.h"
#include "update/UpdatePlatform.h"

namespace flashwise::update {

bool RecordServicesBeforeChange(UpdatePlatform& platform, const std::vector<std::u16string>& names) {
    if (platform.record == nullptr) return true;
    std::optional<RunRecord> record = platform.record->Load();
    // Recorded by this run already: what the services are now is this run's doing.
    if (record && !record->services.empty()) return true;
    RunRecord fresh = record.value_or(RunRecord{});
    fresh.workFolder = platform.folder.Path();
    for (const std::u16string& name : names) {
        RecordedService service{name, 0, 0};
        if (!ReadDeviceService(platform.services, name, &service.startType, &service.state)) return false;
        fresh.services.push_back(service);
    }
    return platform.record->Save(fresh);
}

bool RecordDesktopLinkRelease(UpdatePlatform& platform) {
    if (platform.record == nullptr) return true;
    std::optional<RunRecord> record = platform.record->Load();
    if (record && record->desktopLinkReleased) return true;
    RunRecord fresh = record.value_or(RunRecord{});
    fresh.workFolder = platform.folder.Path();
    fresh.desktopLinkReleased = true;
    return platform.record->Save(fresh);
}

std::optional<RunRecord> RecordedRun(UpdatePlatform& platform) {
    if (platform.record == nullptr) return std::nullopt;
    return platform.record->Load();
}

void ForgetRun(UpdatePlatform& platform) {
    if (platform.record != nullptr) platform.record->Remove();
}

void ActOnLeftRecord(UpdatePlatform& platform) {
    const std::optional<RunRecord> record = RecordedRun(platform);
    if (!record) return;
    // The dead run's files are where it wrote them, which need not be where this run writes.
    UpdatePlatform left = platform;
    if (!record->workFolder.empty()) left.folder = WorkFolder(record->workFolder);

    bool restored = true;
    // Started in the reverse order of their stops.
    for (auto service = record->services.rbegin(); service != record->services.rend(); ++service) {
        restored = RestoreDeviceService(left.services, left.ticks, service->name, service->startType,
                                        service->state) && restored;
    }
    if (record->desktopLinkReleased) {
        // The helper may have gone with the run's other files: it is written again.
        std::uint32_t error = 0;
        restored = ExtractDesktopHelper(left) &&
                   left.shell.RunHidden(left.folder.File(std::u16string_view(kDesktopHelperFile)),
                                        kRestoreParameters, kDesktopHelperWaitMs, &error) &&
                   restored;
    }
    // Every file the dead run wrote goes; a folder of its own that it made for them
    // would go here too, once it is empty.
    DeleteWrittenFiles(left);
    // Kept when the desktop could not be put back, so that the next start tries again.
    if (restored) ForgetRun(platform);
}

}  // namespace flashwise::update
