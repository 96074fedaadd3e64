#pragma once
// The WinUSB link's calls carried out with libusb on Linux, so that the link's protocol
// (blocks, records, order, pauses, bounds) runs unchanged: the device is chosen by its
// vendor and product ids instead of an interface class, the "device path" names its bus
// and address, the vendor line-state request and both bulk pipes are those of the first
// interface with bulk endpoints, and overlapped transfers are libusb's asynchronous ones,
// completed while the link waits on their event.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/WinUsbApi.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_transfer;

namespace flashwise {

struct UsbDeviceId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// Why the last open went wrong, for a front end to say what to do next.
enum class UsbOpenProblem { None, NoDevice, SeveralDevices, PermissionDenied, Busy, Other };

class LibUsbApi : public WinUsbApi {
public:
    explicit LibUsbApi(UsbDeviceId id);
    ~LibUsbApi() override;
    LibUsbApi(const LibUsbApi&) = delete;
    LibUsbApi& operator=(const LibUsbApi&) = delete;

    // Devices present with the ids, without opening any; -1 when libusb cannot start.
    int CountMatching();
    UsbOpenProblem Problem() const { return problem_; }
    // libusb's words for the last failure, for the error line.
    const std::string& ProblemDetail() const { return detail_; }
    // Whether the open had to take the interface from a kernel driver (given back on release).
    bool DetachedKernelDriver() const { return detached_; }
    // Bytes the device has taken on its bulk OUT pipe since the object was made.
    std::uint64_t BytesSent() const { return bytesSent_.load(); }
    // Whether a transfer found the device gone.
    bool DeviceGone() const { return gone_; }

    bool Bind() override;
    OsHandle GetClassDevs(const DeviceGuid& guid, std::uint32_t flags) override;
    bool EnumDeviceInterfaces(OsHandle set, const DeviceGuid& guid, std::uint32_t index,
                              DeviceInterfaceData* data) override;
    bool GetDeviceInterfaceDetail(OsHandle set, DeviceInterfaceData* data, std::uint8_t* detail,
                                  std::uint32_t detailSize, std::uint32_t* requiredSize,
                                  DevInfoData* devInfo) override;
    void DestroyDeviceInfoList(OsHandle set) override;

    OsHandle CreateDeviceFile(const std::u16string& path) override;
    OsHandle CreateManualResetEvent() override;
    void CloseHandle(OsHandle handle) override;
    std::uint32_t LastError() override { return lastError_; }

    WaitOutcome WaitForEvent(OsHandle event, std::uint32_t timeoutMs) override;
    bool GetOverlappedResult(OsHandle device, Overlapped which, std::uint32_t* transferred) override;
    bool CancelTransfer(OsHandle device, Overlapped which, std::uint32_t boundMs) override;

    bool Initialize(OsHandle device, OsHandle* interfaceHandle) override;
    bool Free(OsHandle interfaceHandle) override;
    bool QueryInterfaceSettings(OsHandle interfaceHandle, std::uint8_t alternate, UsbInterfaceInfo* info) override;
    bool QueryPipe(OsHandle interfaceHandle, std::uint8_t alternate, std::uint8_t index, UsbPipeInfo* info) override;
    bool ControlTransfer(OsHandle interfaceHandle, const UsbSetupPacket& setup) override;
    bool WritePipe(OsHandle interfaceHandle, std::uint8_t pipeId, const std::uint8_t* buffer, std::uint32_t length,
                   std::uint32_t* transferred, Overlapped which, OsHandle event) override;
    bool ReadPipe(OsHandle interfaceHandle, std::uint8_t pipeId, std::uint8_t* buffer, std::uint32_t length,
                  std::uint32_t* transferred, Overlapped which, OsHandle event) override;

private:
    struct Slot {
        libusb_transfer* transfer = nullptr;
        std::vector<std::uint8_t> buffer;   // the transfer's own: the caller's is used only during calls
        std::uint8_t* readInto = nullptr;
        OsHandle event = nullptr;
        bool inFlight = false;
        bool completed = false;
    };
    struct Endpoint {
        std::uint8_t address = 0;
        std::uint8_t type = 0;
        std::uint16_t maxPacket = 0;
    };
    static void Completed(libusb_transfer* transfer);
    Slot& SlotOf(Overlapped which) { return which == Overlapped::Read ? read_ : write_; }
    // The transfer slot for a new transfer on this interface, or null (and the error set).
    Slot* FreeSlot(OsHandle interfaceHandle, Overlapped which);
    bool Submit(Slot& slot, std::uint8_t endpoint, std::uint32_t length, OsHandle event);
    // Runs libusb's events until the slot's transfer has completed or `timeoutMs` has passed.
    bool AwaitSlot(Slot& slot, std::uint32_t timeoutMs);
    std::vector<libusb_device*> Matching();
    void Fail(UsbOpenProblem problem, int libusbError);

    UsbDeviceId id_;
    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    std::vector<libusb_device*> set_;   // the last enumeration, referenced
    std::vector<Endpoint> endpoints_;   // of the chosen interface, alternate setting 0
    int interfaceNumber_ = -1;
    bool claimed_ = false;
    bool detached_ = false;
    std::uint32_t lastError_ = 0;
    UsbOpenProblem problem_ = UsbOpenProblem::None;
    std::string detail_;
    Slot read_, write_;
    unsigned nextEvent_ = 0;
    std::atomic<std::uint64_t> bytesSent_{0};
    bool gone_ = false;
    char tokens_[5] = {};   // addresses only: the set, the device, the interface, two events
};

}  // namespace flashwise
