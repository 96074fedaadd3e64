#pragma once
// The boot-loader link over WinUSB: the same blocks and operation order as the serial
// link, carried on the boot loader's bulk pipes, with a vendor control request standing
// where the serial link sets or clears DTR.

#include <cstdint>
#include <memory>

#include "link/ConnManager.h"
#include "link/LinkBounds.h"
#include "link/WinUsbApi.h"

namespace flashwise {

constexpr std::size_t kDevicePathUnits = 260;   // terminator included

// The longest waits for one transfer, in milliseconds; tests pass small ones.
struct BulkTransferBounds {
    std::uint32_t writeWaitMs = kBulkWriteWaitMs;
    std::uint32_t readWaitMs = kBulkReadWaitMs;
    std::uint32_t cancelWaitMs = kBulkCancelWaitMs;
};

class CConnManagerVista : public CConnManager {
public:
    CConnManagerVista(std::unique_ptr<WinUsbApi> api, PauseFn pause, ClockFn clock = RealClock(),
                      const BulkTransferBounds& bounds = BulkTransferBounds());
    ~CConnManagerVista() override;

    bool EndTransfer() override;
    bool Open() override;
    // Exactly `count` bytes from the bulk IN pipe, or false.
    bool Read(int count, std::uint8_t* buffer) override;
    bool PrepareSection(CFirmwareImage* image, std::uint8_t* request, const std::uint8_t* header,
                        int code) override;
    bool SendSection(CFirmwareImage* image, std::uint8_t* request, const std::uint8_t* header,
                     int code) override;

    // Device layer.
    // The path of the first present boot-loader interface whose detail can be read and
    // whose path fits the 260-unit buffer.
    bool FindDevicePath(char16_t* path);
    // Whether a boot-loader interface is present now: discovery alone, nothing is
    // opened or written.
    bool InterfacePresent();
    bool OpenDevice();
    bool SetLineState(std::uint16_t value);
    bool BulkWrite(const std::uint8_t* buffer, std::uint32_t length, std::uint32_t* written = nullptr);

    bool IsOpen() const { return device_ != InvalidOsHandle(); }
    std::uint8_t BulkInPipe() const { return inPipe_; }
    std::uint8_t BulkOutPipe() const { return outPipe_; }

private:
    void Release();
    // Waits for the transfer in flight on `which` and takes its count; a transfer that
    // does not complete within `boundMs` is cancelled and fails. One whose cancellation
    // does not end either is left to the system and the device given up.
    bool CompleteTransfer(Overlapped which, OsHandle event, std::uint32_t boundMs, std::uint32_t* n);

    std::unique_ptr<WinUsbApi> api_;
    BulkTransferBounds bounds_;
    OsHandle device_ = InvalidOsHandle();
    OsHandle readEvent_ = nullptr;
    OsHandle writeEvent_ = nullptr;
    // The WinUsbDevice record.
    OsHandle interface_ = nullptr;
    std::uint8_t outPipe_ = 0;
    std::uint32_t outMaxPacket_ = 0;
    std::uint8_t inPipe_ = 0;
    std::uint32_t inMaxPacket_ = 0;
};

}  // namespace flashwise
