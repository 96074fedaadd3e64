#include "image/ExtendedRomUnpacker.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace flashwise {

namespace {

constexpr std::uint8_t kFlagContinuation = 0x02;  // header CRC in later gzip, parts in early ones
constexpr std::uint8_t kFlagExtra = 0x04;
constexpr std::uint8_t kFlagName = 0x08;
constexpr std::uint8_t kFlagComment = 0x10;
constexpr std::uint8_t kFlagEncrypted = 0x20;
constexpr std::uint8_t kFlagsUnknown = 0x40;

// A bounded reader over the compressed input: running out is a fact to report,
// never a read past the buffer.
class InputCursor {
public:
    InputCursor(const std::uint8_t* data, std::size_t length) : data_(data), length_(length) {}
    bool Byte(std::uint8_t* value) {
        if (pos_ >= length_) return false;
        *value = data_[pos_++];
        return true;
    }
    bool Skip(std::size_t n) {
        if (length_ - pos_ < n) return false;
        pos_ += n;
        return true;
    }
    bool SkipString() {
        const void* nul = std::memchr(data_ + pos_, 0, length_ - pos_);
        if (nul == nullptr) return false;
        pos_ = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data_) + 1;
        return true;
    }
    const std::uint8_t* Here() const { return data_ + pos_; }
    std::size_t Left() const { return length_ - pos_; }
    void Advance(std::size_t n) { pos_ += n; }

private:
    const std::uint8_t* data_;
    std::size_t length_;
    std::size_t pos_ = 0;
};

void ReportFormatViolated(std::ostream& out, int res) {
    out << "invalid compressed data--format violated, res = " << res << "\n";
}

// Where the decoder writes its window and how flushed windows reach the output.
class OutputSink {
public:
    OutputSink(std::uint8_t* output, std::size_t capacity, std::ostream& out)
        : output_(output), capacity_(capacity), out_(out) {}

    // Room for the next stretch of output. While whole windows still fit, the decoder
    // writes straight into the output, as many whole windows as fit (saving a copy and
    // the decoder's own per-call window upkeep); each of them is a flush that fits.
    // Near the capacity it writes one window at a time into the scratch window, and
    // each flush is checked on its own.
    std::uint8_t* NextWindow(std::size_t* size) {
        const std::size_t room = capacity_ - stored_;
        direct_ = room >= kUnpackWindow;
        if (direct_) {
            constexpr std::size_t kMostAtOnce = 0x40000;  // small enough that the CRC reads cache-warm bytes
            *size = (room < kMostAtOnce ? room : kMostAtOnce) / kUnpackWindow * kUnpackWindow;
            return output_ + stored_;
        }
        if (!scratch_) scratch_.reset(new (std::nothrow) std::uint8_t[kUnpackWindow]);
        *size = kUnpackWindow;
        return scratch_.get();
    }
    bool HasWindow() const { return direct_ || scratch_ != nullptr; }

    void Flush(const std::uint8_t* window, std::size_t n) {
        crc_ = crc32_z(crc_, window, n);
        if (stored_ + n > capacity_) {
            out_ << "error : decompress buffer not enough\n";
            dropped_ = true;
            return;
        }
        if (!direct_ && n > 0) std::memcpy(output_ + stored_, window, n);
        stored_ += n;
    }

    std::uint32_t Crc() const { return static_cast<std::uint32_t>(crc_); }
    std::size_t Stored() const { return stored_; }
    bool Dropped() const { return dropped_; }

private:
    std::uint8_t* output_;
    std::size_t capacity_;
    std::ostream& out_;
    std::unique_ptr<std::uint8_t[]> scratch_;
    bool direct_ = false;
    bool dropped_ = false;   // some output did not fit and is missing
    std::size_t stored_ = 0;
    uLong crc_ = crc32(0L, Z_NULL, 0);
};

// Runs raw inflate over the cursor, flushing every full window and once at the end.
int Inflate(InputCursor& in, OutputSink& sink) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) return kInflateNoMemory;
    zs.next_in = const_cast<Bytef*>(in.Here());
    const std::size_t available = in.Left();
    // The whole entry is in memory; it is handed over in pieces zlib's counters can hold.
    constexpr std::size_t kPiece = 0x40000000;
    std::size_t unfed = available;
    const auto feed = [&] {
        if (zs.avail_in == 0 && unfed > 0) {
            zs.avail_in = static_cast<uInt>(unfed < kPiece ? unfed : kPiece);
            unfed -= zs.avail_in;
        }
    };

    int res = kInflateOk;
    for (;;) {
        std::size_t windowSize = 0;
        std::uint8_t* window = sink.NextWindow(&windowSize);
        if (!sink.HasWindow()) {
            res = kInflateNoMemory;
            break;
        }
        zs.next_out = window;
        zs.avail_out = static_cast<uInt>(windowSize);
        int rc = Z_OK;
        while (zs.avail_out > 0 && rc == Z_OK) {
            feed();
            rc = inflate(&zs, Z_NO_FLUSH);
        }
        const std::size_t produced = windowSize - zs.avail_out;
        if (rc == Z_STREAM_END) {
            sink.Flush(window, produced);
            break;
        }
        if (rc == Z_OK || (rc == Z_BUF_ERROR && zs.avail_out == 0)) {
            sink.Flush(window, produced);  // whole windows
            continue;
        }
        sink.Flush(window, produced);
        if (rc == Z_MEM_ERROR) {
            res = kInflateNoMemory;
        } else if (rc == Z_BUF_ERROR) {
            res = kInflateInputEnded;  // no more input and the last block not reached
        } else if (zs.msg != nullptr && std::strcmp(zs.msg, "invalid block type") == 0) {
            res = kInflateBadBlockType;
        } else {
            res = kInflateBadData;
        }
        break;
    }
    in.Advance(available - unfed - zs.avail_in);
    inflateEnd(&zs);
    return res;
}

}  // namespace

