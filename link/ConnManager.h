#pragma once
// The boot-loader link as the download driver sees it. CConnManager carries the
// protocol over the USB serial host device; CConnManagerVista (derived) over WinUSB.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/Clock.h"
#include "link/Pause.h"

namespace flashwise {

class CFirmwareImage;
class SerialPort;

constexpr std::size_t kRequestBlockSize = 72;
constexpr std::size_t kSectionHeaderSize = 256;
constexpr std::size_t kStatusRecordSize = 20;

class CConnManager {
public:
    // The serial link over `port`; every protocol pause goes through `pause`.
    CConnManager(std::unique_ptr<SerialPort> port, PauseFn pause, ClockFn clock = RealClock());
    CConnManager(const CConnManager&) = delete;
    CConnManager& operator=(const CConnManager&) = delete;

    virtual ~CConnManager();
    // False when the end-of-transfer block could not be sent.
    virtual bool EndTransfer();
    virtual bool Open();
    virtual bool Read(int count, std::uint8_t* buffer);
    virtual bool PrepareSection(CFirmwareImage* image, std::uint8_t* request,
                                const std::uint8_t* header, int code);
    virtual bool SendSection(CFirmwareImage* image, std::uint8_t* request,
                             const std::uint8_t* header, int code);

    // The last progress figure the boot loader reported, rounded up to the next
    // multiple of 100 when a unit is written.
    std::uint32_t DeviceProgress() const { return progress_; }
    // The result code of the last unit the boot loader refused (0x22, 0x88, 0x99), or 0
    // when the last unit failed some other way or did not fail.
    std::uint32_t LastRefusal() const { return refusal_; }

protected:
    CConnManager();  // a link with no transport, for derived links and test doubles
    CConnManager(PauseFn pause, ClockFn clock);

    // Reads exactly `count` bytes or fails.
    using ReadExactFn = std::function<bool(int count, std::uint8_t* buffer)>;
    // Completes the 20 bytes in `record` and judges them as the reply to an announcement.
    static bool JudgeReadiness(std::uint8_t* record, const ReadExactFn& readExact);
    // Reads status records until the unit is written (true), rejected, the transport
    // fails or the boot loader has sent no progress record for too long (false).
    bool AwaitUnitResult(std::uint8_t* record, const ReadExactFn& readExact);

    PauseFn pause_;
    ClockFn clock_;
    std::uint32_t progress_ = 0;
    std::uint32_t refusal_ = 0;
    CFirmwareImage* currentImage_ = nullptr;

private:
    bool PortOpen() const;
    // Up to `count` bytes with the empty-read allowance; the number that arrived, or -1
    // for a bad request.
    int ReadAvailable(int count, std::uint8_t* buffer);
    bool ReadExact(int count, std::uint8_t* buffer);
    bool WriteAll(const std::uint8_t* bytes, std::uint32_t count);
    // Clear DTR, write the 72-byte block, optionally pause, set DTR.
    bool WriteMarkedBlock(const std::uint8_t* block, std::uint32_t pauseMs);
    bool WaitForPortEvent();

    std::unique_ptr<SerialPort> port_;
};

}  // namespace flashwise
