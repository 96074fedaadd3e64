#pragma once
// The serial link's port calls on a Linux tty (/dev/ttyUSB0, /dev/ttyACM0), so that the
// serial link's protocol runs unchanged. The user names the one device, so every name
// the link tries opens it. Line settings and timeouts become termios settings, DTR the
// modem-control ioctls, and the event wait a bounded watch for received bytes and for
// changes of CTS and DSR.

#include <atomic>
#include <cstdint>
#include <string>

#include "link/LinkBounds.h"
#include "link/SerialPort.h"

namespace flashwise {

class TermiosSerialPort : public SerialPort {
public:
    // `eventWaitMs`: the longest one event wait lasts; `pollMs`: how often it looks.
    explicit TermiosSerialPort(std::string device, std::uint32_t eventWaitMs = kSerialEventWaitMs,
                               std::uint32_t pollMs = 10);
    ~TermiosSerialPort() override;
    TermiosSerialPort(const TermiosSerialPort&) = delete;
    TermiosSerialPort& operator=(const TermiosSerialPort&) = delete;

    bool Open(const std::wstring& name) override;
    bool IsOpen() const override { return fd_ >= 0; }
    void Close() override;
    // errno of the last open that failed (0 when none did).
    int OpenErrno() const { return openErrno_; }
    // Bytes written since the object was made.
    std::uint64_t BytesSent() const { return bytesSent_.load(); }
    // Whether a call found the device gone.
    bool DeviceGone() const { return gone_; }

    bool SetLineSettings(const SerialLineSettings& settings) override;
    bool SetEventMask(std::uint32_t mask) override;
    bool SetTimeouts(const SerialTimeouts& timeouts) override;
    bool SetDtr() override;
    bool ClearDtr() override;

    bool WaitEvent(std::uint32_t* events) override;
    bool ReadBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;
    bool WriteBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;

private:
    bool ModemLines(int* lines);
    // Notes a failed call whose errno says the device has gone.
    void NoteFailure();

    std::string device_;
    std::uint32_t eventWaitMs_;
    std::uint32_t pollMs_;
    int fd_ = -1;
    int openErrno_ = 0;
    std::uint32_t eventMask_ = 0;
    int lastLines_ = 0;
    std::atomic<std::uint64_t> bytesSent_{0};
    bool gone_ = false;
};

}  // namespace flashwise
