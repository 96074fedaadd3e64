#pragma once
// The SetupAPI, WinUSB and kernel calls the WinUSB link makes, one to one with the
// system's functions. The Windows adapter (link/win/) binds the system libraries on
// first use; tests script a fake.

#include <cstdint>
#include <string>

namespace flashwise {

struct DeviceGuid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

// The boot loader's USB function registers this device interface class.
constexpr DeviceGuid kBootLoaderInterfaceClass = {
    0x25DBCE51, 0x6C8F, 0x4A72, {0x8A, 0x6D, 0xB5, 0x4C, 0x2B, 0x4F, 0xC8, 0x35}};

constexpr std::uint32_t kDigcfPresent = 0x02;
constexpr std::uint32_t kDigcfDeviceInterface = 0x10;
constexpr std::uint32_t kErrorIoPending = 997;

// A kernel or library handle, opaque to the logic.
using OsHandle = void*;
inline OsHandle InvalidOsHandle() { return reinterpret_cast<OsHandle>(~static_cast<std::uintptr_t>(0)); }

// SP_DEVICE_INTERFACE_DATA and SP_DEVINFO_DATA, field for field.
struct DeviceInterfaceData {
    std::uint32_t size = 0;
    DeviceGuid classGuid{};
    std::uint32_t flags = 0;
    std::uintptr_t reserved = 0;
};
struct DevInfoData {
    std::uint32_t size = 0;
    DeviceGuid classGuid{};
    std::uint32_t devInst = 0;
    std::uintptr_t reserved = 0;
};

struct UsbSetupPacket {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

// The parts of USB_INTERFACE_DESCRIPTOR and WINUSB_PIPE_INFORMATION the link reads.
struct UsbInterfaceInfo {
    std::uint8_t numEndpoints = 0;
};
constexpr std::uint32_t kUsbPipeTypeBulk = 2;
struct UsbPipeInfo {
    std::uint32_t pipeType = 0;
    std::uint8_t pipeId = 0;
    std::uint16_t maximumPacketSize = 0;
};

// The link's two OVERLAPPED blocks: every bulk IN read uses one, every bulk OUT write the other.
enum class Overlapped { Read, Write };
enum class WaitOutcome { Signalled, TimedOut, Failed };

class WinUsbApi {
public:
    virtual ~WinUsbApi() = default;

    // Binds the system libraries the calls below need; false when one cannot be loaded.
    virtual bool Bind() = 0;

    // SetupAPI. GetClassDevs yields InvalidOsHandle() on failure. The detail block is
    // passed through as the caller prepared it (its first word is the fixed-part size).
    virtual OsHandle GetClassDevs(const DeviceGuid& guid, std::uint32_t flags) = 0;
    virtual bool EnumDeviceInterfaces(OsHandle set, const DeviceGuid& guid, std::uint32_t index,
                                      DeviceInterfaceData* data) = 0;
    virtual bool GetDeviceInterfaceDetail(OsHandle set, DeviceInterfaceData* data, std::uint8_t* detail,
                                          std::uint32_t detailSize, std::uint32_t* requiredSize,
                                          DevInfoData* devInfo) = 0;
    virtual void DestroyDeviceInfoList(OsHandle set) = 0;

    // Read and write access, exclusive, existing only, normal attributes, overlapped.
    // InvalidOsHandle() on failure.
    virtual OsHandle CreateDeviceFile(const std::u16string& path) = 0;
    // Manual reset, not signalled, unnamed; null on failure.
    virtual OsHandle CreateManualResetEvent() = 0;
    virtual void CloseHandle(OsHandle handle) = 0;
    virtual std::uint32_t LastError() = 0;

    virtual WaitOutcome WaitForEvent(OsHandle event, std::uint32_t timeoutMs) = 0;
    // The count of a completed transfer, without waiting further. A completed read's
    // bytes are in the caller's buffer once this succeeds.
    virtual bool GetOverlappedResult(OsHandle device, Overlapped which, std::uint32_t* transferred) = 0;
    // Cancels the transfer in flight on `which` and waits up to `boundMs` for it to end.
    // True when it ended: the block may be reused. False when it did not: the system may
    // still complete it, so the adapter has left the block and the transfer's own buffer
    // to the system for good; the caller must then close the device, and neither wait on
    // nor close the block's event, which the system may still signal.
    virtual bool CancelTransfer(OsHandle device, Overlapped which, std::uint32_t boundMs) = 0;

    // WinUSB.
    virtual bool Initialize(OsHandle device, OsHandle* interfaceHandle) = 0;
    virtual bool Free(OsHandle interfaceHandle) = 0;
    virtual bool QueryInterfaceSettings(OsHandle interfaceHandle, std::uint8_t alternate,
                                        UsbInterfaceInfo* info) = 0;
    virtual bool QueryPipe(OsHandle interfaceHandle, std::uint8_t alternate, std::uint8_t index,
                           UsbPipeInfo* info) = 0;
    // Synchronous, no data stage.
    virtual bool ControlTransfer(OsHandle interfaceHandle, const UsbSetupPacket& setup) = 0;
    // Overlapped on `which`, whose block carries `event`. The caller's buffer is used
    // only during the call (and, for a read, when GetOverlappedResult succeeds): a
    // transfer the system may still complete never touches it afterwards.
    virtual bool WritePipe(OsHandle interfaceHandle, std::uint8_t pipeId, const std::uint8_t* buffer,
                           std::uint32_t length, std::uint32_t* transferred, Overlapped which,
                           OsHandle event) = 0;
    virtual bool ReadPipe(OsHandle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer,
                          std::uint32_t length, std::uint32_t* transferred, Overlapped which,
                          OsHandle event) = 0;
};

}  // namespace flashwise
