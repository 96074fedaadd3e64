// Unpacking of extended-ROM entries: the gzip framing, the capacity, the trailer
// checks and the texts they print, on streams made by the system's gzip.

#include <gtest/gtest.h>

#include <sstream>

#include "image/ExtendedRomUnpacker.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchFolder.h"

namespace flashwise {
namespace {

struct Outcome {
    bool ok = false;
    std::size_t stored = 0;
    std::string out;
    std::string err;
    std::vector<std::uint8_t> data;
};

Outcome Gunzip(const std::vector<std::uint8_t>& stream, std::size_t capacity = kUnpackCapacity) {
    Outcome o;
    std::vector<std::uint8_t> output(capacity, 0);
    std::ostringstream out, err;
    o.ok = GunzipBuffer(stream.data(), stream.size(), output.data(), capacity, &o.stored, out, err);
    o.out = out.str();
    o.err = err.str();
    o.data.assign(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(o.stored));
    return o;
}

const std::string kFormat4 = "invalid compressed data--format violated, res = 4\n";

TEST(Gunzip, StreamsOfTheGzipToolWithAndWithoutName) {
    const auto plain = test::SampleData(200000, 3);
    const auto bare = test::GzipWithTool(plain, "-n");
    const auto named = test::GzipWithTool(plain, "", "rom_part.bin");
    ASSERT_EQ(bare[3] & 0x08, 0);       // no name field
    ASSERT_EQ(named[3] & 0x08, 0x08);   // name field present
    for (const auto* stream : {&bare, &named}) {
        const Outcome o = Gunzip(*stream);
        EXPECT_TRUE(o.ok) << o.out;
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.data, plain);
    }
    // Empty content: a valid stream with no output at all.
    const Outcome empty = Gunzip(test::GzipWithTool({}, "-n"));
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.stored, 0u);
}

TEST(Gunzip, OptionalFieldsAreSkippedAndTheOldMagicAccepted) {
    const auto plain = test::SampleData(3000, 4);
    const auto bare = test::GzipWithTool(plain, "-n");
    // Rebuild the header with an extra field and a comment, and the older magic 1F 9E.
    std::vector<std::uint8_t> s(bare.begin(), bare.begin() + 10);
    s[1] = 0x9E;
    s[3] = 0x04 | 0x10 | 0x01;  // extra, comment, and the ignored text bit
    s.insert(s.end(), {3, 0, 'a', 0, 'b'});
    s.insert(s.end(), {'n', 'o', 't', 'e', 0});
    s.insert(s.end(), bare.begin() + 10, bare.end());
    const Outcome o = Gunzip(s);
    EXPECT_TRUE(o.ok) << o.out;
    EXPECT_EQ(o.data, plain);
}

TEST(Gunzip, RefusedHeaders) {
    const auto good = test::GzipWithTool(test::SampleData(1000, 8), "-n");
    const auto withFlags = [&](std::uint8_t flags) {
        auto s = good;
        s[3] = flags;
        return s;
    };
    auto notGzip = good;
    notGzip[1] = 0x8C;
    EXPECT_EQ(Gunzip(notGzip).out, "error : not gzip file\n");
    EXPECT_EQ(Gunzip({0x1F}).out, "error : not gzip file\n");

    auto method = good;
    method[2] = 7;
    const Outcome m = Gunzip(method);
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.out, "");

    // Header CRC (a real stream with the flag and its two bytes added) is refused.
    auto hcrc = withFlags(0x02);
    hcrc.insert(hcrc.begin() + 10, {0x12, 0x34});
    const Outcome h = Gunzip(hcrc);
    EXPECT_FALSE(h.ok);
    EXPECT_EQ(h.out, "gzip : is a a multi-part gzip file -- get newer version of gzip\n");

    // The flag tests run in their order: encryption before parts before unknown bits.
    EXPECT_EQ(Gunzip(withFlags(0x20)).out, "gzip : is encrypted -- get newer version of gzip\n");
    EXPECT_EQ(Gunzip(withFlags(0x22)).out, "gzip : is encrypted -- get newer version of gzip\n");
    EXPECT_EQ(Gunzip(withFlags(0x42)).out, "gzip : is a a multi-part gzip file -- get newer version of gzip\n");
    EXPECT_EQ(Gunzip(withFlags(0x40)).out, "gzip : has flags 0x40 -- get newer version of gzip\n");
    EXPECT_EQ(Gunzip(withFlags(0xE1)).out, "gzip : is encrypted -- get newer version of gzip\n");
    EXPECT_EQ(Gunzip(withFlags(0x99)).out, "gzip : has flags 0x99 -- get newer version of gzip\n");
    for (std::uint8_t f : {0x20, 0x02, 0x40, 0x99}) EXPECT_FALSE(Gunzip(withFlags(f)).ok);
}

