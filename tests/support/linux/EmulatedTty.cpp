#include "tests/support/linux/EmulatedTty.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "sim/CommEvents.h"

namespace flashwise::test {

namespace {

template <typename T>
T* Resolve(UMockdevIoctlData* arg, UMockdevIoctlData** holder) {
    *holder = umockdev_ioctl_data_resolve(arg, 0, sizeof(T), nullptr);
    return *holder ? reinterpret_cast<T*>((*holder)->data) : nullptr;
}

}  // namespace

EmulatedTty::EmulatedTty(UsbTestbed& bed, const std::string& name, sim::BootLoaderSim& device)
    : bed_(bed), device_(device) {
    // A freshly opened port: 9600 baud, canonical input with echo.
    static_assert(sizeof(termios2) <= sizeof(current_), "room for the terminal settings");
    termios2 fresh{};
    fresh.c_cflag = CS8 | CREAD | B9600;
    fresh.c_ispeed = fresh.c_ospeed = 9600;
    fresh.c_lflag = ICANON | ECHO;
    std::memcpy(current_, &fresh, sizeof fresh);
    // Not of the tty subsystem: the testbed would make it a bare pseudo-terminal.
    const std::string text = "P: /devices/pci0000:00/0000:00:14.0/usb1/1-9/1-9:1.0/" + name +
                             "\nN: " + name + "\nE: SUBSYSTEM=usb-serial\nE: DEVNAME=/dev/" + name + "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(bed_.Get(), text.c_str(), &error)) {
        const std::string why = error->message;
        g_clear_error(&error);
        throw std::runtime_error("umockdev: " + why);
    }
    sysPath_ = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-9/1-9:1.0/" + name;
    node_ = "/dev/" + name;
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedTty::OnIoctl), this);
    g_signal_connect(handler_, "handle-read", G_CALLBACK(&EmulatedTty::OnRead), this);
    g_signal_connect(handler_, "handle-write", G_CALLBACK(&EmulatedTty::OnWrite), this);
    if (!umockdev_testbed_attach_ioctl(bed_.Get(), node_.c_str(), handler_, &error)) {
        const std::string why = error->message;
        g_clear_error(&error);
        throw std::runtime_error("umockdev: " + why);
    }
}

EmulatedTty::~EmulatedTty() {
    umockdev_testbed_detach_ioctl(bed_.Get(), node_.c_str(), nullptr);
    umockdev_testbed_remove_device(bed_.Get(), sysPath_.c_str());
    g_object_unref(handler_);
}

void EmulatedTty::DenyAccess() {
    umockdev_testbed_detach_ioctl(bed_.Get(), node_.c_str(), nullptr);
    gchar* root = umockdev_testbed_get_root_dir(bed_.Get());
    chmod((std::string(root) + node_).c_str(), 0);
    g_free(root);
}

TtySettings EmulatedTty::Settings() const {
    std::lock_guard<std::mutex> hold(lock_);
    return settings_;
}
int EmulatedTty::DtrChanges() const {
    std::lock_guard<std::mutex> hold(lock_);
    return dtrChanges_;
}
int EmulatedTty::UnknownRequests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return unknown_;
}
int EmulatedTty::Requests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

gboolean EmulatedTty::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* tty = static_cast<EmulatedTty*>(self);
    int error = 0;
    long result;
    {
        std::lock_guard<std::mutex> hold(tty->lock_);
        ++tty->requests_;
        result = tty->Ioctl(umockdev_ioctl_client_get_request(client), umockdev_ioctl_client_get_arg(client), &error);
    }
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

gboolean EmulatedTty::OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* tty = static_cast<EmulatedTty*>(self);
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    long result = 0;
    int error = 0;
    {
        std::lock_guard<std::mutex> hold(tty->lock_);
        ++tty->requests_;
        const sim::ReadResult r = tty->device_.HostRead(buffer->data, buffer->data_len);
        if (r.kind == sim::ReadKind::Gone) {
            result = -1;
            error = EIO;
        } else if (r.kind == sim::ReadKind::Data) {
            result = static_cast<long>(r.count);
        }
        // Nothing waiting: the port's read time-out passes with no byte.
    }
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

gboolean EmulatedTty::OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* tty = static_cast<EmulatedTty*>(self);
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    long result;
    int error = 0;
    {
        std::lock_guard<std::mutex> hold(tty->lock_);
        ++tty->requests_;
        if (tty->device_.IsGone() || !tty->device_.HostWrite(buffer->data, buffer->data_len)) {
            result = -1;
            error = EIO;
        } else {
            result = static_cast<long>(buffer->data_len);
        }
    }
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

long EmulatedTty::Ioctl(unsigned long request, UMockdevIoctlData* arg, int* error) {
    if (device_.IsGone()) {
        *error = EIO;
        return -1;
    }
    UMockdevIoctlData* held = nullptr;
    struct Release {
        UMockdevIoctlData*& d;
        ~Release() {
            if (d) g_object_unref(d);
        }
    } release{held};
    switch (request) {
        case TCGETS2: {
            auto* t = Resolve<termios2>(arg, &held);
            if (t == nullptr) break;
            std::memcpy(t, current_, sizeof *t);
            return 0;
        }
        case TCSETS2: {
            auto* t = Resolve<termios2>(arg, &held);
            if (t == nullptr) break;
            std::memcpy(current_, t, sizeof *t);
            settings_.baud = t->c_ospeed;
            settings_.ctsFlow = (t->c_cflag & CRTSCTS) != 0;
            settings_.raw = (t->c_lflag & (ICANON | ECHO)) == 0 && (t->c_cflag & CSIZE) == CS8;
            settings_.vmin = t->c_cc[VMIN];
            settings_.vtime = t->c_cc[VTIME];
            return 0;
        }
        case TIOCEXCL:
            settings_.exclusive = true;
            return 0;
        case TIOCMBIS:
        case TIOCMBIC: {
            auto* bits = Resolve<int>(arg, &held);
            if (bits == nullptr) break;
            if (*bits & TIOCM_DTR) {
                const bool on = request == TIOCMBIS;
                if (on != dtr_) ++dtrChanges_;
                dtr_ = on;
                device_.LineState(on);
                if (device_.IsGone()) return (*error = EIO, -1);
            }
            return 0;
        }
        case TIOCMGET: {
            auto* bits = Resolve<int>(arg, &held);
            if (bits == nullptr) break;
            // The device's serial events become changes of the lines a wait watches.
            const sim::CommEvents events = device_.TakeCommEvents();
            if (events.gone) return (*error = EIO, -1);
            if (events.mask & sim::kEventCts) lines_ ^= TIOCM_CTS;
            if (events.mask & sim::kEventDsr) lines_ ^= TIOCM_DSR;
            *bits = lines_ | (dtr_ ? TIOCM_DTR : 0);
            return 0;
        }
        case FIONREAD: {
            auto* count = Resolve<int>(arg, &held);
            if (count == nullptr) break;
            *count = static_cast<int>(device_.PendingReplyBytes());
            return 0;
        }
        default:
            break;
    }
    ++unknown_;
    *error = ENOTTY;
    return -1;
}

}  // namespace flashwise::test