bool GunzipBuffer(const std::uint8_t* input, std::size_t inputLength, std::uint8_t* output,
                  std::size_t capacity, std::size_t* stored, std::ostream& out, std::ostream& err) {
    *stored = 0;
    InputCursor in(input, inputLength);

    std::uint8_t magic0 = 0, magic1 = 0;
    const bool haveMagic = in.Byte(&magic0) && in.Byte(&magic1);
    if (!haveMagic || magic0 != 0x1F || (magic1 != 0x8B && magic1 != 0x9E)) {
        out << "error : not gzip file\n";
        return false;
    }
    std::uint8_t method = 0;
    if (!in.Byte(&method)) {
        ReportFormatViolated(out, kInflateInputEnded);
        return false;
    }
    if (method != 8) return false;

    std::uint8_t flags = 0;
    if (!in.Byte(&flags)) {
        ReportFormatViolated(out, kInflateInputEnded);
        return false;
    }
    if (flags & kFlagEncrypted) {
        out << "gzip : is encrypted -- get newer version of gzip\n";
        return false;
    }
    if (flags & kFlagContinuation) {
        out << "gzip : is a a multi-part gzip file -- get newer version of gzip\n";
        return false;
    }
    if (flags >= kFlagsUnknown) {
        char text[64];
        std::snprintf(text, sizeof text, "gzip : has flags 0x%x -- get newer version of gzip\n", flags);
        out << text;
        return false;
    }
    bool headerComplete = in.Skip(6);  // modification time, extra flags, operating system
    if (headerComplete && (flags & kFlagExtra)) {
        std::uint8_t lo = 0, hi = 0;
        headerComplete = in.Byte(&lo) && in.Byte(&hi) && in.Skip(static_cast<std::size_t>(lo | hi << 8));
    }
    if (headerComplete && (flags & kFlagName)) headerComplete = in.SkipString();
    if (headerComplete && (flags & kFlagComment)) headerComplete = in.SkipString();
    if (!headerComplete) {
        ReportFormatViolated(out, kInflateInputEnded);
        return false;
    }

    OutputSink sink(output, capacity, out);
    const int res = Inflate(in, sink);
    *stored = sink.Stored();
    if (res == kInflateNoMemory) {
        err << "\n" << "out of memory" << "\n";
    } else if (res != kInflateOk) {
        ReportFormatViolated(out, res);
    }

    // The trailer is checked whatever the decoder said, as long as it is there at all.
    if (in.Left() < 8) {
        if (res == kInflateOk) ReportFormatViolated(out, kInflateInputEnded);
        return false;
    }
    const std::uint32_t storedCrc = LoadLe32(in.Here());
    const std::uint32_t storedLength = LoadLe32(in.Here() + 4);
    if (storedCrc != sink.Crc()) {
        out << "invalid compressed data--crc error\n";
        return false;
    }
    if (storedLength != static_cast<std::uint32_t>(sink.Stored())) {
        out << "invalid compressed data--length error\n";
        return false;
    }
    // Matching trailer bytes behind broken data are a coincidence, not a success; so
    // is a stored length that matches only what was kept of output that did not fit.
    return res == kInflateOk && !sink.Dropped();
}

bool UnpackExtendedRom(CFirmwareImage& image, std::ostream& out, std::ostream& err) {
    RandomAccessFile& file = image.ExtRomFile();
    if (!file.Open(image.ExtRomPath(), RandomAccessFile::Mode::CreateReadWrite)) return false;

    const std::int32_t selection = image.ExtendedRomSelection();
    const std::uint32_t size =
        selection == CFirmwareImage::kNoExtendedRom ? 0 : image.ExtendedRomSize(selection);

    // An open handle would keep the clean-up from deleting the file on Windows.
    const auto fail = [&file] {
        file.Close();
        return false;
    };
    if (size == 0) return fail();
    // The size comes from the image's own table: only what the file holds from the
    // entry's offset on is worth a buffer, whatever the table claims.
    const std::uint64_t offset = image.ExtendedRomOffset();
    const std::uint64_t fileLength = image.File().Length();
    const std::uint64_t held = offset < fileLength ? fileLength - offset : 0;
    const std::size_t take = static_cast<std::size_t>(held < size ? held : size);
    std::unique_ptr<std::uint8_t[]> input(new (std::nothrow) std::uint8_t[take]());
    std::unique_ptr<std::uint8_t[]> output(new (std::nothrow) std::uint8_t[kUnpackCapacity]());
    if (!input || !output) return fail();

    std::size_t have = 0;
    if (take > 0 && image.File().Seek(offset)) have = image.File().Read(input.get(), take);

    out << "Gzip decompress\n";
    std::size_t stored = 0;
    // An entry cut short by the end of the file ends where the file ends.
    if (!GunzipBuffer(input.get(), have, output.get(), kUnpackCapacity, &stored, out, err)) return fail();

    const bool written = file.Write(output.get(), stored) == stored && file.Flush();
    file.Close();
    return written;
}

}  // namespace flashwise
