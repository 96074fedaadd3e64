#include "link/linux/LibUsbApi.h"

#include <libusb.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace flashwise {

namespace {

// The last error of a transfer that could not start, in the link's terms: anything
// but "pending" fails the transfer at once.
constexpr std::uint32_t kErrorDeviceGone = 1167;      // the device is not connected
constexpr std::uint32_t kErrorTransferFailed = 31;    // the device does not work
constexpr unsigned kControlTimeoutMs = 5000;

std::u16string DevicePath(libusb_device* device) {
    char text[32];
    std::snprintf(text, sizeof text, "usb:%03u:%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    return std::u16string(text, text + std::strlen(text));
}

}  // namespace

LibUsbApi::LibUsbApi(UsbDeviceId id) : id_(id) {}

LibUsbApi::~LibUsbApi() {
    Free(&tokens_[2]);
    CloseHandle(&tokens_[1]);   // cancels what is in flight
    for (Slot* slot : {&read_, &write_}) {
        // A transfer libusb still holds is left to it rather than freed under it.
        if (slot->transfer != nullptr && !slot->inFlight) libusb_free_transfer(slot->transfer);
    }
    for (libusb_device* d : set_) libusb_unref_device(d);
    if (context_ != nullptr) libusb_exit(context_);
}

void LibUsbApi::Fail(UsbOpenProblem problem, int libusbError) {
    problem_ = problem;
    detail_ = libusbError != 0 ? libusb_strerror(static_cast<libusb_error>(libusbError)) : "";
}

bool LibUsbApi::Bind() {
    if (context_ != nullptr) return true;
    const int rc = libusb_init(&context_);
    if (rc != 0) {
        context_ = nullptr;
        Fail(UsbOpenProblem::Other, rc);
        return false;
    }
    return true;
}

std::vector<libusb_device*> LibUsbApi::Matching() {
    std::vector<libusb_device*> found;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0) continue;
        if (descriptor.idVendor != id_.vendor || descriptor.idProduct != id_.product) continue;
        found.push_back(libusb_ref_device(list[i]));
    }
    if (list != nullptr) libusb_free_device_list(list, 1);
    return found;
}

int LibUsbApi::CountMatching() {
    if (!Bind()) return -1;
    const auto found = Matching();
    for (libusb_device* d : found) libusb_unref_device(d);
    return static_cast<int>(found.size());
}

OsHandle LibUsbApi::GetClassDevs(const DeviceGuid&, std::uint32_t) {
    DestroyDeviceInfoList(&tokens_[0]);
    set_ = Matching();
    if (set_.size() > 1) {
        // Which of two phones to write is not a guess to make.
        Fail(UsbOpenProblem::SeveralDevices, 0);
        DestroyDeviceInfoList(&tokens_[0]);
        return InvalidOsHandle();
    }
    if (set_.empty()) Fail(UsbOpenProblem::NoDevice, 0);
    return &tokens_[0];
}

bool LibUsbApi::EnumDeviceInterfaces(OsHandle, const DeviceGuid&, std::uint32_t index, DeviceInterfaceData*) {
    return index < set_.size();
}

bool LibUsbApi::GetDeviceInterfaceDetail(OsHandle, DeviceInterfaceData*, std::uint8_t* detail,
                                         std::uint32_t detailSize, std::uint32_t* requiredSize, DevInfoData*) {
    if (set_.empty()) return false;
    const std::u16string path = DevicePath(set_.front());
    const std::uint32_t need = 4 + 2 * static_cast<std::uint32_t>(path.size() + 1);
    if (requiredSize != nullptr) *requiredSize = need;
    if (detail == nullptr || detailSize < need) return false;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        const char16_t c = i < path.size() ? path[i] : u'\0';
        detail[4 + 2 * i] = static_cast<std::uint8_t>(c);
        detail[5 + 2 * i] = static_cast<std::uint8_t>(c >> 8);
    }
    return true;
}

void LibUsbApi::DestroyDeviceInfoList(OsHandle) {
    for (libusb_device* d : set_) libusb_unref_device(d);
    set_.clear();
}

OsHandle LibUsbApi::CreateDeviceFile(const std::u16string& path) {
    if (handle_ != nullptr) return InvalidOsHandle();
    // The device may have gone and another come since the search: open only the one named.
    const auto found = Matching();
    libusb_device* chosen = nullptr;
    for (libusb_device* d : found) {
        if (DevicePath(d) == path) chosen = d;
    }
    int rc = LIBUSB_ERROR_NO_DEVICE;
    if (chosen != nullptr) rc = libusb_open(chosen, &handle_);
    for (libusb_device* d : found) libusb_unref_device(d);
    if (rc != 0) {
        handle_ = nullptr;
        Fail(rc == LIBUSB_ERROR_ACCESS ? UsbOpenProblem::PermissionDenied
             : rc == LIBUSB_ERROR_NO_DEVICE ? UsbOpenProblem::NoDevice
                                            : UsbOpenProblem::Other,
             rc);
        return InvalidOsHandle();
    }
    return &tokens_[1];
}

