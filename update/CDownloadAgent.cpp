#include "update/CDownloadAgent.h"

#include <cstdio>

#include "app/PlatformPath.h"
#include "res/ResourceIds.h"
#include "update/HelperDeployment.h"
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
    const std::filesystem::path program = platform_.folder.File(std::u16string_view(kDesktopHelperFile));
    std::uint32_t error = 0;
    std::uint32_t exitCode = kHelperStillRunning;
    bool ran = false;
    {
        HeldFiles held(platform_.files);
        if (WriteDesktopHelper(platform_, held, &error)) {
            ran = platform_.shell.Run(program, enable ? kRestoreParameters : kReleaseParameters,
                                      platform_.folder.Path(), kDesktopHelperWaitMs, &exitCode, &error);
        }
    }
    platform_.files.Delete(program);
    // Only a helper that says it did its work has done it.
    if (ran) return exitCode == 0 ? 1 : 0;
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
        ControlDeviceService(services, ticks, "START", "RapiMgr");
        return ControlDeviceService(services, ticks, "START", "WcesComm") ? 1 : 0;
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

std::unique_ptr<CConnManager> CDownloadAgentVista::CreateConnManager() { return platform_.links.NewWinUsbLink(); }

std::unique_ptr<CDownloadAgent> NewDownloadAgent(UpdatePlatform& platform, std::uint32_t packedVersion) {
    if (app::PlatformPathFromVersion(packedVersion) == app::PlatformPath::Vista) {
        return std::make_unique<CDownloadAgentVista>(platform);
    }
    return std::make_unique<CDownloadAgent>(platform);
}

}  // namespace flashwise::update
