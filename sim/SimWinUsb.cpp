#include "sim/SimWinUsb.h"

#include <cstring>

namespace flashwise::sim {

namespace {

constexpr int kSetToken = 0;
constexpr int kDeviceToken = 1;
constexpr int kInterfaceToken = 2;
constexpr int kFirstEventToken = 3;

constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

constexpr std::uint8_t kOutPipe = 0x01;
constexpr std::uint8_t kInPipe = 0x81;
constexpr std::uint16_t kMaxPacket = 512;

bool SameGuid(const DeviceGuid& a, const DeviceGuid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

std::size_t PathUnits() {
    std::size_t n = 0;
    while (SimWinUsb::kDevicePath[n] != 0) ++n;
    return n;
}

}  // namespace

const char16_t SimWinUsb::kDevicePath[] = u"\\\\?\\root#simphone#0000#{25dbce51-6c8f-4a72-8a6d-b54c2b4fc835}";

SimWinUsb::SimWinUsb(BootLoaderSim& device) : device_(device) {}

bool SimWinUsb::Refuse(std::uint32_t error) {
    lastError_ = error;
    ++refused_;
    return false;
}

OsHandle SimWinUsb::GetClassDevs(const DeviceGuid& guid, std::uint32_t flags) {
    if (!SameGuid(guid, kBootLoaderInterfaceClass) || (flags & kDigcfDeviceInterface) == 0) {
        lastError_ = kErrorInvalidParameter;
        return InvalidOsHandle();
    }
    ++openHandles_;
    return Token(kSetToken);
}

bool SimWinUsb::EnumDeviceInterfaces(OsHandle set, const DeviceGuid& guid, std::uint32_t index,
                                     DeviceInterfaceData* data) {
    if (set != Token(kSetToken) || data == nullptr) return Refuse(kErrorInvalidParameter);
    if (index != 0 || !present_ || device_.IsGone() || !SameGuid(guid, kBootLoaderInterfaceClass)) {
        lastError_ = kErrorNoMoreItems;
        return false;
    }
    data->classGuid = guid;
    data->flags = 1;  // SPINT_ACTIVE
    return true;
}

bool SimWinUsb::GetDeviceInterfaceDetail(OsHandle set, DeviceInterfaceData*, std::uint8_t* detail,
                                         std::uint32_t detailSize, std::uint32_t* requiredSize,
                                         DevInfoData*) {
    if (set != Token(kSetToken)) return Refuse(kErrorInvalidHandle);
    // SP_DEVICE_INTERFACE_DETAIL_DATA_W: a size word, then the NUL-terminated path.
    const auto required = static_cast<std::uint32_t>(4 + 2 * (PathUnits() + 1));
    if (requiredSize != nullptr) *requiredSize = required;
    if (detail == nullptr || detailSize < required) {
        lastError_ = kErrorInsufficientBuffer;
        return false;
    }
    for (std::size_t i = 0; i <= PathUnits(); ++i) {
        detail[4 + 2 * i] = static_cast<std::uint8_t>(kDevicePath[i]);
        detail[4 + 2 * i + 1] = static_cast<std::uint8_t>(kDevicePath[i] >> 8);
    }
    return true;
}

void SimWinUsb::DestroyDeviceInfoList(OsHandle set) {
    if (set == Token(kSetToken)) --openHandles_;
}

OsHandle SimWinUsb::CreateDeviceFile(const std::u16string& path) {
    if (!present_ || device_.IsGone() || path != kDevicePath) {
        lastError_ = kErrorFileNotFound;
        return InvalidOsHandle();
    }
    ++openHandles_;
    return Token(kDeviceToken);
}

OsHandle SimWinUsb::CreateManualResetEvent() {
    ++openHandles_;
    const int index = kFirstEventToken + (nextEvent_++ % (static_cast<int>(sizeof tokens_) - kFirstEventToken));
    return Token(index);
}

void SimWinUsb::CloseHandle(OsHandle) { --openHandles_; }

WaitOutcome SimWinUsb::WaitForEvent(OsHandle event, std::uint32_t) {
    for (Transfer* t : {&read_, &write_}) {
        if (t->pending && t->event == event) return t->completes ? WaitOutcome::Signalled : WaitOutcome::TimedOut;
    }
    return WaitOutcome::Failed;
}

bool SimWinUsb::GetOverlappedResult(OsHandle, Overlapped which, std::uint32_t* transferred) {
    Transfer& t = Slot(which);
    if (!t.pending || !t.completes) return Refuse(996);  // ERROR_IO_INCOMPLETE
    t.pending = false;
    *transferred = t.count;
    if (!t.ok) return Refuse(kErrorDeviceNotConnected);
    return true;
}

bool SimWinUsb::CancelTransfer(OsHandle, Overlapped which, std::uint32_t) {
    Slot(which).pending = false;
    return true;
}

bool SimWinUsb::Initialize(OsHandle device, OsHandle* interfaceHandle) {
    if (device != Token(kDeviceToken) || device_.IsGone()) return Refuse(kErrorInvalidHandle);
    ++openHandles_;
    *interfaceHandle = Token(kInterfaceToken);
    return true;
}

bool SimWinUsb::Free(OsHandle interfaceHandle) {
    if (interfaceHandle != Token(kInterfaceToken)) return Refuse(kErrorInvalidHandle);
    --openHandles_;
    return true;
}

bool SimWinUsb::QueryInterfaceSettings(OsHandle interfaceHandle, std::uint8_t alternate, UsbInterfaceInfo* info) {
    if (interfaceHandle != Token(kInterfaceToken) || alternate != 0) return Refuse(kErrorInvalidParameter);
    info->numEndpoints = 2;
    return true;
}

bool SimWinUsb::QueryPipe(OsHandle interfaceHandle, std::uint8_t alternate, std::uint8_t index, UsbPipeInfo* info) {
    if (interfaceHandle != Token(kInterfaceToken) || alternate != 0 || index > 1) return Refuse(kErrorNoMoreItems);
    info->pipeType = kUsbPipeTypeBulk;
    info->pipeId = index == 0 ? kOutPipe : kInPipe;
    info->maximumPacketSize = kMaxPacket;
    return true;
}

bool SimWinUsb::ControlTransfer(OsHandle interfaceHandle, const UsbSetupPacket& setup) {
    if (interfaceHandle != Token(kInterfaceToken)) return Refuse(kErrorInvalidHandle);
    // The boot loader knows one request: the line state, host to device, vendor, no data.
    if (setup.requestType != 0x40 || setup.request != 0x22 || setup.index != 0 || setup.length != 0 ||
        setup.value > 1)
        return Refuse(31);  // ERROR_GEN_FAILURE: the device stalls the request
    if (!device_.LineState(setup.value == 1)) return Refuse(kErrorDeviceNotConnected);
    return true;
}

bool SimWinUsb::WritePipe(OsHandle interfaceHandle, std::uint8_t pipeId, const std::uint8_t* buffer,
                          std::uint32_t length, std::uint32_t*, Overlapped which, OsHandle event) {
    if (interfaceHandle != Token(kInterfaceToken) || pipeId != kOutPipe) return Refuse(kErrorInvalidParameter);
    if (Slot(which).pending) return Refuse(kErrorInvalidParameter);  // one transfer per block at a time
    if (device_.IsGone()) {
        device_.HostWrite(buffer, length);  // recorded as gone in the capture
        return Refuse(kErrorDeviceNotConnected);
    }
    Transfer& t = Slot(which);
    t.event = event;
    t.pending = true;
    t.completes = true;
    t.ok = device_.HostWrite(buffer, length);
    t.count = t.ok ? length : 0;
    lastError_ = kErrorIoPending;
    return false;
}

bool SimWinUsb::ReadPipe(OsHandle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t length,
                         std::uint32_t*, Overlapped which, OsHandle event) {
    if (interfaceHandle != Token(kInterfaceToken) || pipeId != kInPipe) return Refuse(kErrorInvalidParameter);
    if (Slot(which).pending) return Refuse(kErrorInvalidParameter);
    const ReadResult r = device_.HostRead(buffer, length);
    if (r.kind == ReadKind::Gone) return Refuse(kErrorDeviceNotConnected);
    Transfer& t = Slot(which);
    t.event = event;
    t.pending = true;
    t.completes = r.kind != ReadKind::Nothing;
    t.ok = true;
    t.count = static_cast<std::uint32_t>(r.count);
    lastError_ = kErrorIoPending;
    return false;
}

}  // namespace flashwise::sim
