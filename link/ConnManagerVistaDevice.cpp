// The WinUSB link's device layer: finding the boot loader's interface, opening it,
// releasing it, and the three transfer primitives.

#include <cstring>
#include <new>
#include <vector>

#include "link/ConnManagerVista.h"
#include "link/LinkBounds.h"

namespace flashwise {

namespace {

constexpr std::uint32_t kInterfaceDataSize = 28;   // SP_DEVICE_INTERFACE_DATA, 32-bit process
constexpr std::uint32_t kDevInfoDataSize = 28;     // SP_DEVINFO_DATA, 32-bit process
constexpr std::uint32_t kDetailFixedSize = 6;      // SP_DEVICE_INTERFACE_DETAIL_DATA_W, 32-bit process
constexpr std::size_t kDevicePathAt = 4;           // DevicePath within the detail block

// The NUL-terminated path of a detail block, copied when it fits `kDevicePathUnits`.
bool CopyDevicePath(const std::vector<std::uint8_t>& detail, char16_t* path) {
    const std::size_t units = (detail.size() - kDevicePathAt) / 2;
    for (std::size_t i = 0; i < units && i < kDevicePathUnits; ++i) {
        const std::uint8_t* at = detail.data() + kDevicePathAt + 2 * i;
        const char16_t c = static_cast<char16_t>(at[0] | at[1] << 8);
        path[i] = c;
        if (c == 0) return true;
    }
    // No terminator within the block, or a path too long for the buffer: a cut path
    // would name some other device.
    std::memset(path, 0, kDevicePathUnits * sizeof(char16_t));
    return false;
}

}  // namespace

CConnManagerVista::CConnManagerVista(std::unique_ptr<WinUsbApi> api, PauseFn pause, ClockFn clock,
                                     const BulkTransferBounds& bounds)
    : CConnManager(std::move(pause), std::move(clock)), api_(std::move(api)), bounds_(bounds) {}

CConnManagerVista::~CConnManagerVista() { Release(); }

void CConnManagerVista::Release() {
    if (interface_ != nullptr) {
        api_->Free(interface_);
        interface_ = nullptr;
    }
    if (device_ != InvalidOsHandle()) {
        api_->CloseHandle(device_);
        device_ = InvalidOsHandle();
    }
    if (readEvent_ != nullptr) {
        api_->CloseHandle(readEvent_);
        readEvent_ = nullptr;
    }
    if (writeEvent_ != nullptr) {
        api_->CloseHandle(writeEvent_);
        writeEvent_ = nullptr;
    }
}

bool CConnManagerVista::FindDevicePath(char16_t* path) {
    const OsHandle set = api_->GetClassDevs(kBootLoaderInterfaceClass, kDigcfPresent | kDigcfDeviceInterface);
    if (set == InvalidOsHandle()) return false;
    bool found = false;
    for (std::uint32_t index = 0; !found; ++index) {
        DeviceInterfaceData iface;
        iface.size = kInterfaceDataSize;
        if (!api_->EnumDeviceInterfaces(set, kBootLoaderInterfaceClass, index, &iface)) break;

        std::uint32_t required = 0;
        api_->GetDeviceInterfaceDetail(set, &iface, nullptr, 0, &required, nullptr);
        if (required < kDevicePathAt + 2) continue;   // no room for even an empty path
        std::vector<std::uint8_t> detail;
        try {
            detail.resize(required);
        } catch (const std::bad_alloc&) {
            break;
        }
        detail[0] = kDetailFixedSize;
        DevInfoData devInfo;
        devInfo.size = kDevInfoDataSize;
        if (!api_->GetDeviceInterfaceDetail(set, &iface, detail.data(), required, nullptr, &devInfo)) continue;
        found = CopyDevicePath(detail, path);
    }
    api_->DestroyDeviceInfoList(set);
    return found;
}

bool CConnManagerVista::OpenDevice() {
    // Pipes of an earlier device must not outlive it.
    outPipe_ = inPipe_ = 0;
    outMaxPacket_ = inMaxPacket_ = 0;
    char16_t path[kDevicePathUnits] = {};
    bool ok = FindDevicePath(path);
    if (ok) {
        device_ = api_->CreateDeviceFile(path);
        ok = device_ != InvalidOsHandle();
    }
    ok = ok && api_->Initialize(device_, &interface_);
    if (!ok) interface_ = nullptr;
    UsbInterfaceInfo info;
    ok = ok && api_->QueryInterfaceSettings(interface_, 0, &info);
    for (std::uint8_t index = 0; ok && index < info.numEndpoints; ++index) {
        UsbPipeInfo pipe;
        ok = api_->QueryPipe(interface_, 0, index, &pipe);
        if (!ok || pipe.pipeType != kUsbPipeTypeBulk) continue;
        if (pipe.pipeId & 0x80) {
            inPipe_ = pipe.pipeId;
            inMaxPacket_ = pipe.maximumPacketSize;
        } else {
            outPipe_ = pipe.pipeId;
            outMaxPacket_ = pipe.maximumPacketSize;
        }
    }
    if (ok) {
        writeEvent_ = api_->CreateManualResetEvent();
        ok = writeEvent_ != nullptr;
    }
    if (ok) {
        readEvent_ = api_->CreateManualResetEvent();
        ok = readEvent_ != nullptr;
    }
    if (!ok) Release();
    return ok;
}

bool CConnManagerVista::SetLineState(std::uint16_t value) {
    UsbSetupPacket setup;
    setup.requestType = 0x40;   // host to device, vendor, device
    setup.request = 0x22;
    setup.value = value;
    return api_->ControlTransfer(interface_, setup);
}

bool CConnManagerVista::CompleteTransfer(Overlapped which, OsHandle event, std::uint32_t boundMs,
                                         std::uint32_t* n) {
    if (api_->WaitForEvent(event, boundMs) != WaitOutcome::Signalled) {
        if (!api_->CancelTransfer(device_, which, bounds_.cancelWaitMs)) {
            // The system may still signal the block's event: it stays open for good.
            (which == Overlapped::Read ? readEvent_ : writeEvent_) = nullptr;
            Release();
        }
        return false;
    }
    return api_->GetOverlappedResult(device_, which, n);
}

bool CConnManagerVista::BulkWrite(const std::uint8_t* buffer, std::uint32_t length, std::uint32_t* written) {
    if (length != 0 && !IsOpen()) return false;   // given up after a transfer that would not end
    std::uint32_t total = 0;
    while (total < length) {
        std::uint32_t n = 0;
        if (!api_->WritePipe(interface_, outPipe_, buffer + total, length - total, &n, Overlapped::Write,
                             writeEvent_)) {
            if (api_->LastError() != kErrorIoPending) return false;
            if (!CompleteTransfer(Overlapped::Write, writeEvent_, bounds_.writeWaitMs, &n)) return false;
        }
        // A write that moves nothing would repeat forever.
        if (n == 0 || n > length - total) return false;
        total += n;
    }
    if (written != nullptr) *written = total;
    return true;
}

bool CConnManagerVista::Read(int count, std::uint8_t* buffer) {
    if (count == 0) return true;
    if (count < 0 || buffer == nullptr || !IsOpen()) return false;
    const auto length = static_cast<std::uint32_t>(count);
    std::uint32_t got = 0;
    int empty = 0;
    while (got < length) {
        std::uint32_t n = 0;
        if (!api_->ReadPipe(interface_, inPipe_, buffer + got, length - got, &n, Overlapped::Read, readEvent_)) {
            if (api_->LastError() != kErrorIoPending) break;
            if (!CompleteTransfer(Overlapped::Read, readEvent_, bounds_.readWaitMs, &n)) break;
        }
        if (n == 0) {
            pause_(kEmptyReadPauseMs);
            if (++empty > kEmptyReadLimit) break;
            continue;
        }
        if (n > length - got) break;
        got += n;
    }
    return got == length;
}

}  // namespace flashwise
