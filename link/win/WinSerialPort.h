#pragma once
// The serial link's port on the system's serial functions. Every call is issued
// overlapped and waited for with a bound, so a device that is attached but never
// answers cannot hold the link forever; to the link each call still looks synchronous.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "link/LinkBounds.h"
#include "link/SerialPort.h"

namespace flashwise {

class WinSerialPort : public SerialPort {
public:
    // The longest waits, in milliseconds; tests pass small ones.
    struct Bounds {
        std::uint32_t eventWaitMs = kSerialEventWaitMs;
        std::uint32_t readWaitMs = kSerialReadWaitMs;
        std::uint32_t writeWaitMs = kSerialWriteWaitMs;
        std::uint32_t cancelWaitMs = kSerialCancelWaitMs;
    };

    WinSerialPort() = default;
    explicit WinSerialPort(const Bounds& bounds) : bounds_(bounds) {}
    ~WinSerialPort() override;
    WinSerialPort(const WinSerialPort&) = delete;
    WinSerialPort& operator=(const WinSerialPort&) = delete;

    bool Open(const std::wstring& name) override;
    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }
    void Close() override;
    bool SetLineSettings(const SerialLineSettings& settings) override;
    bool SetEventMask(std::uint32_t mask) override;
    bool SetTimeouts(const SerialTimeouts& timeouts) override;
    bool SetDtr() override;
    bool ClearDtr() override;
    // Fails when no event has come within the bound; from then on fails at once until
    // the host writes again (the device has shown it is silent).
    bool WaitEvent(std::uint32_t* events) override;
    bool ReadBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;
    bool WriteBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;

private:
    // What the system may still write to while a call is under way: owned here rather
    // than by the caller, so a call that will not end can be abandoned safely.
    struct Transfer {
        OVERLAPPED overlapped{};
        DWORD events = 0;
        std::vector<std::uint8_t> bytes;
    };
    enum class Outcome { Done, Failed, TimedOut };

    // The transfer's OVERLAPPED, cleared and its event reset, for the next call.
    OVERLAPPED* Begin();
    // Waits up to `boundMs` for the call just issued (`issued` its return value); on
    // time-out cancels it and waits for the cancellation.
    Outcome Complete(BOOL issued, std::uint32_t boundMs, DWORD* moved);

    Bounds bounds_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::unique_ptr<Transfer> transfer_;
    bool silent_ = false;
};

}  // namespace flashwise