OsHandle LibUsbApi::CreateManualResetEvent() {
    // The link holds two at a time, one per transfer slot; only their identity matters.
    return &tokens_[3 + (nextEvent_++ % 2)];
}

void LibUsbApi::CloseHandle(OsHandle handle) {
    if (handle == &tokens_[1] && handle_ != nullptr) {
        for (Slot* slot : {&read_, &write_}) {
            if (slot->inFlight) {
                libusb_cancel_transfer(slot->transfer);
                AwaitSlot(*slot, 1000);
            }
        }
        libusb_close(handle_);
        handle_ = nullptr;
    }
}

bool LibUsbApi::Initialize(OsHandle device, OsHandle* interfaceHandle) {
    if (device != &tokens_[1] || handle_ == nullptr) return false;
    endpoints_.clear();
    interfaceNumber_ = -1;
    libusb_config_descriptor* config = nullptr;
    int rc = libusb_get_active_config_descriptor(libusb_get_device(handle_), &config);
    if (rc != 0) {
        Fail(UsbOpenProblem::Other, rc);
        return false;
    }
    // The boot loader's interface is the first one with a bulk endpoint.
    for (int i = 0; i < config->bNumInterfaces && interfaceNumber_ < 0; ++i) {
        if (config->interface[i].num_altsetting < 1) continue;
        const libusb_interface_descriptor& alt = config->interface[i].altsetting[0];
        std::vector<Endpoint> endpoints;
        bool bulk = false;
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            const std::uint8_t type = ep.bmAttributes & 0x03;
            bulk = bulk || type == LIBUSB_TRANSFER_TYPE_BULK;
            endpoints.push_back({ep.bEndpointAddress, type, ep.wMaxPacketSize});
        }
        if (bulk) {
            interfaceNumber_ = alt.bInterfaceNumber;
            endpoints_ = std::move(endpoints);
        }
    }
    libusb_free_config_descriptor(config);
    if (interfaceNumber_ < 0) {
        Fail(UsbOpenProblem::Other, LIBUSB_ERROR_NOT_FOUND);
        return false;
    }
    // A kernel driver that took the interface is asked to let go, and gets it back on release.
    if (libusb_kernel_driver_active(handle_, interfaceNumber_) == 1) {
        rc = libusb_detach_kernel_driver(handle_, interfaceNumber_);
        if (rc != 0) {
            Fail(rc == LIBUSB_ERROR_ACCESS ? UsbOpenProblem::PermissionDenied : UsbOpenProblem::Busy, rc);
            return false;
        }
        detached_ = true;
    }
    rc = libusb_claim_interface(handle_, interfaceNumber_);
    if (rc != 0) {
        Fail(rc == LIBUSB_ERROR_BUSY ? UsbOpenProblem::Busy
             : rc == LIBUSB_ERROR_ACCESS ? UsbOpenProblem::PermissionDenied
                                         : UsbOpenProblem::Other,
             rc);
        if (detached_) libusb_attach_kernel_driver(handle_, interfaceNumber_);
        detached_ = false;
        return false;
    }
    claimed_ = true;
    problem_ = UsbOpenProblem::None;
    detail_.clear();
    *interfaceHandle = &tokens_[2];
    return true;
}

bool LibUsbApi::Free(OsHandle interfaceHandle) {
    if (interfaceHandle != &tokens_[2] || handle_ == nullptr) return false;
    if (claimed_) libusb_release_interface(handle_, interfaceNumber_);
    claimed_ = false;
    if (detached_) libusb_attach_kernel_driver(handle_, interfaceNumber_);
    detached_ = false;
    return true;
}

bool LibUsbApi::QueryInterfaceSettings(OsHandle interfaceHandle, std::uint8_t alternate, UsbInterfaceInfo* info) {
    if (interfaceHandle != &tokens_[2] || alternate != 0 || !claimed_) return false;
    info->numEndpoints = static_cast<std::uint8_t>(endpoints_.size());
    return true;
}

bool LibUsbApi::QueryPipe(OsHandle interfaceHandle, std::uint8_t alternate, std::uint8_t index, UsbPipeInfo* info) {
    if (interfaceHandle != &tokens_[2] || alternate != 0 || index >= endpoints_.size()) return false;
    const Endpoint& ep = endpoints_[index];
    // WinUSB's pipe types number control, isochronous, bulk, interrupt as USB does.
    info->pipeType = ep.type;
    info->pipeId = ep.address;
    info->maximumPacketSize = ep.maxPacket;
    return true;
}

bool LibUsbApi::ControlTransfer(OsHandle interfaceHandle, const UsbSetupPacket& setup) {
    if (interfaceHandle != &tokens_[2] || handle_ == nullptr) return false;
    return libusb_control_transfer(handle_, setup.requestType, setup.request, setup.value, setup.index, nullptr, 0,
                                   kControlTimeoutMs) >= 0;
}

