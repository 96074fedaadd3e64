#pragma once
// The blocks and records exchanged with the boot loader, the same on both links:
// the 72-byte request block, the 72-byte end-of-transfer block and the 20-byte status
// record, all little-endian, and how a status record is found, completed and judged.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "image/TransferUnits.h"
#include "link/ConnManager.h"

namespace flashwise {

class CFirmwareImage;

constexpr std::uint32_t kRequestMagic0 = 0x00005566u;
constexpr std::uint32_t kRequestMagic1 = 0x00009988u;
constexpr std::uint32_t kRequestMagic2 = 0x9AA80000u;
constexpr std::uint32_t kEndOfTransferMagic = 0x00001234u;

// Request block fields.
constexpr std::size_t kRequestLengthAt = 0x0C;
constexpr std::size_t kRequestNameAt = 0x10;
constexpr std::size_t kRequestNameField = 30;
constexpr std::size_t kRequestNameMax = 29;   // characters before the terminating NUL
constexpr std::size_t kRequestFlagAt = 0x2E;
constexpr std::size_t kRequestTypeAt = 0x30;
constexpr std::size_t kRequestChecksumAt = 0x44;

// Operation flag of the request block.
constexpr std::uint8_t kAnnounceFlag = 1;   // PrepareSection
constexpr std::uint8_t kSendFlag = 0;       // SendSection

// Status record kinds and values.
constexpr std::uint32_t kResultKind = 0x000055AAu;
constexpr std::uint32_t kProgressKind = 0x0000AA55u;
constexpr std::uint32_t kReadyValue = 0x77;
constexpr std::uint32_t kWrittenValue = 0;

enum class RequestFill {
    Failed,   // the unit's source cannot be opened or read in full
    Empty,    // the unit has no bytes: nothing is sent, the operation succeeds
    Built     // the request block is ready to send
};

// Rewrites the request block's fields for unit `code` of `image` with operation flag
// `flag`; the other bytes keep what they hold (the caller zero-fills the block once).
// `header` is the unit's 256-byte section header, part of the byte checksum. When
// `range` is given it receives the unit's measured data range.
RequestFill FillRequestBlock(CFirmwareImage& image, int code, std::uint8_t flag,
                             const std::uint8_t* header, std::uint8_t* request,
                             UnitRange* range = nullptr);

// The request block exactly as a link would send it for unit `code` of `image`: a
// zero-filled block, the unit's section header built afresh, then the fields above.
// For tools that show or record the block without a boot loader.
RequestFill BuildRequestBlock(CFirmwareImage& image, int code, std::uint8_t flag, std::uint8_t* request);

// The file-name field: the name part of `path`, one byte per character (a character
// outside 7-bit ASCII becomes '?'), at most 29 of them, NUL-filled to 30 bytes.
void PutRequestFileName(std::uint8_t* request, const std::u16string& name);

void BuildEndOfTransferBlock(std::uint8_t* block);

// Position of the first start mark (bytes 55 AA or AA 55) among the 20 bytes, or -1.
int FindStartMark(const std::uint8_t* bytes);

// Completes the 20 bytes just read into a status record: a record that starts at
// position i keeps its 20 - i bytes and gets i more from `readMore`; without a start
// mark it becomes all zeros. False only when `readMore` fails.
using ReadMoreFn = std::function<bool(int count, std::uint8_t* into)>;
bool CompleteStatusRecord(std::uint8_t* record, const ReadMoreFn& readMore);

struct StatusRecord {
    std::uint32_t kind = 0;
    std::uint32_t value = 0;
    std::uint32_t word8 = 0;
};
StatusRecord DecodeStatusRecord(const std::uint8_t* record);

// The readiness reply to an announcement: kind 0x55AA, value 0x77 and word 0x08 == 1.
bool IsReady(const StatusRecord& record);

enum class UnitResult {
    Written,    // result 0
    Rejected,   // result 0x22, 0x88 or 0x99
    Progress,   // a progress record; its value is the device progress
    NotFinal    // anything else: keep reading
};
UnitResult JudgeResult(const StatusRecord& record);

// The device progress once a unit is written: raised to the next multiple of 100 (a
// figure above the last multiple 32 bits hold stays as it is).
std::uint32_t RoundUpProgress(std::uint32_t progress);

}  // namespace flashwise
