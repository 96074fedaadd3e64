#include "sim/SimSerialPort.h"

#include <utility>

namespace flashwise::sim {

SimSerialPort::SimSerialPort(BootLoaderSim& device, std::wstring deviceName)
    : device_(device), deviceName_(std::move(deviceName)) {}

bool SimSerialPort::Open(const std::wstring& name) {
    ++openAttempts_;
    if (open_ || device_.IsGone() || name != deviceName_) return false;
    open_ = true;
    return true;
}

bool SimSerialPort::SetLineSettings(const SerialLineSettings& settings) {
    if (!open_) return false;
    settings_ = settings;
    return true;
}

bool SimSerialPort::SetEventMask(std::uint32_t mask) {
    if (!open_) return false;
    eventMask_ = mask;
    return true;
}

bool SimSerialPort::SetTimeouts(const SerialTimeouts& timeouts) {
    if (!open_) return false;
    timeouts_ = timeouts;
    return true;
}

bool SimSerialPort::SetDtr() { return open_ && device_.LineState(true); }

bool SimSerialPort::ClearDtr() { return open_ && device_.LineState(false); }

bool SimSerialPort::WaitEvent(std::uint32_t* events) {
    if (!open_) return false;
    const CommEvents pending = device_.TakeCommEvents();
    const std::uint32_t masked = pending.mask & eventMask_;
    if (pending.gone || masked == 0) return false;
    *events = masked;
    return true;
}

bool SimSerialPort::ReadBytes(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
    *done = 0;
    if (!open_) return false;
    const ReadResult r = device_.HostRead(buffer, count);
    if (r.kind == ReadKind::Gone) return false;
    *done = static_cast<std::uint32_t>(r.count);
    return true;
}

bool SimSerialPort::WriteBytes(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) {
    *done = 0;
    if (!open_ || !device_.HostWrite(buffer, count)) return false;
    *done = count;
    return true;
}

}  // namespace flashwise::sim