void LibUsbApi::Completed(libusb_transfer* transfer) {
    static_cast<Slot*>(transfer->user_data)->completed = true;
}

bool LibUsbApi::Submit(Slot& slot, std::uint8_t endpoint, std::uint32_t length, OsHandle event) {
    if (handle_ == nullptr || slot.inFlight) {
        lastError_ = kErrorTransferFailed;
        return false;
    }
    if (slot.transfer == nullptr) slot.transfer = libusb_alloc_transfer(0);
    if (slot.transfer == nullptr) {
        lastError_ = kErrorTransferFailed;
        return false;
    }
    // No time-out of libusb's own: the link bounds its wait and cancels.
    libusb_fill_bulk_transfer(slot.transfer, handle_, endpoint, slot.buffer.data(), static_cast<int>(length),
                              &LibUsbApi::Completed, &slot, 0);
    slot.completed = false;
    slot.event = event;
    const int rc = libusb_submit_transfer(slot.transfer);
    if (rc != 0) {
        lastError_ = rc == LIBUSB_ERROR_NO_DEVICE ? kErrorDeviceGone : kErrorTransferFailed;
        gone_ = gone_ || rc == LIBUSB_ERROR_NO_DEVICE;
        return false;
    }
    slot.inFlight = true;
    lastError_ = kErrorIoPending;
    return false;   // pending, as an overlapped transfer reports it
}

LibUsbApi::Slot* LibUsbApi::FreeSlot(OsHandle interfaceHandle, Overlapped which) {
    Slot& slot = SlotOf(which);
    if (interfaceHandle != &tokens_[2] || slot.inFlight) {   // a slot in flight: its buffer belongs to libusb
        lastError_ = kErrorTransferFailed;
        return nullptr;
    }
    return &slot;
}

bool LibUsbApi::WritePipe(OsHandle interfaceHandle, std::uint8_t pipeId, const std::uint8_t* buffer,
                          std::uint32_t length, std::uint32_t*, Overlapped which, OsHandle event) {
    Slot* free = FreeSlot(interfaceHandle, which);
    if (free == nullptr) return false;
    Slot& slot = *free;
    slot.buffer.assign(buffer, buffer + length);
    slot.readInto = nullptr;
    return Submit(slot, pipeId, length, event);
}

bool LibUsbApi::ReadPipe(OsHandle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t length,
                         std::uint32_t*, Overlapped which, OsHandle event) {
    Slot* free = FreeSlot(interfaceHandle, which);
    if (free == nullptr) return false;
    Slot& slot = *free;
    slot.buffer.assign(length, 0);
    slot.readInto = buffer;
    return Submit(slot, pipeId, length, event);
}

bool LibUsbApi::AwaitSlot(Slot& slot, std::uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!slot.completed) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
        timeval tv;
        tv.tv_sec = static_cast<long>(left / 1000000);
        tv.tv_usec = static_cast<long>(left % 1000000);
        int completed = 0;
        libusb_handle_events_timeout_completed(context_, &tv, &completed);
    }
    slot.inFlight = false;
    return true;
}

WaitOutcome LibUsbApi::WaitForEvent(OsHandle event, std::uint32_t timeoutMs) {
    Slot* slot = nullptr;
    if (read_.event == event && read_.inFlight) slot = &read_;
    if (write_.event == event && write_.inFlight) slot = &write_;
    if (slot == nullptr) return WaitOutcome::Failed;
    return AwaitSlot(*slot, timeoutMs) ? WaitOutcome::Signalled : WaitOutcome::TimedOut;
}

bool LibUsbApi::GetOverlappedResult(OsHandle, Overlapped which, std::uint32_t* transferred) {
    Slot& slot = SlotOf(which);
    if (!slot.completed || slot.inFlight) return false;
    if (slot.transfer->status != LIBUSB_TRANSFER_COMPLETED) {
        gone_ = gone_ || slot.transfer->status == LIBUSB_TRANSFER_NO_DEVICE;
        return false;
    }
    const auto n = static_cast<std::uint32_t>(slot.transfer->actual_length);
    if (&slot == &write_) bytesSent_ += n;
    if (slot.readInto != nullptr && n > 0) std::memcpy(slot.readInto, slot.buffer.data(), n);
    slot.readInto = nullptr;
    *transferred = n;
    return true;
}

bool LibUsbApi::CancelTransfer(OsHandle, Overlapped which, std::uint32_t boundMs) {
    Slot& slot = SlotOf(which);
    if (!slot.inFlight) return true;
    libusb_cancel_transfer(slot.transfer);
    const bool ended = AwaitSlot(slot, boundMs);
    slot.readInto = nullptr;
    return ended;
}

}  // namespace flashwise