TEST(Gunzip, CapacityExactlyFitsAndOneByteOverFails) {
    const std::vector<std::uint8_t> exact(kUnpackCapacity, 0x5A);
    const Outcome fits = Gunzip(test::GzipWithTool(exact, "-n"));
    EXPECT_TRUE(fits.ok) << fits.out;
    EXPECT_EQ(fits.stored, kUnpackCapacity);
    EXPECT_EQ(fits.data, exact);

    std::vector<std::uint8_t> over(kUnpackCapacity + 1, 0x5A);
    const Outcome o = Gunzip(test::GzipWithTool(over, "-n"));
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.out, "error : decompress buffer not enough\ninvalid compressed data--length error\n");
    EXPECT_EQ(o.stored, kUnpackCapacity);

    // A capacity that is no whole number of windows: the last window is checked on
    // its own and fits when the total does.
    const auto small = test::SampleData(40000, 14);
    const auto smallStream = test::GzipWithTool(small, "-n");
    const Outcome part = Gunzip(smallStream, 40000);
    EXPECT_TRUE(part.ok) << part.out;
    EXPECT_EQ(part.data, small);
    EXPECT_EQ(Gunzip(smallStream, 39999).out,
              "error : decompress buffer not enough\ninvalid compressed data--length error\n");

    // Every window that does not fit is reported: 32 KiB + 1 byte over gives two.
    std::vector<std::uint8_t> further(kUnpackCapacity + kUnpackWindow + 1, 0x5A);
    EXPECT_EQ(Gunzip(test::GzipWithTool(further, "-n")).out,
              "error : decompress buffer not enough\nerror : decompress buffer not enough\n"
              "invalid compressed data--length error\n");

    // A stream whose length word counts only what fits (a wrong length, or one that
    // wrapped past 4 GiB) passes the length check, but output is missing: a failure.
    // With room for 30000 bytes, the first window (32 KiB) is dropped and the last
    // (7232 bytes) kept.
    auto kept = smallStream;
    kept[kept.size() - 4] = 7232 & 0xFF;
    kept[kept.size() - 3] = 7232 >> 8;
    kept[kept.size() - 2] = 0;
    kept[kept.size() - 1] = 0;
    const Outcome missing = Gunzip(kept, 30000);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.stored, 7232u);
    EXPECT_EQ(missing.out, "error : decompress buffer not enough\n");
}

TEST(Gunzip, CorruptedTrailer) {
    const auto plain = test::SampleData(70000, 10);
    const auto good = test::GzipWithTool(plain, "-n");
    auto firstByte = good;
    firstByte[good.size() - 8] ^= 0x01;
    const Outcome c = Gunzip(firstByte);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.out, "invalid compressed data--crc error\n");
    auto lastByte = good;
    lastByte[good.size() - 1] ^= 0x01;
    const Outcome l = Gunzip(lastByte);
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.out, "invalid compressed data--length error\n");
    // The data itself was good: it was all stored.
    EXPECT_EQ(l.data, plain);
}

TEST(Gunzip, TruncatedInputNeverReadsPastTheEnd) {
    const auto good = test::GzipWithTool(test::SampleData(20000, 11), "", "named_entry.bin");
    // Header (inside the name), DEFLATE data, and trailer cuts. The copies are exactly as
    // long as the cut, so a read past the end would show under the address sanitizer.
    for (std::size_t keep : {std::size_t{2}, std::size_t{3}, std::size_t{9}, std::size_t{14},
                             good.size() / 2, good.size() - 9, good.size() - 8, good.size() - 1}) {
        SCOPED_TRACE(keep);
        const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(keep));
        const Outcome o = Gunzip(cut);
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.out, kFormat4);
    }
}

