// The boot-loader protocol over WinUSB: the serial link's operations with line-state
// requests for DTR, bulk transfers for port reads and writes, and no event waits.

#include "link/ConnManagerVista.h"

#include "link/Blocks.h"
#include "link/LinkBounds.h"
#include "link/UnitData.h"

namespace flashwise {

bool CConnManagerVista::Open() {
    Release();
    if (!api_->Bind()) return false;
    return OpenDevice();
}

bool CConnManagerVista::InterfacePresent() {
    char16_t path[kDevicePathUnits] = {};
    return api_->Bind() && FindDevicePath(path);
}

bool CConnManagerVista::EndTransfer() {
    if (!IsOpen()) return false;
    std::uint8_t block[kRequestBlockSize];
    BuildEndOfTransferBlock(block);
    // Every step runs whatever the one before achieved; only the block itself decides.
    SetLineState(0);
    SetLineState(0);
    const bool sent = BulkWrite(block, kRequestBlockSize);
    SetLineState(1);
    pause_(kEndOfTransferPauseMs);
    SetLineState(1);
    return sent;
}

bool CConnManagerVista::PrepareSection(CFirmwareImage* image, std::uint8_t* request,
                                       const std::uint8_t* header, int code) {
    if (image == nullptr || request == nullptr || header == nullptr) return false;
    currentImage_ = image;
    switch (FillRequestBlock(*image, code, kAnnounceFlag, header, request)) {
        case RequestFill::Failed: return false;
        case RequestFill::Empty: return true;
        case RequestFill::Built: break;
    }
    if (!IsOpen()) return false;
    if (!SetLineState(0)) return false;
    if (!BulkWrite(request, kRequestBlockSize)) return false;
    pause_(kAnnouncePauseMs);
    if (!SetLineState(1)) return false;
    if (!SetLineState(1)) return false;

    std::uint8_t record[kStatusRecordSize] = {};
    // A boot loader that does not answer the announcement is taken as ready; the unit's
    // SendSection then finds out whether it is still there.
    if (!Read(static_cast<int>(kStatusRecordSize), record)) return true;
    return JudgeReadiness(record, [this](int count, std::uint8_t* into) { return Read(count, into); });
}

bool CConnManagerVista::SendSection(CFirmwareImage* image, std::uint8_t* request,
                                    const std::uint8_t* header, int code) {
    if (image == nullptr || request == nullptr || header == nullptr) return false;
    currentImage_ = image;
    UnitRange range;
    switch (FillRequestBlock(*image, code, kSendFlag, header, request, &range)) {
        case RequestFill::Failed: return false;
        case RequestFill::Empty: return true;
        case RequestFill::Built: break;
    }
    if (!IsOpen()) return false;
    if (!SetLineState(0)) return false;
    if (!BulkWrite(request, kRequestBlockSize)) return false;
    if (!SetLineState(1)) return false;
    if (!BulkWrite(header, kSectionHeaderSize)) return false;
    if (!StreamUnitData(*image, range,
                        [this](const std::uint8_t* piece, std::uint32_t count) { return BulkWrite(piece, count); })) {
        return false;
    }
    SetLineState(1);   // its result is not examined

    std::uint8_t record[kStatusRecordSize] = {};
    return AwaitUnitResult(record, [this](int count, std::uint8_t* into) { return Read(count, into); });
}

}  // namespace flashwise
