// Flashing: the release is checked whole, then the device is opened, then each pass
// (the boot-loader image when asked, then the main image) goes through the download
// driver and the link the wizard uses. The last line says whether the phone was written.

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "image/DownloadDriver.h"
#include "image/DownloadState.h"
#include "image/FirmwareImage.h"
#include "image/TransferPlan.h"
#include "image/TransferUnits.h"
#include "link/ConnManager.h"
#include "link/ConnManagerVista.h"
#include "link/linux/LibUsbApi.h"
#include "link/posix/TermiosSerialPort.h"
#include "tools/flashwise-flash/Progress.h"
#include "tools/flashwise-flash/Verbs.h"

namespace flashwise::flash {

namespace {

// A link that tells the progress display when each unit starts and how it ended, and
// notes the unit that failed.
template <typename Link>
class ReportingLink : public Link {
public:
    template <typename... Args>
    ReportingLink(Progress* progress, int* failedUnit, Args&&... args)
        : Link(std::forward<Args>(args)...), progress_(progress), failedUnit_(failedUnit) {}

    bool PrepareSection(CFirmwareImage* image, std::uint8_t* request, const std::uint8_t* header, int code) override {
        UnitRange range;
        if (image != nullptr && UnitDataRange(*image, code, &range) && range.length != 0) {
            progress_->BeginUnit(code, range.length);
        }
        const bool ok = Link::PrepareSection(image, request, header, code);
        if (!ok) {
            *failedUnit_ = code;
            progress_->EndUnit(false);
        }
        return ok;
    }
    bool SendSection(CFirmwareImage* image, std::uint8_t* request, const std::uint8_t* header, int code) override {
        const bool ok = Link::SendSection(image, request, header, code);
        if (!ok) *failedUnit_ = code;
        progress_->EndUnit(ok);
        return ok;
    }

private:
    Progress* progress_;
    int* failedUnit_;
};

std::string UsbName(const Options& o) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", o.vendor, o.product);
    return text;
}

// Runs `work` while a ticker rewrites the terminal line a few times a second.
bool WithTicker(Progress& progress, bool terminal, const std::function<bool()>& work) {
    if (!terminal) return work();
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread ticker([&] {
        std::unique_lock<std::mutex> hold(m);
        while (!cv.wait_for(hold, std::chrono::milliseconds(250), [&] { return done; })) progress.Tick();
    });
    const bool ok = work();
    {
        std::lock_guard<std::mutex> hold(m);
        done = true;
    }
    cv.notify_all();
    ticker.join();
    return ok;
}

struct Pass {
    const char* title;
    const ReleaseImage* image;
};

}  // namespace

