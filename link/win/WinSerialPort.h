#pragma once
// The serial link's port on the system's serial functions.

#include <windows.h>

#include "link/SerialPort.h"

namespace flashwise {

class WinSerialPort : public SerialPort {
public:
    WinSerialPort() = default;
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
    bool WaitEvent(std::uint32_t* events) override;
    bool ReadBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;
    bool WriteBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace flashwise
