#include "link/ConnManager.h"

#include <cstring>

#include "link/Blocks.h"
#include "link/LinkBounds.h"
#include "link/SerialPort.h"
#include "link/UnitData.h"

namespace flashwise {

namespace {

constexpr int kSerialDeviceCount = 20;          // wceusbsh000 .. wceusbsh019
constexpr std::uint32_t kSerialEventMask = 0xDB;  // rx char, event char, CTS, DSR, break, line error

SerialLineSettings BootLoaderLineSettings() {
    SerialLineSettings s;
    s.length = 28;
    s.baudRate = 115200;
    s.flags = 0x0000000C;   // CTS and DSR output flow control; binary, parity, DTR and RTS control off
    return s;
}

SerialTimeouts BootLoaderTimeouts() {
    SerialTimeouts t;
    // A read returns at once with what is waiting, or waits up to 5 s for a first byte.
    t.readInterval = 0xFFFFFFFFu;
    t.readTotalMultiplier = 0xFFFFFFFFu;
    t.readTotalConstant = 5000;
    return t;
}

std::wstring SerialDeviceName(int number) {
    // "\\.\wceusbsh%03d"
    std::wstring name = L"\\\\.\\wceusbsh";
    name += static_cast<wchar_t>(L'0' + number / 100 % 10);
    name += static_cast<wchar_t>(L'0' + number / 10 % 10);
    name += static_cast<wchar_t>(L'0' + number % 10);
    return name;
}

}  // namespace

CConnManager::CConnManager() : pause_(RealPause()), clock_(RealClock()) {}

CConnManager::CConnManager(PauseFn pause, ClockFn clock)
    : pause_(std::move(pause)), clock_(std::move(clock)) {}

CConnManager::CConnManager(std::unique_ptr<SerialPort> port, PauseFn pause, ClockFn clock)
    : pause_(std::move(pause)), clock_(std::move(clock)), port_(std::move(port)) {}

CConnManager::~CConnManager() {
    if (PortOpen()) port_->Close();
}

bool CConnManager::PortOpen() const { return port_ != nullptr && port_->IsOpen(); }

bool CConnManager::Open() {
    if (port_ == nullptr) return false;
    if (port_->IsOpen()) port_->Close();

    // Numbers 1 to 19 first, then whole passes over 0 to 19 with a pause before each.
    int attempts = 0;
    int number = 1;
    for (;;) {
        if (number == kSerialDeviceCount) {
            if (attempts + 1 >= kSerialOpenAttemptLimit) return false;
            number = 0;
            pause_(kSerialPassPauseMs);
        }
        if (++attempts >= kSerialOpenAttemptLimit) return false;
        if (port_->Open(SerialDeviceName(number))) break;
        ++number;
    }
    // A refused setting leaves the port open; the next Open closes it.
    return port_->SetLineSettings(BootLoaderLineSettings()) &&
           port_->SetEventMask(kSerialEventMask) && port_->SetTimeouts(BootLoaderTimeouts());
}

int CConnManager::ReadAvailable(int count, std::uint8_t* buffer) {
    if (count < 0 || buffer == nullptr) return -1;
    if (!PortOpen()) return 0;
    int got = 0;
    int empty = 0;
    while (got < count) {
        std::uint32_t done = 0;
        if (!port_->ReadBytes(buffer + got, static_cast<std::uint32_t>(count - got), &done)) break;
        if (done == 0) {
            pause_(kEmptyReadPauseMs);
            if (++empty > kEmptyReadLimit) break;
            continue;
        }
        got += static_cast<int>(done);
    }
    return got;
}

bool CConnManager::Read(int count, std::uint8_t* buffer) {
    // Whatever arrived counts as success; bytes that did not keep what the buffer held.
    return ReadAvailable(count, buffer) >= 0;
}

bool CConnManager::ReadExact(int count, std::uint8_t* buffer) {
    return ReadAvailable(count, buffer) == count;
}

bool CConnManager::WriteAll(const std::uint8_t* bytes, std::uint32_t count) {
    std::uint32_t done = 0;
    // A short write would leave a gap in the stream the boot loader checksums.
    return port_->WriteBytes(bytes, count, &done) && done == count;
}

bool CConnManager::WriteMarkedBlock(const std::uint8_t* block, std::uint32_t pauseMs) {
    if (!port_->ClearDtr()) return false;
    if (!WriteAll(block, kRequestBlockSize)) return false;
    if (pauseMs != 0) pause_(pauseMs);
    return port_->SetDtr();
}

bool CConnManager::WaitForPortEvent() {
    int failures = 0;
    std::uint32_t events = 0;
    while (!port_->WaitEvent(&events)) {
        if (++failures >= kEventWaitFailureLimit) return false;
        pause_(kEventWaitRetryPauseMs);
    }
    return true;
}

bool CConnManager::EndTransfer() {
    if (!PortOpen()) return false;
    std::uint8_t block[kRequestBlockSize];
    BuildEndOfTransferBlock(block);
    return WriteMarkedBlock(block, 0);
}

bool CConnManager::JudgeReadiness(std::uint8_t* record, const ReadExactFn& readExact) {
    if (!CompleteStatusRecord(record, readExact)) return false;
    return IsReady(DecodeStatusRecord(record));
}

bool CConnManager::AwaitUnitResult(std::uint8_t* record, const ReadExactFn& readExact) {
    std::uint64_t lastProgressAt = clock_();
    refusal_ = 0;
    if (!readExact(static_cast<int>(kStatusRecordSize), record)) return false;
    for (;;) {
        if (!CompleteStatusRecord(record, readExact)) return false;
        const StatusRecord status = DecodeStatusRecord(record);
        const std::uint64_t now = clock_();
        switch (JudgeResult(status)) {
            case UnitResult::Written:
                progress_ = RoundUpProgress(progress_);
                return true;
            case UnitResult::Rejected:
                refusal_ = status.value;
                return false;
            case UnitResult::Progress:
                progress_ = status.value;
                lastProgressAt = now;
                break;
            case UnitResult::NotFinal:
                break;   // says nothing about whether the unit is getting anywhere
        }
        if (now - lastProgressAt >= kStatusProgressLimitMs) return false;
        std::memset(record, 0, kStatusRecordSize);
        if (!readExact(static_cast<int>(kStatusRecordSize), record)) return false;
    }
}

bool CConnManager::PrepareSection(CFirmwareImage* image, std::uint8_t* request,
                                  const std::uint8_t* header, int code) {
    if (image == nullptr || request == nullptr || header == nullptr) return false;
    currentImage_ = image;
    switch (FillRequestBlock(*image, code, kAnnounceFlag, header, request)) {
        case RequestFill::Failed: return false;
        case RequestFill::Empty: return true;
        case RequestFill::Built: break;
    }
    if (!PortOpen()) return false;
    if (!WriteMarkedBlock(request, kAnnouncePauseMs)) return false;
    if (!WaitForPortEvent()) return false;
    if (!port_->SetDtr()) return false;

    std::uint8_t record[kStatusRecordSize] = {};
    // A failing status read is taken as readiness; the serial read reports failure only
    // for a bad request, so a silent boot loader leaves zeros and is judged not ready.
    if (!Read(static_cast<int>(kStatusRecordSize), record)) return true;
    return JudgeReadiness(record, [this](int count, std::uint8_t* into) { return Read(count, into); });
}

bool CConnManager::SendSection(CFirmwareImage* image, std::uint8_t* request,
                               const std::uint8_t* header, int code) {
    if (image == nullptr || request == nullptr || header == nullptr) return false;
    currentImage_ = image;
    UnitRange range;
    switch (FillRequestBlock(*image, code, kSendFlag, header, request, &range)) {
        case RequestFill::Failed: return false;
        case RequestFill::Empty: return true;
        case RequestFill::Built: break;
    }
    if (!PortOpen()) return false;
    if (!WriteMarkedBlock(request, 0)) return false;
    if (!WaitForPortEvent()) return false;
    if (!WriteAll(header, kSectionHeaderSize)) return false;
    if (!WaitForPortEvent()) return false;
    if (!StreamUnitData(*image, range,
                        [this](const std::uint8_t* piece, std::uint32_t count) { return WriteAll(piece, count); })) {
        return false;
    }
    if (!WaitForPortEvent()) return false;
    if (!port_->SetDtr()) return false;

    std::uint8_t record[kStatusRecordSize] = {};
    // Here a read that stopped short fails the unit: re-judging stale bytes would spin forever.
    return AwaitUnitResult(record, [this](int count, std::uint8_t* into) { return ReadExact(count, into); });
}

}  // namespace flashwise
