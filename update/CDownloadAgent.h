#pragma once
// The download agents: what differs between the two Windows paths, behind two virtual
// operations. CDownloadAgent (before Windows 6) releases and restores the desktop
// synchronisation link by running wcestest.exe and downloads over the USB serial host
// device; CDownloadAgentVista stops and starts the device-center services and
// downloads over WinUSB. The agent also holds what a download pass works on: the
// image, the link and the shared download state.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "image/DownloadState.h"
#include "image/FirmwareImage.h"
#include "link/ConnManager.h"
#include "update/UpdatePlatform.h"

namespace flashwise::update {

class CDownloadAgent {
public:
    explicit CDownloadAgent(UpdatePlatform& platform);
    CDownloadAgent(const CDownloadAgent&) = delete;
    CDownloadAgent& operator=(const CDownloadAgent&) = delete;

    // Closes the image, then lets go of the link, the header builder and the locks,
    // and ends the Remote API connection last.
    virtual ~CDownloadAgent();
    // Enable restores the desktop synchronisation link, otherwise releases it; nonzero
    // on success. Report failure asks for messages (Vista path only).
    virtual int SetDesktopLink(bool enable, bool reportFailure);
    // A new boot-loader link for this path.
    virtual std::unique_ptr<CConnManager> CreateConnManager();

    // Makes the image and link objects the first time, opens the image file of the
    // working folder and the boot-loader link; a link that does not open leaves the
    // image closed. Run by the connection thread only.
    bool PrepareDownload(std::u16string_view fileName);

    CConnManager* Link() { return link_.get(); }
    CFirmwareImage* Image() { return image_.get(); }
    DownloadState& State() { return *state_; }
    const WorkFolder& Folder() const { return platform_.folder; }

    // 1 unless the phone runs the older operating system, which then needs a
    // boot-loader pass first. Written by the version fetch, read by the update.
    std::uint32_t NewerOs() const { return newerOs_.load(); }
    void SetNewerOs(std::uint32_t value) { newerOs_.store(value); }

protected:
    UpdatePlatform& platform_;

private:
    std::unique_ptr<CConnManager> link_;
    std::unique_ptr<CFirmwareImage> image_;
    // The header builder, the section header, the finished flag, the completed
    // fraction, the image length and the two locks.
    std::unique_ptr<DownloadState> state_;
    std::atomic<std::uint32_t> newerOs_{1};
};

class CDownloadAgentVista : public CDownloadAgent {
public:
    using CDownloadAgent::CDownloadAgent;
    ~CDownloadAgentVista() override = default;
    // Restoring puts the services back exactly as the run's record has them, when there
    // is one; releasing records them first.
    int SetDesktopLink(bool enable, bool reportFailure) override;
    std::unique_ptr<CConnManager> CreateConnManager() override;

private:
    int RestoreRecordedServices(const RunRecord& record);
};

// The agent of this machine's path (the major version in the packed version's low byte).
std::unique_ptr<CDownloadAgent> NewDownloadAgent(UpdatePlatform& platform, std::uint32_t packedVersion);

constexpr char16_t kDesktopHelperFile[] = u"wcestest.exe";
constexpr char16_t kReleaseParameters[] = u" /c:";
constexpr char16_t kRestoreParameters[] = u" /c:su";
// The helper only sends one message; a connection manager that does not answer must not
// hold the update for longer than this.
constexpr std::uint32_t kDesktopHelperWaitMs = 5000;

}  // namespace flashwise::update
