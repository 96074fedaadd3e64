#include "update/CDownloadAgent.h"

#include <cstdio>

#include "app/PlatformPath.h"
#include "res/ResourceIds.h"
#include "update/HelperDeployment.h"
#include "update/RunRecord.h"
#include "update/ServiceControl.h"

namespace flashwise::update {

CDownloadAgent::CDownloadAgent(UpdatePlatform& platform)
    : platform_(platform), state_(std::make_unique<DownloadState>()) {}

CDownloadAgent::~CDownloadAgent() {
    if (image_) image_->CloseImage();
    image_.reset();
    link_.reset();
    state_->HeaderBuilder().reset();
    state_.reset();
    platform_.rapi.Uninit();
}

int CDownloadAgent::SetDesktopLink(bool enable, bool) {
    // Written afresh and found byte for byte the package's own before every run, and
    // held so that nobody can change it until it has run: whatever lay there before,
    // left by an earlier run or planted, never runs with this program's rights. Started
    // by its full path from the work folder, which only administrators can write: a
    // search by bare name would also find a wcestest.bat or .com planted elsewhere.
    // Each run is waited for (bounded), so that the runs act in the order they were
    // made: a release still under way must not undo the restore that follows it.
    // A release is written down first, so that a run that dies before the restore does
    // not leave the desktop without its link.
    if (!enable && !RecordDesktopLinkRelease(platform_)) return 0;
    std::uint32_t error = 0;
    std::uint32_t exitCode = kHelperStillRunning;
    if (RunDesktopHelper(platform_, enable ? kRestoreParameters : kReleaseParameters, &exitCode, &error)) {
        // Only a helper that says it did its work has done it.
        if (exitCode != 0) return 0;
        if (enable) ForgetRun(platform_);
        return 1;
    }
    char line[96];
    std::snprintf(line, sizeof line, "CreateProcess Wcestest.exe failed with Errorcode = %ld\n",
                  static_cast<long>(error));
    platform_.shell.WriteStandardOutput(line);
    return 0;
}

std::unique_ptr<CConnManager> CDownloadAgent::CreateConnManager() { return platform_.links.NewSerialLink(); }

bool CDownloadAgent::PrepareDownload(std::u16string_view fileName) {
    // ExtRom.tmp goes where every other file of the program goes.
    if (!image_) image_ = std::make_unique<CFirmwareImage>(platform_.folder);
    if (!link_) link_ = CreateConnManager();
    state_->SetFinished(false);
    if (fileName.empty()) return false;
    if (!image_->OpenImage(platform_.folder.File(fileName))) return false;
    if (!link_ || !link_->Open()) {
        image_->CloseImage();
        return false;
    }
    state_->SetImageLength(static_cast<double>(image_->File().Length()));
    state_->SetCompleted(0.0);
    return true;
}

int CDownloadAgentVista::SetDesktopLink(bool enable, bool reportFailure) {
    ServiceManager& services = platform_.services;
    Ticks& ticks = platform_.ticks;
    if (enable) {
        if (const std::optional<RunRecord> record = RecordedRun(platform_); record && !record->services.empty()) {
            return RestoreRecordedServices(*record);
        }
        ControlDeviceService(services, ticks, "START", "RapiMgr");
        return ControlDeviceService(services, ticks, "START", "WcesComm") ? 1 : 0;
    }
    // Before the first stop: how each service was set up and whether it ran, kept where
    // it outlives this process. Without that record nothing is changed.
    if (!RecordServicesBeforeChange(platform_, {u"WcesComm", u"RapiMgr"})) {
        if (reportFailure) platform_.messages.NotifyOnTop(IDS_STOP_WCESCOMM_FAILED);
        return 0;
    }
    if (!ControlDeviceService(services, ticks, "STOP", "WcesComm") &&
        !ControlDeviceService(services, ticks, "STOP", "WcesComm")) {
        if (reportFailure) platform_.messages.NotifyOnTop(IDS_STOP_WCESCOMM_FAILED);
        return 0;
    }
    if (!ControlDeviceService(services, ticks, "STOP", "RapiMgr") &&
        !ControlDeviceService(services, ticks, "STOP", "RapiMgr")) {
        if (reportFailure) platform_.messages.NotifyOnTop(IDS_STOP_RAPIMGR_FAILED);
        return 0;
    }
    return 1;
}

int CDownloadAgentVista::RestoreRecordedServices(const RunRecord& record) {
    // In the reverse order of their stops: "RapiMgr", then "WcesComm", whose result counts.
    bool all = true;
    bool wcesComm = false;
    for (auto service = record.services.rbegin(); service != record.services.rend(); ++service) {
        const bool restored = RestoreDeviceService(platform_.services, platform_.ticks, service->name,
                                                   service->startType, service->state);
        all = all && restored;
        if (service->name == u"WcesComm") wcesComm = restored;
    }
    // Kept when a service could not be put back: the next start tries again.
    if (all) ForgetRun(platform_);
    return wcesComm ? 1 : 0;
}

std::unique_ptr<CConnManager> CDownloadAgentVista::CreateConnManager() { return platform_.links.NewWinUsbLink(); }

std::unique_ptr<CDownloadAgent> NewDownloadAgent(UpdatePlatform& platform, std::uint32_t packedVersion) {
    if (app::PlatformPathFromVersion(packedVersion) == app::PlatformPath::Vista) {
        return std::make_unique<CDownloadAgentVista>(platform);
    }
    return std::make_unique<CDownloadAgent>(platform);
}

}  // namespace flashwise::update
