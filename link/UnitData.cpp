#include "link/UnitData.h"

namespace flashwise {

std::uint8_t* TransferBuffer() {
    static std::uint8_t buffer[kTransferChunk];
    return buffer;
}

UnitMeasure MeasureUnit(CFirmwareImage& image, int code, UnitRange* range) {
    UnitRange r;
    if (!UnitDataRange(image, code, &r)) return UnitMeasure::Failed;
    if (r.fromExtRomFile) {
        RandomAccessFile extRom;
        if (!extRom.Open(image.ExtRomPath(), RandomAccessFile::Mode::ReadWrite)) return UnitMeasure::Failed;
        const std::uint64_t length = extRom.Length();
        extRom.Close();
        // The length field and the boot loader count in 32 bits; a longer file cannot be announced.
        if (length > 0xFFFFFFFFull - 256) return UnitMeasure::Failed;
        r.offset = 0;
        r.length = static_cast<std::uint32_t>(length);
    }
    *range = r;
    return r.length == 0 ? UnitMeasure::Empty : UnitMeasure::Present;
}

bool UnitReader::Open() {
    owed_ = range_.length;
    if (range_.fromExtRomFile) {
        if (!extRom_.Open(image_.ExtRomPath(), RandomAccessFile::Mode::ReadWrite)) return false;
    } else if (!image_.File().IsOpen()) {
        return false;
    }
    RandomAccessFile& source = Source();
    if (source.Length() == 0) return false;
    return source.Seek(range_.offset);
}

std::size_t UnitReader::Next(std::uint8_t* buffer) {
    if (owed_ == 0) return 0;
    const std::size_t got = Source().Read(buffer, kTransferChunk);
    return got < owed_ ? got : owed_;
}

bool UnitByteSum(CFirmwareImage& image, const UnitRange& range, std::uint32_t* sum) {
    DataSums sums;
    if (!range.fromExtRomFile && image.RecallSums(range.offset, range.length, &sums)) {
        *sum = sums.bytes;
        return true;
    }
    UnitReader reader(image, range);
    if (!reader.Open()) return false;
    std::uint8_t* chunk = TransferBuffer();
    DataSummer summer;
    while (reader.Owed() > 0) {
        const std::size_t got = reader.Next(chunk);
        if (got == 0) return false;
        summer.Add(chunk, got);
        reader.Consumed(got);
    }
    // A link used without the header builder still reads the unit only once for both
    // of its section operations.
    if (!range.fromExtRomFile) image.RememberSums(range.offset, range.length, summer.Sums());
    *sum = summer.Sums().bytes;
    return true;
}

}  // namespace flashwise

namespace flashwise {

bool StreamUnitData(CFirmwareImage& image, const UnitRange& range, const SendPieceFn& send) {
    UnitReader reader(image, range);
    if (!reader.Open()) return false;
    std::uint8_t* piece = TransferBuffer();
    while (reader.Owed() > 0) {
        const std::size_t count = reader.Next(piece);
        if (count == 0) break;
        if (!send(piece, static_cast<std::uint32_t>(count))) break;
        reader.Consumed(count);
    }
    return reader.Owed() == 0;
}

}  // namespace flashwise
