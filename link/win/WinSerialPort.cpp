#include "link/win/WinSerialPort.h"

#include <cstring>

namespace flashwise {

static_assert(sizeof(DCB) == 28, "the line settings are sent as the 28-byte record");

WinSerialPort::~WinSerialPort() { Close(); }

bool WinSerialPort::Open(const std::wstring& name) {
    Close();
    handle_ = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
}

void WinSerialPort::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

bool WinSerialPort::SetLineSettings(const SerialLineSettings& s) {
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = s.length;
    dcb.BaudRate = s.baudRate;
    // The flag bits follow BaudRate as one 32-bit word.
    std::memcpy(reinterpret_cast<unsigned char*>(&dcb) + 2 * sizeof(DWORD), &s.flags, sizeof(DWORD));
    dcb.wReserved = s.reserved;
    dcb.XonLim = s.xonLimit;
    dcb.XoffLim = s.xoffLimit;
    dcb.ByteSize = s.byteSize;
    dcb.Parity = s.parity;
    dcb.StopBits = s.stopBits;
    dcb.XonChar = static_cast<char>(s.xonChar);
    dcb.XoffChar = static_cast<char>(s.xoffChar);
    dcb.ErrorChar = static_cast<char>(s.errorChar);
    dcb.EofChar = static_cast<char>(s.eofChar);
    dcb.EvtChar = static_cast<char>(s.evtChar);
    dcb.wReserved1 = s.reserved1;
    return ::SetCommState(handle_, &dcb) != FALSE;
}

bool WinSerialPort::SetEventMask(std::uint32_t mask) { return ::SetCommMask(handle_, mask) != FALSE; }

bool WinSerialPort::SetTimeouts(const SerialTimeouts& t) {
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = t.readInterval;
    timeouts.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
    timeouts.ReadTotalTimeoutConstant = t.readTotalConstant;
    timeouts.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
    timeouts.WriteTotalTimeoutConstant = t.writeTotalConstant;
    return ::SetCommTimeouts(handle_, &timeouts) != FALSE;
}

bool WinSerialPort::SetDtr() { return ::EscapeCommFunction(handle_, SETDTR) != FALSE; }
bool WinSerialPort::ClearDtr() { return ::EscapeCommFunction(handle_, CLRDTR) != FALSE; }

bool WinSerialPort::WaitEvent(std::uint32_t* events) {
    DWORD mask = 0;
    const bool ok = ::WaitCommEvent(handle_, &mask, nullptr) != FALSE;
    *events = mask;
    return ok;
}

bool WinSerialPort::ReadBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
    DWORD n = 0;
    const bool ok = ::ReadFile(handle_, buffer, count, &n, nullptr) != FALSE;
    *done = n;
    return ok;
}

bool WinSerialPort::WriteBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
    DWORD n = 0;
    const bool ok = ::WriteFile(handle_, buffer, count, &n, nullptr) != FALSE;
    *done = n;
    return ok;
}

}  // namespace flashwise
