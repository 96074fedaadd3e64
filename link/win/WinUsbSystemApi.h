#pragma once
// The WinUSB link's calls on the system: SetupAPI and WinUSB, both bound on first use
// from the system directory, and the kernel's files, events and overlapped results.

#include <windows.h>

#include <memory>
#include <vector>

#include "link/WinUsbApi.h"

namespace flashwise {

class WinUsbSystemApi : public WinUsbApi {
public:
    WinUsbSystemApi();
    WinUsbSystemApi(const WinUsbSystemApi&) = delete;
    WinUsbSystemApi& operator=(const WinUsbSystemApi&) = delete;

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
    std::uint32_t LastError() override;
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
    // What the system may still write to while a transfer is under way: its block and
    // its bytes, owned here rather than by the caller, so that a transfer that will not
    // end can be left to the system without it ever touching memory that was freed.
    struct Transfer {
        OVERLAPPED block{};
        std::vector<std::uint8_t> bytes;
        std::uint8_t* destination = nullptr;   // a pending read's caller buffer
    };

    std::unique_ptr<Transfer>& Slot(Overlapped which) { return which == Overlapped::Read ? read_ : write_; }
    // The slot's transfer, made afresh after one was left to the system, with its block
    // cleared and carrying `event`.
    Transfer& Begin(Overlapped which, OsHandle event, std::uint32_t length);

    std::unique_ptr<Transfer> read_;
    std::unique_ptr<Transfer> write_;
};

}  // namespace flashwise