TEST(Gunzip, MalformedDeflateData) {
    auto s = test::GzipWithTool(test::SampleData(1000, 12), "-n");
    // First block header: final bit set, block type 3 (reserved).
    s[10] = 0x07;
    const Outcome t = Gunzip(s);
    EXPECT_FALSE(t.ok);
    // The trailer checks still run on what follows where the decoder stopped.
    EXPECT_EQ(t.out.rfind("invalid compressed data--format violated, res = 2\n", 0), 0u) << t.out;

    // A stored block whose length check fails is other malformed data.
    std::vector<std::uint8_t> stored(s.begin(), s.begin() + 10);
    stored.insert(stored.end(), {0x01, 0x05, 0x00, 0x00, 0x00, 'h', 'e', 'l', 'l', 'o'});
    stored.insert(stored.end(), 8, 0);
    const Outcome b = Gunzip(stored);
    EXPECT_FALSE(b.ok);
    EXPECT_EQ(b.out.rfind("invalid compressed data--format violated, res = 1\n", 0), 0u) << b.out;
}

TEST(UnpackExtendedRom, WritesTheEntryToExtRomTmp) {
    test::ScratchFolder dir;
    const auto plain = test::SampleData(123457, 13);
    const auto entry = test::GzipWithTool(plain, "");
    auto bytes = test::MakeHeader();
    test::PutWord(bytes, 0x44, 256);  // table right after the header, entry 0 after it
    bytes.resize(256 + 2048, 0);
    test::PutWord(bytes, 256 + 196, 2048);
    test::PutWord(bytes, 256 + 200, static_cast<std::uint32_t>(entry.size()));
    bytes.insert(bytes.end(), entry.begin(), entry.end());
    test::WriteFile(dir / "x.abi", bytes);

    CFirmwareImage image{WorkFolder(dir.Path())};
    ASSERT_TRUE(image.OpenImage(dir / "x.abi"));
    std::ostringstream out, err;
    // No selection: nothing to unpack, the created file is left empty and closed.
    test::WriteFile(dir / "ExtRom.tmp", {1, 2, 3});
    EXPECT_FALSE(UnpackExtendedRom(image, out, err));
    EXPECT_EQ(std::filesystem::file_size(dir / "ExtRom.tmp"), 0u);
    EXPECT_FALSE(image.ExtRomFile().IsOpen());
    EXPECT_EQ(out.str(), "");

    image.SelectExtendedRom(1);
    EXPECT_EQ(image.ExtendedRomOffset(), 256u + 2048u);
    EXPECT_TRUE(UnpackExtendedRom(image, out, err));
    EXPECT_EQ(out.str(), "Gzip decompress\n");
    EXPECT_EQ(test::ReadFile(dir / "ExtRom.tmp"), plain);
    EXPECT_FALSE(image.ExtRomFile().IsOpen());

    // An entry whose size runs past the end of the file ends where the file does.
    image.CloseImage();
    test::PutWord(bytes, 256 + 200, static_cast<std::uint32_t>(entry.size() + 100));
    test::WriteFile(dir / "x.abi", bytes);
    ASSERT_TRUE(image.OpenImage(dir / "x.abi"));
    image.SelectExtendedRom(1);
    std::ostringstream out2;
    EXPECT_TRUE(UnpackExtendedRom(image, out2, err));
    EXPECT_EQ(test::ReadFile(dir / "ExtRom.tmp"), plain);
    // So does one whose size claims 4 GiB: the buffer is what the file holds, not what
    // the table claims (this test runs with allocations over 512 MiB refused).
    image.CloseImage();
    test::PutWord(bytes, 256 + 200, 0xFFFFFFFFu);
    test::WriteFile(dir / "x.abi", bytes);
    ASSERT_TRUE(image.OpenImage(dir / "x.abi"));
    image.SelectExtendedRom(1);
    EXPECT_TRUE(UnpackExtendedRom(image, out2, err));
    EXPECT_EQ(test::ReadFile(dir / "ExtRom.tmp"), plain);

    // A folder that does not exist: the file cannot be created.
    CFirmwareImage elsewhere{WorkFolder(dir / "no")};
    ASSERT_TRUE(elsewhere.OpenImage(dir / "x.abi"));
    elsewhere.SelectExtendedRom(1);
    EXPECT_FALSE(UnpackExtendedRom(elsewhere, out2, err));
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

}  // namespace
}  // namespace flashwise
