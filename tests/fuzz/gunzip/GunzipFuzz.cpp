// A gzip stream as the extended-ROM unpacker takes it: the framing, the flags, the
// DEFLATE body, the trailer and the output cap. The first input byte picks the cap:
// the real 10 MiB, or a small one so that the cap is reached often. A stream the
// unpacker accepts must be one that zlib's own gzip reader accepts with the same bytes.

#include <zlib.h>

#include <cstring>
#include <memory>
#include <vector>

#include "image/ExtendedRomUnpacker.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using namespace flashwise;

std::uint8_t* Output() {
    static const std::unique_ptr<std::uint8_t[]> output(new std::uint8_t[kUnpackCapacity]);
    return output.get();
}

// The first member of a gzip stream as zlib decodes it; false when zlib refuses it.
bool ZlibGunzip(const std::uint8_t* input, std::size_t length, std::vector<std::uint8_t>* out) {
    z_stream zs{};
    if (inflateInit2(&zs, 15 + 16) != Z_OK) return false;
    zs.next_in = const_cast<Bytef*>(input);
    zs.avail_in = static_cast<uInt>(length);
    std::uint8_t piece[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = piece;
        zs.avail_out = sizeof piece;
        rc = inflate(&zs, Z_NO_FLUSH);
        out->insert(out->end(), piece, piece + (sizeof piece - zs.avail_out));
    }
    inflateEnd(&zs);
    return rc == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    const std::uint8_t pick = in.Byte();
    const std::size_t capacity = (pick & 1) ? kUnpackCapacity : static_cast<std::size_t>(pick) * 512;
    const std::uint8_t* stream = in.Rest();
    const std::size_t length = in.Left();

    fuzz::NullStream quiet;
    std::size_t stored = 0;
    const bool ok = GunzipBuffer(stream, length, Output(), capacity, &stored, quiet, quiet);
    FUZZ_CHECK(stored <= capacity);
    if (!ok) return 0;

    // Accepted: zlib's gzip reader (which knows only the newer magic) gets the same bytes.
    if (stream[1] == 0x8B) {
        std::vector<std::uint8_t> expected;
        FUZZ_CHECK(ZlibGunzip(stream, length, &expected));
        FUZZ_CHECK(expected.size() == stored);
        FUZZ_CHECK(stored == 0 || std::memcmp(expected.data(), Output(), stored) == 0);
    }
    return 0;
}
