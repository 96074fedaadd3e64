#include "tests/support/linux/EmulatedUsb.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace flashwise::test {

namespace {

// Configuration: one interface of the vendor class, bulk OUT 0x01 and bulk IN 0x81 of 512 bytes.
const std::uint8_t kConfiguration[] = {
    0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
    0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00,
    0x07, 0x05, 0x01, 0x02, 0x00, 0x02, 0x00,
    0x07, 0x05, 0x81, 0x02, 0x00, 0x02, 0x00,
};

std::string Hex(const std::uint8_t* p, std::size_t n) {
    std::string out;
    char two[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02X", p[i]);
        out += two;
    }
    return out;
}

usbdevfs_urb* Kernel(UMockdevIoctlData* urb) { return reinterpret_cast<usbdevfs_urb*>(urb->data); }

}  // namespace

bool InUsbEmulation() { return umockdev_in_mock_environment(); }

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {}
UsbTestbed::~UsbTestbed() { g_object_unref(testbed_); }

EmulatedUsbPhone::EmulatedUsbPhone(UsbTestbed& bed, int devnum, std::uint16_t vendor, std::uint16_t product,
                                   sim::BootLoaderSim& device, bool kernelDriver)
    : bed_(bed), device_(device), kernelDriver_(kernelDriver) {
    const std::uint8_t descriptor[18] = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40,
                                         static_cast<std::uint8_t>(vendor), static_cast<std::uint8_t>(vendor >> 8),
                                         static_cast<std::uint8_t>(product), static_cast<std::uint8_t>(product >> 8),
                                         0x00, 0x01, 0, 0, 0, 1};
    const std::string descriptors = Hex(descriptor, sizeof descriptor) + Hex(kConfiguration, sizeof kConfiguration);
    char text[1024];
    std::snprintf(text, sizeof text,
                  "P: /devices/pci0000:00/0000:00:14.0/usb1/1-%d\n"
                  "N: bus/usb/001/%03d=%s\n"
                  "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/001/%03d\n"
                  "E: BUSNUM=001\nE: DEVNUM=%03d\nE: PRODUCT=%x/%x/100\n"
                  "A: busnum=1\nA: devnum=%d\nA: speed=480\nA: bConfigurationValue=1\nA: bNumConfigurations=1\n"
                  "A: idVendor=%04x\nA: idProduct=%04x\nA: dev=189:%d\nH: descriptors=%s\n",
                  devnum, devnum, descriptors.c_str(), devnum, devnum, vendor, product, devnum, vendor, product,
                  devnum - 1, descriptors.c_str());
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(bed_.Get(), text, &error)) {
        const std::string why = error->message;
        g_clear_error(&error);
        throw std::runtime_error("umockdev: " + why);
    }
    char path[64];
    std::snprintf(path, sizeof path, "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-%d", devnum);
    sysPath_ = path;
    std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03d", devnum);
    devNode_ = path;
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedUsbPhone::OnIoctl), this);
    if (!umockdev_testbed_attach_ioctl(bed_.Get(), devNode_.c_str(), handler_, &error)) {
        const std::string why = error->message;
        g_clear_error(&error);
        throw std::runtime_error("umockdev: " + why);
    }
}

EmulatedUsbPhone::~EmulatedUsbPhone() {
    umockdev_testbed_detach_ioctl(bed_.Get(), devNode_.c_str(), nullptr);
    if (!removed_) umockdev_testbed_remove_device(bed_.Get(), sysPath_.c_str());
    for (auto* queue : {&pendingReads_, &done_}) {
        for (Urb& u : *queue) {
            if (u.buffer) g_object_unref(u.buffer);
            g_object_unref(u.urb);
        }
    }
    g_object_unref(handler_);
}

void EmulatedUsbPhone::DenyAccess() {
    // Replaced by a node nobody may open: the emulation's handler is never reached.
    umockdev_testbed_detach_ioctl(bed_.Get(), devNode_.c_str(), nullptr);
    gchar* root = umockdev_testbed_get_root_dir(bed_.Get());
    const std::string node = std::string(root) + devNode_;
    g_free(root);
    chmod(node.c_str(), 0);
}