int RunFlash(const Options& o, const ShippedRelease& release, std::FILE* out, std::FILE* err,
             const Environment& env) {
    // Everything about the release is settled before any device is touched.
    std::vector<Pass> passes;
    if (o.bootLoaderPass) passes.push_back({"boot-loader image", &release.BootLoader()});
    passes.push_back({"firmware image", &release.Main()});
    for (const Pass& p : passes) {
        if (!p.image->present || !p.image->whole) {
            std::fprintf(err, "flashwise-flash: %s: its %s fails its check: %s; no device was opened\n",
                         o.release.c_str(), p.title, p.image->failure.c_str());
            return kExitNotARelease;
        }
    }

    LibUsbApi* usb = nullptr;
    TermiosSerialPort* tty = nullptr;
    std::unique_ptr<CConnManager> link;
    auto bytesSent = [&]() -> std::uint64_t { return usb ? usb->BytesSent() : tty ? tty->BytesSent() : 0; };
    Progress progress(out, env.terminal, env.clock, bytesSent);
    int failedUnit = 0;

    if (o.usb) {
        auto api = std::make_unique<LibUsbApi>(UsbDeviceId{o.vendor, o.product});
        usb = api.get();
        const int count = usb->CountMatching();
        if (count < 0) {
            std::fprintf(err, "flashwise-flash: cannot use USB here (libusb: %s)\n", usb->ProblemDetail().c_str());
            return kExitNoDevice;
        }
        if (count == 0) {
            std::fprintf(err,
                         "flashwise-flash: no USB device %s: put the phone in its boot loader, connect it, and check "
                         "that `lsusb` lists %s\n",
                         UsbName(o).c_str(), UsbName(o).c_str());
            return kExitNoDevice;
        }
        if (count > 1) {
            std::fprintf(err,
                         "flashwise-flash: %d USB devices %s are connected: connect only the phone to write; nothing "
                         "was written\n",
                         count, UsbName(o).c_str());
            return kExitNoDevice;
        }
        link = std::make_unique<ReportingLink<CConnManagerVista>>(&progress, &failedUnit, std::move(api), env.pause,
                                                                  env.clock, env.usbBounds);
        if (!link->Open()) {
            switch (usb->Problem()) {
                case UsbOpenProblem::PermissionDenied:
                    std::fprintf(err,
                                 "flashwise-flash: permission denied opening USB device %s: install the udev rule "
                                 "(README, \"Flash from Linux\") and reconnect the phone, or run as root\n",
                                 UsbName(o).c_str());
                    break;
                case UsbOpenProblem::SeveralDevices:
                    std::fprintf(err,
                                 "flashwise-flash: more than one USB device %s is connected: connect only the phone "
                                 "to write; nothing was written\n",
                                 UsbName(o).c_str());
                    break;
                case UsbOpenProblem::NoDevice:
                    std::fprintf(err, "flashwise-flash: USB device %s went away while it was opened: reconnect it\n",
                                 UsbName(o).c_str());
                    break;
                case UsbOpenProblem::Busy:
                    std::fprintf(err,
                                 "flashwise-flash: USB device %s is held by another program (%s): close it and try "
                                 "again\n",
                                 UsbName(o).c_str(), usb->ProblemDetail().c_str());
                    break;
                default:
                    std::fprintf(err, "flashwise-flash: cannot open USB device %s (%s)\n", UsbName(o).c_str(),
                                 usb->ProblemDetail().c_str());
            }
            return kExitNoDevice;
        }
    } else {
        auto port = std::make_unique<TermiosSerialPort>(o.serial, env.serialEventWaitMs);
        tty = port.get();
        // One try first, so that a missing or forbidden device says so at once instead of
        // going through the link's rounds of attempts.
        if (!tty->Open(L"")) {
            const int e = tty->OpenErrno();
            if (e == EACCES || e == EPERM) {
                std::fprintf(err,
                             "flashwise-flash: permission denied opening %s: install the udev rule (README, \"Flash "
                             "from Linux\") or add yourself to the dialout group, then reconnect the phone\n",
                             o.serial.c_str());
            } else if (e == ENOENT || e == ENODEV || e == ENXIO) {
                std::fprintf(err,
                             "flashwise-flash: no device %s: put the phone in its boot loader, connect it, and "
                             "check `ls /dev/ttyUSB* /dev/ttyACM*`\n",
                             o.serial.c_str());
            } else {
                std::fprintf(err, "flashwise-flash: cannot open %s: %s\n", o.serial.c_str(), std::strerror(e));
            }
            return kExitNoDevice;
        }
        link = std::make_unique<ReportingLink<CConnManager>>(&progress, &failedUnit, std::move(port), env.pause,
                                                             env.clock);
        if (!link->Open()) {
            std::fprintf(err, "flashwise-flash: %s refused its line settings: is it the phone's boot loader?\n",
                         o.serial.c_str());
            return kExitNoDevice;
        }
    }

    if (o.dryRun) {
        std::fprintf(out, "dry run: the release is whole and the device opened; nothing was sent\n");
        return kExitWritten;
    }

    std::uint64_t units = 0;
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < passes.size(); ++i) {
        const Pass& p = passes[i];
        // A later pass opens the link again, as the wizard's second pass does.
        if (i > 0 && !link->Open()) {
            std::fprintf(err,
                         "flashwise-flash: the device did not open again for the %s: the phone is NOT written; "
                         "restart it into its boot loader and run the flash again\n",
                         p.title);
            return kExitTransferFailed;
        }
        CFirmwareImage image(WorkFolder(p.image->path.parent_path()));
        if (!image.OpenImage(p.image->path)) {
            std::fprintf(err, "flashwise-flash: cannot read back the %s\n", p.title);
            return kExitTransferFailed;
        }
        progress.BeginPass(std::string(p.title) + " " + p.image->path.filename().string() + " (" +
                           std::to_string(p.image->length) + " bytes)");
        DownloadState state;
        state.BeginPass(p.image->length);
        for (const int code : TransferOrder(image)) {
            UnitRange range;
            if (UnitDataRange(image, code, &range)) bytes += range.length;
            ++units;
        }
        const bool ok = WithTicker(progress, env.terminal, [&] { return RunDownload(state, *link, image, env.pause); });
        if (!ok) {
            const int unit = failedUnit;
            const bool gone = usb ? usb->DeviceGone() : tty->DeviceGone();
            std::string why;
            if (link->LastRefusal() != 0) {
                char code[16];
                std::snprintf(code, sizeof code, "0x%02X", link->LastRefusal());
                why = "the boot loader refused unit " + std::to_string(unit) + " with result code " + code +
                      "; run the flash again, and if it is refused again this release does not suit the phone";
            } else if (gone) {
                why = "the device went away during unit " + std::to_string(unit) +
                      "; reconnect the phone in its boot loader and run the flash again";
            } else {
                why = "the boot loader stopped answering during unit " + std::to_string(unit) +
                      "; restart the phone into its boot loader and run the flash again";
            }
            std::fprintf(err, "flashwise-flash: the phone is NOT written: %s\n", why.c_str());
            return kExitTransferFailed;
        }
    }
    std::fprintf(out, "the phone was written: %llu %s, %llu bytes, %s for %s\n", static_cast<unsigned long long>(units),
                 units == 1 ? "unit" : "units", static_cast<unsigned long long>(bytes),
                 release.Text(156).c_str(), release.Text(160).c_str());
    return kExitWritten;
}

}  // namespace flashwise::flash
