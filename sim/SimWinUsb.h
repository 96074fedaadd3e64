#pragma once
// The SetupAPI, WinUSB and kernel calls of the WinUSB link, in process, over the
// simulated boot loader: one present boot-loader interface with one bulk OUT and one
// bulk IN pipe, and the vendor request 0x22 carried to the device's line state.
//
// Transfers complete the way overlapped transfers do: WritePipe and ReadPipe return
// "pending" (997) and their event is signalled at once with the result. A bulk IN read
// with nothing to read would stay pending: its wait times out (at once, since nothing
// else can happen in process) and the link cancels it. A vanished device fails every
// call at once, as a removed USB device does.

#include <cstdint>
#include <string>

#include "link/WinUsbApi.h"
#include "sim/BootLoaderSim.h"

namespace flashwise::sim {

class SimWinUsb : public WinUsbApi {
public:
    static const char16_t kDevicePath[];

    explicit SimWinUsb(BootLoaderSim& device);

    // When false the interface is not present (no device enumerated).
    void SetPresent(bool present) { present_ = present; }

    bool Bind() override { return true; }
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

    // Handles and requests still held or refused, for tests to check.
    int OpenHandles() const { return openHandles_; }
    int RefusedRequests() const { return refused_; }

private:
    struct Transfer {
        OsHandle event = nullptr;
        bool pending = false;     // issued and not yet taken
        bool completes = false;   // false: it would wait for ever
        bool ok = false;
        std::uint32_t count = 0;
    };
    Transfer& Slot(Overlapped which) { return which == Overlapped::Read ? read_ : write_; }
    OsHandle Token(int index) { return static_cast<OsHandle>(&tokens_[index]); }
    bool Refuse(std::uint32_t error);

    BootLoaderSim& device_;
    bool present_ = true;
    std::uint32_t lastError_ = 0;
    int openHandles_ = 0;
    int refused_ = 0;
    int nextEvent_ = 0;
    char tokens_[16] = {};  // addresses only: the set, the device, the interface, events
    Transfer read_, write_;
};

}  // namespace flashwise::sim