bool EmulatedUsbPhone::Gone() const {
    std::lock_guard<std::mutex> hold(lock_);
    return gone_;
}

void EmulatedUsbPhone::AnnounceRemoval() {
    if (removed_) return;
    removed_ = true;
    umockdev_testbed_uevent(bed_.Get(), sysPath_.c_str(), "remove");
    umockdev_testbed_remove_device(bed_.Get(), sysPath_.c_str());
}

int EmulatedUsbPhone::Detaches() const {
    std::lock_guard<std::mutex> hold(lock_);
    return detaches_;
}
int EmulatedUsbPhone::Reattaches() const {
    std::lock_guard<std::mutex> hold(lock_);
    return reattaches_;
}
bool EmulatedUsbPhone::KernelDriverBound() const {
    std::lock_guard<std::mutex> hold(lock_);
    return kernelDriver_;
}
int EmulatedUsbPhone::Requests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}
int EmulatedUsbPhone::UnknownRequests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return unknown_;
}

gboolean EmulatedUsbPhone::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* phone = static_cast<EmulatedUsbPhone*>(self);
    int error = 0;
    long result;
    {
        std::lock_guard<std::mutex> hold(phone->lock_);
        result = phone->Handle(umockdev_ioctl_client_get_request(client), umockdev_ioctl_client_get_arg(client),
                               &error);
    }
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

void EmulatedUsbPhone::Complete(Urb urb, int status, int length) {
    Kernel(urb.urb)->status = status;
    Kernel(urb.urb)->actual_length = length;
    done_.push_back(urb);
}

void EmulatedUsbPhone::Unplug() {
    gone_ = true;
    while (!pendingReads_.empty()) {
        Complete(pendingReads_.front(), -ESHUTDOWN, 0);
        pendingReads_.pop_front();
    }
}

void EmulatedUsbPhone::ServeReads() {
    while (!pendingReads_.empty()) {
        Urb urb = pendingReads_.front();
        usbdevfs_urb* k = Kernel(urb.urb);
        const std::size_t room = k->buffer_length > 0 ? static_cast<std::size_t>(k->buffer_length) : 0;
        const sim::ReadResult r =
            device_.HostRead(urb.buffer ? static_cast<std::uint8_t*>(static_cast<void*>(urb.buffer->data)) : nullptr,
                             urb.buffer ? room : 0);
        if (r.kind == sim::ReadKind::Nothing) return;   // the transfer waits, as on a bus
        pendingReads_.pop_front();
        if (r.kind == sim::ReadKind::Gone) {
            Complete(urb, -ESHUTDOWN, 0);
            Unplug();
            return;
        }
        Complete(urb, 0, r.kind == sim::ReadKind::Data ? static_cast<int>(r.count) : 0);
    }
}

