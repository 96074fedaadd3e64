#pragma once
// The serial-port calls the serial link makes, one to one with the operating system's
// serial functions. The Windows adapter lives in link/win/; tests script a fake.

#include <cstdint>
#include <string>

namespace flashwise {

// The fields of the system's line-settings record (DCB), flags as one word.
struct SerialLineSettings {
    std::uint32_t length = 0;       // DCBlength
    std::uint32_t baudRate = 0;
    std::uint32_t flags = 0;        // fBinary .. fAbortOnError, bit 0 first
    std::uint16_t reserved = 0;
    std::uint16_t xonLimit = 0;
    std::uint16_t xoffLimit = 0;
    std::uint8_t byteSize = 0;
    std::uint8_t parity = 0;
    std::uint8_t stopBits = 0;
    std::uint8_t xonChar = 0;
    std::uint8_t xoffChar = 0;
    std::uint8_t errorChar = 0;
    std::uint8_t eofChar = 0;
    std::uint8_t evtChar = 0;
    std::uint16_t reserved1 = 0;
};

struct SerialTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the named device for reading and writing, unshared, existing only.
    virtual bool Open(const std::wstring& name) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;

    virtual bool SetLineSettings(const SerialLineSettings& settings) = 0;
    virtual bool SetEventMask(std::uint32_t mask) = 0;
    virtual bool SetTimeouts(const SerialTimeouts& timeouts) = 0;
    virtual bool SetDtr() = 0;
    virtual bool ClearDtr() = 0;

    // Blocks until one of the masked events occurs; `events` receives them.
    virtual bool WaitEvent(std::uint32_t* events) = 0;
    // One read or write call; `done` receives the bytes moved.
    virtual bool ReadBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) = 0;
    virtual bool WriteBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) = 0;
};

}  // namespace flashwise
