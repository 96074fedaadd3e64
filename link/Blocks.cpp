#include "link/Blocks.h"

#include <cstring>

#include "image/FirmwareImage.h"
#include "image/SectionHeaderBuilder.h"
#include "link/UnitData.h"

namespace flashwise {

namespace {

std::u16string NamePart(const CFirmwareImage& image) {
    if (!image.IsOpen()) return {};
    try {
        return image.Path().filename().u16string();
    } catch (...) {
        return {};   // a name that does not convert is sent as an empty name
    }
}

}  // namespace

void PutRequestFileName(std::uint8_t* request, const std::u16string& name) {
    std::uint8_t* field = request + kRequestNameAt;
    std::memset(field, 0, kRequestNameField);
    for (std::size_t i = 0; i < name.size() && i < kRequestNameMax; ++i) {
        const char16_t c = name[i];
        field[i] = c < 0x80 ? static_cast<std::uint8_t>(c) : static_cast<std::uint8_t>('?');
    }
}

RequestFill FillRequestBlock(CFirmwareImage& image, int code, std::uint8_t flag,
                             const std::uint8_t* header, std::uint8_t* request, UnitRange* range) {
    UnitRange unit;
    switch (MeasureUnit(image, code, &unit)) {
        case UnitMeasure::Failed: return RequestFill::Failed;
        case UnitMeasure::Empty: return RequestFill::Empty;
        case UnitMeasure::Present: break;
    }
    std::uint32_t sum = 0;
    if (!UnitByteSum(image, unit, &sum)) return RequestFill::Failed;
    for (std::size_t i = 0; i < kSectionHeaderSize; ++i) sum += header[i];

    StoreLe32(request + 0x00, kRequestMagic0);
    StoreLe32(request + 0x04, kRequestMagic1);
    StoreLe32(request + 0x08, kRequestMagic2);
    StoreLe32(request + kRequestLengthAt, unit.length + 256u);
    PutRequestFileName(request, NamePart(image));
    request[kRequestFlagAt] = flag;
    const std::uint16_t type =
        image.IsOpen() ? static_cast<std::uint16_t>(image.HeaderWord(0x34) & 0xFFFFu) : 0xFFFFu;
    request[kRequestTypeAt] = static_cast<std::uint8_t>(type);
    request[kRequestTypeAt + 1] = static_cast<std::uint8_t>(type >> 8);
    StoreLe32(request + kRequestChecksumAt, sum);
    if (range != nullptr) *range = unit;
    return RequestFill::Built;
}

RequestFill BuildRequestBlock(CFirmwareImage& image, int code, std::uint8_t flag, std::uint8_t* request) {
    std::memset(request, 0, kRequestBlockSize);
    std::uint8_t header[kSectionHeaderSize] = {};
    SectionHeaderBuilder builder(image);
    if (builder.BuildSectionHeader(header, code) != SectionHeaderBuilder::kBuilt) return RequestFill::Failed;
    return FillRequestBlock(image, code, flag, header, request);
}

void BuildEndOfTransferBlock(std::uint8_t* block) {
    std::memset(block, 0, kRequestBlockSize);
    StoreLe32(block, kEndOfTransferMagic);
}

int FindStartMark(const std::uint8_t* bytes) {
    for (int i = 0; i + 1 < static_cast<int>(kStatusRecordSize); ++i) {
        if ((bytes[i] == 0x55 && bytes[i + 1] == 0xAA) || (bytes[i] == 0xAA && bytes[i + 1] == 0x55)) {
            return i;
        }
    }
    return -1;
}

bool CompleteStatusRecord(std::uint8_t* record, const ReadMoreFn& readMore) {
    const int at = FindStartMark(record);
    if (at < 0) {
        std::memset(record, 0, kStatusRecordSize);
        return true;
    }
    if (at == 0) return true;
    const std::size_t kept = kStatusRecordSize - static_cast<std::size_t>(at);
    std::memmove(record, record + at, kept);
    return readMore(at, record + kept);
}

StatusRecord DecodeStatusRecord(const std::uint8_t* record) {
    StatusRecord r;
    r.kind = LoadLe32(record);
    r.value = LoadLe32(record + 4);
    r.word8 = LoadLe32(record + 8);
    return r;
}

bool IsReady(const StatusRecord& record) {
    return record.kind == kResultKind && record.value == kReadyValue && record.word8 == 1;
}

UnitResult JudgeResult(const StatusRecord& record) {
    if (record.kind == kProgressKind) return UnitResult::Progress;
    if (record.kind != kResultKind) return UnitResult::NotFinal;
    switch (record.value) {
        case kWrittenValue: return UnitResult::Written;
        case 0x22:
        case 0x88:
        case 0x99: return UnitResult::Rejected;
        default: return UnitResult::NotFinal;
    }
}

std::uint32_t RoundUpProgress(std::uint32_t progress) {
    const std::uint32_t rest = progress % 100u;
    if (rest == 0) return progress;
    // Above the last multiple of 100 that 32 bits hold there is none to raise it to:
    // the figure stays rather than wrapping round to a small one.
    if (progress > 0xFFFFFFFFu - (100u - rest)) return progress;
    return progress + (100u - rest);
}

}  // namespace flashwise