long EmulatedUsbPhone::Handle(unsigned long request, UMockdevIoctlData* arg, int* error) {
    ++requests_;
    const std::size_t size = _IOC_SIZE(request);
    UMockdevIoctlData* data = nullptr;
    if (size > 0 && request != USBDEVFS_DISCARDURB) {
        data = umockdev_ioctl_data_resolve(arg, 0, size, nullptr);
        if (data == nullptr) {
            *error = EFAULT;
            return -1;
        }
    }
    struct Release {
        UMockdevIoctlData*& d;
        ~Release() {
            if (d) g_object_unref(d);
        }
    } release{data};
    if (gone_ && request != USBDEVFS_REAPURBNDELAY) {
        *error = ENODEV;
        return -1;
    }
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            *reinterpret_cast<std::uint32_t*>(data->data) =
                USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
            return 0;
        case USBDEVFS_CLAIMINTERFACE:
            if (*reinterpret_cast<unsigned*>(data->data) != 0) break;
            if (kernelDriver_) {
                *error = EBUSY;
                return -1;
            }
            return 0;
        case USBDEVFS_RELEASEINTERFACE:
            return *reinterpret_cast<unsigned*>(data->data) == 0 ? 0 : (*error = ENOENT, -1);
        case USBDEVFS_GETDRIVER: {
            if (!kernelDriver_) {
                *error = ENODATA;
                return -1;
            }
            auto* d = reinterpret_cast<usbdevfs_getdriver*>(data->data);
            std::snprintf(d->driver, sizeof d->driver, "cdc_acm");
            return 0;
        }
        case USBDEVFS_IOCTL: {
            auto* command = reinterpret_cast<usbdevfs_ioctl*>(data->data);
            if (command->ifno != 0) break;
            if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
                if (!kernelDriver_) return (*error = ENODATA, -1);
                kernelDriver_ = false;
                ++detaches_;
                return 0;
            }
            if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
                kernelDriver_ = true;
                ++reattaches_;
                return 0;
            }
            break;
        }
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
            return 0;
        case USBDEVFS_SUBMITURB: {
            Urb urb{data, nullptr};
            data = nullptr;   // the queue holds it now
            usbdevfs_urb* k = Kernel(urb.urb);
            if (k->buffer_length > 0) {
                urb.buffer = umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer),
                                                         static_cast<gsize>(k->buffer_length), nullptr);
                if (urb.buffer == nullptr) {
                    g_object_unref(urb.urb);
                    *error = EFAULT;
                    return -1;
                }
            }
            if (k->type == USBDEVFS_URB_TYPE_CONTROL && urb.buffer && k->buffer_length >= 8) {
                const std::uint8_t* s = urb.buffer->data;
                const unsigned value = s[2] | s[3] << 8;
                // Only the line-state request exists; anything else stalls.
                const bool lineState = s[0] == 0x40 && s[1] == 0x22 && value <= 1 && (s[6] | s[7]) == 0;
                if (lineState) device_.LineState(value == 1);
                Complete(urb, lineState ? 0 : -EPIPE, 0);
                if (device_.IsGone()) Unplug();
                return 0;
            }
            if (k->type == USBDEVFS_URB_TYPE_BULK && (k->endpoint & 0x80)) {
                pendingReads_.push_back(urb);
                ServeReads();
                return 0;
            }
            if (k->type == USBDEVFS_URB_TYPE_BULK) {
                device_.HostWrite(urb.buffer ? static_cast<const std::uint8_t*>(urb.buffer->data) : nullptr,
                                  urb.buffer ? static_cast<std::size_t>(k->buffer_length) : 0);
                if (device_.IsGone()) {
                    Complete(urb, -ESHUTDOWN, 0);
                    Unplug();
                    return 0;
                }
                Complete(urb, 0, k->buffer_length);
                ServeReads();
                return 0;
            }
            if (urb.buffer) g_object_unref(urb.buffer);
            g_object_unref(urb.urb);
            *error = EINVAL;
            return -1;
        }
        case USBDEVFS_REAPURBNDELAY: {
            if (done_.empty()) {
                *error = gone_ ? ENODEV : EAGAIN;
                return -1;
            }
            Urb urb = done_.front();
            done_.pop_front();
            umockdev_ioctl_data_set_ptr(data, 0, urb.urb);
            if (urb.buffer) g_object_unref(urb.buffer);
            g_object_unref(urb.urb);
            return 0;
        }
        case USBDEVFS_DISCARDURB: {
            const gulong address = *reinterpret_cast<gulong*>(arg->data);
            for (auto it = pendingReads_.begin(); it != pendingReads_.end(); ++it) {
                if (it->urb->client_addr == address) {
                    Urb urb = *it;
                    pendingReads_.erase(it);
                    Complete(urb, -ENOENT, 0);
                    return 0;
                }
            }
            *error = EINVAL;
            return -1;
        }
        default:
            break;
    }
    ++unknown_;
    *error = ENOTTY;
    return -1;
}

}  // namespace flashwise::test
