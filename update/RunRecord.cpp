#include "update/RunRecord.h"

#include "update/CDownloadAgent.h"
#include "update/HelperDeployment.h"
#include "update/PrivateFolder.h"
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

namespace {

// Only a folder such as this program makes for a run, where it makes them, is removed
// on a record's word: "Flashwise-" and eight hexadecimal digits, in the folders' base.
bool IsPrivateFolderOfARun(const std::filesystem::path& folder, PrivateFolders& folders) {
    const std::filesystem::path base = folders.Base();
    if (base.empty() || folder.parent_path() != base) return false;
    const std::u16string name = folder.filename().u16string();
    const std::u16string_view prefix = u"Flashwise-";
    if (name.size() != prefix.size() + 8 || name.compare(0, prefix.size(), prefix) != 0) return false;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        const char16_t c = name[i];
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
    }
    return true;
}

}  // namespace

void ActOnLeftRecord(UpdatePlatform& platform, PrivateFolders* folders) {
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
        // Written and checked before it runs, as every run of it; only its exit code 0
        // says the link is back.
        std::uint32_t error = 0;
        std::uint32_t exitCode = kHelperStillRunning;
        restored = RunDesktopHelper(left, kRestoreParameters, &exitCode, &error) && exitCode == 0 && restored;
    }
    // Every file the dead run wrote goes, and with them the private folder it made.
    DeleteWrittenFiles(left);
    if (folders != nullptr && !record->workFolder.empty() && IsPrivateFolderOfARun(record->workFolder, *folders)) {
        folders->Remove(record->workFolder);
    }
    // Kept when the desktop could not be put back, so that the next start tries again.
    if (restored) ForgetRun(platform);
}

}  // namespace flashwise::update
