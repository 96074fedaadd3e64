#include "link/posix/TermiosSerialPort.h"

// The kernel's own terminal settings (termios2) through ioctl(): any baud rate, and
// every call goes through the one system call a test can stand in for.
#include <asm/termbits.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <chrono>

namespace flashwise {

namespace {

// The serial event bits the link asks for, as the system's event mask numbers them.
constexpr std::uint32_t kEventRxChar = 0x0001;
constexpr std::uint32_t kEventCts = 0x0008;
constexpr std::uint32_t kEventDsr = 0x0010;
// Line-settings flag bits.
constexpr std::uint32_t kOutxCtsFlow = 0x0004;

void Sleep(std::uint32_t ms) {
    timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace

TermiosSerialPort::TermiosSerialPort(std::string device, std::uint32_t eventWaitMs, std::uint32_t pollMs)
    : device_(std::move(device)), eventWaitMs_(eventWaitMs), pollMs_(pollMs == 0 ? 1 : pollMs) {}

TermiosSerialPort::~TermiosSerialPort() { Close(); }

bool TermiosSerialPort::Open(const std::wstring&) {
    Close();
    fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        openErrno_ = errno;
        return false;
    }
    // Unshared, as the link opens its port: a second opener gets EBUSY.
    if (::ioctl(fd_, TIOCEXCL) != 0 && errno == EBUSY) {
        openErrno_ = EBUSY;
        Close();
        return false;
    }
    openErrno_ = 0;
    return true;
}

void TermiosSerialPort::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool TermiosSerialPort::SetLineSettings(const SerialLineSettings& settings) {
    termios2 t{};
    if (fd_ < 0 || ::ioctl(fd_, TCGETS2, &t) != 0) return false;
    // Raw bytes both ways: no translation, no echo, no signals.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= CS8 | CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT);
    // Output flow control by CTS, as the line settings ask; DSR has no termios counterpart.
    if (settings.flags & kOutxCtsFlow) {
        t.c_cflag |= CRTSCTS;
    } else {
        t.c_cflag &= ~CRTSCTS;
    }
    t.c_ispeed = t.c_ospeed = settings.baudRate;
    return ::ioctl(fd_, TCSETS2, &t) == 0;
}

bool TermiosSerialPort::SetEventMask(std::uint32_t mask) {
    if (fd_ < 0) return false;
    eventMask_ = mask;
    return ModemLines(&lastLines_);
}

bool TermiosSerialPort::SetTimeouts(const SerialTimeouts& timeouts) {
    termios2 t{};
    if (fd_ < 0 || ::ioctl(fd_, TCGETS2, &t) != 0) return false;
    // A read returns at once with what is waiting, or waits for a first byte up to the
    // total constant (tenths of a second, at most 25.5 s).
    std::uint32_t tenths = timeouts.readTotalConstant / 100;
    if (tenths > 255) tenths = 255;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = static_cast<cc_t>(tenths);
    return ::ioctl(fd_, TCSETS2, &t) == 0;
}

bool TermiosSerialPort::SetDtr() {
    int bits = TIOCM_DTR;
    return fd_ >= 0 && ::ioctl(fd_, TIOCMBIS, &bits) == 0;
}

bool TermiosSerialPort::ClearDtr() {
    int bits = TIOCM_DTR;
    return fd_ >= 0 && ::ioctl(fd_, TIOCMBIC, &bits) == 0;
}

void TermiosSerialPort::NoteFailure() { gone_ = gone_ || errno == EIO || errno == ENODEV || errno == ENXIO; }

bool TermiosSerialPort::ModemLines(int* lines) {
    if (::ioctl(fd_, TIOCMGET, lines) == 0) return true;
    NoteFailure();
    return false;
}

bool TermiosSerialPort::WaitEvent(std::uint32_t* events) {
    if (fd_ < 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(eventWaitMs_);
    for (;;) {
        std::uint32_t seen = 0;
        int lines = 0;
        // A port whose device has gone fails these at once.
        if (!ModemLines(&lines)) return false;
        if ((lines ^ lastLines_) & TIOCM_CTS) seen |= kEventCts;
        if ((lines ^ lastLines_) & TIOCM_DSR) seen |= kEventDsr;
        lastLines_ = lines;
        int waiting = 0;
        if (::ioctl(fd_, FIONREAD, &waiting) != 0) {
            NoteFailure();
            return false;
        }
        if (waiting > 0) seen |= kEventRxChar;
        seen &= eventMask_;
        if (seen != 0) {
            *events = seen;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Sleep(pollMs_);
    }
}

bool TermiosSerialPort::ReadBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
    *done = 0;
    if (fd_ < 0) return false;
    const ssize_t n = ::read(fd_, buffer, count);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return true;
        NoteFailure();
        return false;
    }
    *done = static_cast<std::uint32_t>(n);
    return true;
}

bool TermiosSerialPort::WriteBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
    *done = 0;
    if (fd_ < 0) return false;
    while (*done < count) {
        const ssize_t n = ::write(fd_, buffer + *done, count - *done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) NoteFailure();
            return false;
        }
        *done += static_cast<std::uint32_t>(n);
        bytesSent_ += static_cast<std::uint64_t>(n);
    }
    return true;
}

}  // namespace flashwise
