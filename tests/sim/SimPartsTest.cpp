// The pieces the simulated boot loader is built from: telling the unit from its
// section header, and running sums over data that arrives in any pieces.

#include <gtest/gtest.h>

#include <vector>

#include <zlib.h>

#include "sim/SectionHeaderReader.h"
#include "sim/StreamSums.h"

namespace flashwise::sim {
namespace {

struct HeaderCase {
    const char* what;
    std::vector<std::pair<unsigned, std::uint32_t>> words;
    int code;
    std::uint64_t length;
};

TEST(SectionHeaderReader, TellsEveryUnitFromItsSizeWords) {
    const HeaderCase cases[] = {
        {"51, both parts", {{0x14, 780156}, {0x18, 4259840}}, 51, 5039996},
        {"51, second part only", {{0x18, 7}}, 51, 7},
        {"54 whole", {{0x1C, 10}, {0x2C, 20}, {0x3C, 20}}, 54, 30},
        {"54 with only the second part", {{0x2C, 0x100}, {0x3C, 0x100}}, 54, 0x100},
        {"54 of exactly the split length", {{0x2C, kSplitLength}, {0x3C, kSplitLength}}, 54, kSplitLength},
        {"56", {{0x1C, 5}, {0x2C, kSplitLength}, {0x3C, kSplitLength}}, 56, kSplitLength},
        {"56 with no first part", {{0x2C, kSplitLength}, {0x3C, kSplitLength + 1}}, 56, kSplitLength},
        {"57", {{0x1C, 5}, {0x2C, 1}, {0x3C, kSplitLength + 1}, {0x4C, 1}}, 57, 6},
        {"52", {{0x24, 9}}, 52, 9},
        {"53", {{0x28, 11}, {0x38, 11}}, 53, 11},
        {"50", {{0x30, 4}, {0x40, 4}}, 50, 4},
        {"55", {{0x30, 99}, {0x40, 4}}, 55, 99},
        {"nothing", {{0x38, 3}, {0x3C, 2}}, 0, 0},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::uint8_t header[256] = {};
        for (const auto& w : c.words) StoreWord(header + w.first, w.second);
        const HeaderUnit unit = UnitFromHeader(header);
        EXPECT_EQ(unit.code, c.code);
        EXPECT_EQ(unit.dataLength, c.length);
    }
}

TEST(SectionHeaderReader, WordSumSkipsTheFirstFourWords) {
    std::uint8_t header[256] = {};
    for (unsigned i = 0; i < 64; ++i) StoreWord(header + 4 * i, 0x01000000u + i);
    std::uint32_t expected = 0;
    for (unsigned i = 4; i < 64; ++i) expected += 0x01000000u + i;
    EXPECT_EQ(HeaderWordSum(header), expected);
}

TEST(StreamSums, PiecesOfAnySizeGiveTheSumsOfTheWhole) {
    std::vector<std::uint8_t> data(1031);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xF0 + i * 13);
    std::uint32_t bytes = 0, words = 0;
    for (std::uint8_t b : data) bytes += b;
    for (std::size_t i = 0; i + 4 <= data.size(); i += 4) words += LoadWord(data.data() + i);  // tail of 3 left out

    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{5}, std::size_t{1031}}) {
        SCOPED_TRACE(piece);
        StreamSums sums;
        for (std::size_t at = 0; at < data.size(); at += piece)
            sums.Feed(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(sums.ByteSum(), bytes);
        EXPECT_EQ(sums.WordSum(), words);
        EXPECT_EQ(sums.Length(), data.size());
        EXPECT_EQ(sums.Crc32(), Crc32Of(data.data(), data.size()));
    }
    // The known CRC-32 check value.
    const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc32Of(check, sizeof check), 0xCBF43926u);
}

TEST(StreamSums, DigestIsZlibsCrc32AtEveryLengthAndAlignment) {
    // The digest takes a faster road for longer pieces; it must agree with zlib's table
    // code byte for byte, whatever the piece's length and its address.
    std::vector<std::uint8_t> data(70000);
    std::uint32_t seed = 0x12345678u;
    for (auto& b : data) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    const auto zlibCrc = [](std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
        return static_cast<std::uint32_t>(::crc32(crc, p, static_cast<uInt>(n)));
    };
    for (std::size_t at = 0; at < 16; ++at) {
        for (std::size_t n = 0; n < 300; ++n) {
            ASSERT_EQ(Crc32Of(data.data() + at, n), zlibCrc(0, data.data() + at, n)) << "at " << at << " n " << n;
        }
        for (std::size_t n : {std::size_t{4095}, std::size_t{8192}, std::size_t{8199}, std::size_t{69984}}) {
            ASSERT_EQ(Crc32Of(data.data() + at, n), zlibCrc(0, data.data() + at, n)) << "at " << at << " n " << n;
        }
    }
    // Long runs of equal bytes, and a stream fed in pieces that mix both roads.
    const std::vector<std::uint8_t> zeros(8192, 0), ones(8192, 0xFF);
    EXPECT_EQ(Crc32Of(zeros.data(), zeros.size()), zlibCrc(0, zeros.data(), zeros.size()));
    EXPECT_EQ(Crc32Of(ones.data(), ones.size()), zlibCrc(0, ones.data(), ones.size()));
    StreamSums allOnes;   // the byte sum's worst case for its partial sums
    allOnes.Feed(ones.data(), ones.size());
    EXPECT_EQ(allOnes.ByteSum(), 8192u * 0xFF);
    EXPECT_EQ(allOnes.WordSum(), 2048u * 0xFFFFFFFFu);
    StreamSums sums;
    std::size_t at = 0;
    for (std::size_t piece : {std::size_t{7}, std::size_t{64}, std::size_t{63}, std::size_t{8192}, std::size_t{1},
                              std::size_t{129}, std::size_t{50000}}) {
        sums.Feed(data.data() + at, piece);
        at += piece;
    }
    EXPECT_EQ(sums.Crc32(), zlibCrc(0, data.data(), at));
}

}  // namespace
}  // namespace flashwise::sim
