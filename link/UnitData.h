#pragma once
// Where a transfer unit's bytes come from and how they are read: in 8192-byte chunks
// through the one transfer buffer that both links share, never a whole unit at once.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "image/FirmwareImage.h"
#include "image/RandomAccessFile.h"
#include "image/TransferUnits.h"

namespace flashwise {

constexpr std::size_t kTransferChunk = 8192;

// The program's one transfer buffer. Only one link runs a download at a time.
std::uint8_t* TransferBuffer();

// The unit's data range with its length measured. For unit 55 the length is that of the
// image object's ExtRom.tmp, which must open for reading and writing.
enum class UnitMeasure { Failed, Empty, Present };
UnitMeasure MeasureUnit(CFirmwareImage& image, int code, UnitRange* range);

// Reads a measured unit's bytes from its source, chunk by chunk, never past its length.
class UnitReader {
public:
    UnitReader(CFirmwareImage& image, const UnitRange& range) : image_(image), range_(range) {}
    UnitReader(const UnitReader&) = delete;
    UnitReader& operator=(const UnitReader&) = delete;

    // Opens the source and positions it at the range's start. False when the source
    // cannot be opened or holds no bytes at all.
    bool Open();
    // Up to kTransferChunk bytes into `buffer`, never more than still owed; 0 at the end
    // of the range or of the source.
    std::size_t Next(std::uint8_t* buffer);
    std::uint32_t Owed() const { return owed_; }
    // Marks `count` bytes of the last chunk as delivered.
    void Consumed(std::size_t count) { owed_ -= static_cast<std::uint32_t>(count); }

private:
    RandomAccessFile& Source() { return range_.fromExtRomFile ? extRom_ : image_.File(); }

    CFirmwareImage& image_;
    UnitRange range_;
    RandomAccessFile extRom_;   // a file object of its own for ExtRom.tmp
    std::uint32_t owed_ = 0;
};

// Sum of every byte of the unit's data, each unsigned, modulo 2^32. False when the
// range cannot be read in full: announcing a unit whose bytes are missing only fails later.
// A range of the image file that was already summed in full (by the header builder or
// an earlier call) is not read again; the image object keeps its sums until it opens
// or closes a file. ExtRom.tmp is read every time.
bool UnitByteSum(CFirmwareImage& image, const UnitRange& range, std::uint32_t* sum);

}  // namespace flashwise

namespace flashwise {

// Streams the unit's bytes in pieces of at most 8192 through the transfer buffer.
// `send` must deliver the whole piece or fail. False when the source cannot be opened,
// is empty, ends early, or a piece fails.
using SendPieceFn = std::function<bool(const std::uint8_t* piece, std::uint32_t count)>;
bool StreamUnitData(CFirmwareImage& image, const UnitRange& range, const SendPieceFn& send);

}  // namespace flashwise
