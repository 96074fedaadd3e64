#pragma once
// The serial port of the serial link, in process, over the simulated boot loader:
// what the USB serial host device would do with the host's calls.
//
// - Open succeeds for the one device name the simulator answers to, while present.
// - A read returns whatever the device has queued, or comes back empty (the port's
//   read timeout passing with nothing to read); it fails once the device is gone.
// - WaitEvent returns the pending events in the event mask. When none is pending a
//   real wait would never return: it is reported as a failed wait instead, which the
//   link bounds. It also fails once the device is gone.

#include <cstdint>
#include <string>

#include "link/SerialPort.h"
#include "sim/BootLoaderSim.h"

namespace flashwise::sim {

class SimSerialPort : public SerialPort {
public:
    explicit SimSerialPort(BootLoaderSim& device, std::wstring deviceName = L"\\\\.\\wceusbsh001");

    bool Open(const std::wstring& name) override;
    bool IsOpen() const override { return open_; }
    void Close() override { open_ = false; }

    bool SetLineSettings(const SerialLineSettings& settings) override;
    bool SetEventMask(std::uint32_t mask) override;
    bool SetTimeouts(const SerialTimeouts& timeouts) override;
    bool SetDtr() override;
    bool ClearDtr() override;

    bool WaitEvent(std::uint32_t* events) override;
    bool ReadBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;
    bool WriteBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;

    // What the link asked for, for tests to check.
    int OpenAttempts() const { return openAttempts_; }
    const SerialLineSettings& LineSettings() const { return settings_; }
    std::uint32_t EventMask() const { return eventMask_; }
    const SerialTimeouts& Timeouts() const { return timeouts_; }

private:
    BootLoaderSim& device_;
    std::wstring deviceName_;
    bool open_ = false;
    int openAttempts_ = 0;
    SerialLineSettings settings_{};
    std::uint32_t eventMask_ = 0;
    SerialTimeouts timeouts_{};
};

}  // namespace flashwise::sim
