#include "link/win/WinSerialPort.h"

#include <cstring>

namespace flashwise {

static_assert(sizeof(DCB) == 28, "the line settings are sent as the 28-byte record");

WinSerialPort::~WinSerialPort() { Close(); }

bool WinSerialPort::Open(const std::wstring& name) {
    Close();
    // Overlapped, so that each call below can be given up after its bound: a boot loader
    // that stays attached but silent must not hang the download. The device sees the
    // same requests either way, and the line settings, mask and time-outs are unchanged.
    handle_ = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    transfer_ = std::make_unique<Transfer>();
    transfer_->overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (transfer_->overlapped.hEvent == nullptr) {
        Close();
        return false;
    }
    silent_ = false;
    return true;
}

void WinSerialPort::Close() {
    if (transfer_ != nullptr) {
        ::CloseHandle(transfer_->overlapped.hEvent);
        transfer_.reset();
    }
    if (handle_ != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    silent_ = false;
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

OVERLAPPED* WinSerialPort::Begin() {
    OVERLAPPED& o = transfer_->overlapped;
    const HANDLE event = o.hEvent;
    o = OVERLAPPED{};
    o.hEvent = event;
    ::ResetEvent(event);
    return &o;
}

WinSerialPort::Outcome WinSerialPort::Complete(BOOL issued, std::uint32_t boundMs, DWORD* moved) {
    *moved = 0;
    OVERLAPPED* o = &transfer_->overlapped;
    if (!issued) {
        if (::GetLastError() != ERROR_IO_PENDING) return Outcome::Failed;
        if (::WaitForSingleObject(o->hEvent, boundMs) != WAIT_OBJECT_0) {
            ::CancelIo(handle_);
            if (::WaitForSingleObject(o->hEvent, bounds_.cancelWaitMs) != WAIT_OBJECT_0) {
                // The call will not end, and the system may still write into the
                // transfer: it is left to the system for good, and the port given up.
                static_cast<void>(transfer_.release());
                Close();
                return Outcome::TimedOut;
            }
            // It may have completed just before the cancellation took hold.
            return ::GetOverlappedResult(handle_, o, moved, FALSE) ? Outcome::Done : Outcome::TimedOut;
        }
    }
    return ::GetOverlappedResult(handle_, o, moved, FALSE) ? Outcome::Done : Outcome::Failed;
}

bool WinSerialPort::WaitEvent(std::uint32_t* events) {
    *events = 0;
    // The device stayed silent for a whole bound and has been sent nothing since:
    // waiting again would only hold the link for another bound.
    if (!IsOpen() || silent_) return false;
    OVERLAPPED* o = Begin();
    transfer_->events = 0;
    const BOOL issued = ::WaitCommEvent(handle_, &transfer_->events, o);
    DWORD moved = 0;
    switch (Complete(issued, bounds_.eventWaitMs, &moved)) {
        case Outcome::Done:
            *events = transfer_->events;
            return true;
        case Outcome::TimedOut:
            silent_ = true;
            return false;
        case Outcome::Failed:
            break;
    }
    return false;
}

bool WinSerialPort::ReadBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
    *done = 0;
    if (!IsOpen()) return false;
    std::vector<std::uint8_t>& bytes = transfer_->bytes;
    if (bytes.size() < count || bytes.empty()) bytes.resize(count == 0 ? 1 : count);
    OVERLAPPED* o = Begin();
    const BOOL issued = ::ReadFile(handle_, bytes.data(), count, nullptr, o);
    DWORD moved = 0;
    if (Complete(issued, bounds_.readWaitMs, &moved) != Outcome::Done || moved > count) return false;
    std::memcpy(buffer, transfer_->bytes.data(), moved);
    *done = moved;
    return true;
}

bool WinSerialPort::WriteBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
    *done = 0;
    if (!IsOpen()) return false;
    std::vector<std::uint8_t>& bytes = transfer_->bytes;
    bytes.assign(buffer, buffer + count);
    if (bytes.empty()) bytes.push_back(0);
    OVERLAPPED* o = Begin();
    const BOOL issued = ::WriteFile(handle_, bytes.data(), count, nullptr, o);
    DWORD moved = 0;
    if (Complete(issued, bounds_.writeWaitMs, &moved) != Outcome::Done) return false;
    *done = moved;
    // The device has something new to answer: its next event is worth waiting for.
    if (moved != 0) silent_ = false;
    return true;
}

}  // namespace flashwise
