// The MMR coder: code tables, the worked examples as bit strings and bytes,
// a differential test of the run finder, and round trips through libtiff's
// Group 4 decoder.
#include "raster/mmr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "g4_decoder.h"
#include "test_host.h"

namespace varnu::testing {
namespace {

// A bitmap in the coder's row layout.
struct Bitmap {
    std::int32_t width, rows, stride;
    std::vector<std::uint32_t> words;
    Bitmap(std::int32_t w, std::int32_t r)
        : width(w), rows(r), stride(w / 8), words(static_cast<std::size_t>(w / 32) * r) {}
    void Set(std::int32_t x, std::int32_t y) {
        words[static_cast<std::size_t>(y) * (width / 32) + x / 32] |= 0x80000000u >> (x % 32);
    }
    bool Get(std::int32_t x, std::int32_t y) const {
        return words[static_cast<std::size_t>(y) * (width / 32) + x / 32] &
               (0x80000000u >> (x % 32));
    }
    const std::uint8_t* bytes() const {
        return reinterpret_cast<const std::uint8_t*>(words.data());
    }
};

// Output area that grows when a row might not fit.
std::vector<std::uint32_t> Area;
BitWriterState BitWriter;
bool GrowArea(BitWriterState&, std::size_t bytes) {
    const std::size_t used = BitWriter.byteCount;
    Area.resize((BitWriter.capacity + bytes) / 4 * 2 + 16);
    BitWriter.area = reinterpret_cast<std::uint8_t*>(Area.data());
    BitWriter.position = Area.data() + used / 4;
    BitWriter.capacity = Area.size() * 4;
    return true;
}

// Codes a whole bitmap as one band, as the raster output does, starting with
// an output area of `initialBytes` (the raster output's 4 x (stride + 100)
// bytes per row by default).
std::string Encode(const Bitmap& b, std::size_t initialBytes = 0) {
    if (initialBytes == 0) initialBytes = static_cast<std::size_t>(b.rows) * (b.stride + 100) * 4;
    Area.assign(initialBytes / 4 + 1, 0);
    ResetBitWriter(BitWriter, reinterpret_cast<std::uint8_t*>(Area.data()), Area.size() * 4);
    std::vector<std::int32_t> current(RunListEntries(b.width)), reference(RunListEntries(b.width));
    reference[0] = 1;
    reference[1] = reference[2] = b.width;
    EXPECT_EQ(EncodeMmrRows(BitWriter, b.bytes(), b.rows, b.stride, b.width, current.data(),
                            reference.data(), GrowArea),
              0);
    WriteEndOfBlock(BitWriter);
    SwapWordBytes(BitWriter.area, BitWriter.area, BitWriter.byteCount);
    return std::string(reinterpret_cast<const char*>(BitWriter.area), BitWriter.byteCount);
}

std::string Bits(const std::string& bytes, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += (static_cast<unsigned char>(bytes[i / 8]) >> (7 - i % 8)) & 1 ? '1' : '0';
    return out;
}

std::string CodeBits(const mmr::Code& c) {
    std::string out;
    for (std::uint32_t i = 0; i < c.count; ++i) out += (c.bits >> (31 - i)) & 1 ? '1' : '0';
    return out;
}

bool PrefixFree(const std::vector<std::string>& codes) {
    for (std::size_t i = 0; i < codes.size(); ++i)
        for (std::size_t j = 0; j < codes.size(); ++j)
            if (i != j && codes[j].compare(0, codes[i].size(), codes[i]) == 0) return false;
    return true;
}

TEST(MmrTablesTest, CodesArePrefixFreeAndLeftAligned) {
    for (const auto* table : {&mmr::kWhiteRuns, &mmr::kBlackRuns}) {
        std::vector<std::string> codes;
        for (const auto& c : *table) {
            ASSERT_GE(c.count, 2u);
            ASSERT_LE(c.count, 13u);
            ASSERT_EQ(c.bits & ((1u << (32 - c.count)) - 1), 0u);  // nothing below the code
            codes.push_back(CodeBits(c));
        }
        EXPECT_TRUE(PrefixFree(codes));
    }
    std::vector<std::string> modes = {CodeBits(mmr::kPass), CodeBits(mmr::kHorizontal)};
    for (const auto& v : mmr::kVertical) modes.push_back(CodeBits(v));
    EXPECT_TRUE(PrefixFree(modes));
    EXPECT_EQ(CodeBits(mmr::kWhiteRuns[3]), "1000");
    EXPECT_EQ(CodeBits(mmr::kBlackRuns[3]), "10");
    EXPECT_EQ(CodeBits(mmr::kWhiteRuns[63 + 40]), "000000011111");  // 2560
    EXPECT_EQ(CodeBits(mmr::kBlackRuns[64]), "0000001111");         // black 64
    EXPECT_EQ(CodeBits(mmr::kEndOfLine), "000000000001");
}

TEST(MmrTest, OneRowWorkedExample) {
    Bitmap b(64, 1);
    for (int x : {3, 4, 5}) b.Set(x, 0);
    std::vector<std::int32_t> list(RunListEntries(64));
    FindChangingElements(b.words.data(), 64, list.data());
    EXPECT_EQ(std::vector<std::int32_t>(list.begin(), list.begin() + 5),
              (std::vector<std::int32_t>{2, 3, 6, 64, 64}));
    const std::string coded = Encode(b);
    EXPECT_EQ(Bits(coded, 34), "0011000101000000000001000000000001");
    EXPECT_EQ(Hex(coded), "31 40 04 00 40 00");
}

TEST(MmrTest, AllWhiteBandIsOneBitPerRow) {
    EXPECT_EQ(Hex(Encode(Bitmap(64, 8))), "FF 00 10 01");
    EXPECT_EQ(Hex(Encode(Bitmap(1216, 8))), "FF 00 10 01");
}

TEST(MmrTest, LongRunsUseTheExtendedMakeUpCodes) {
    std::uint32_t area[8] = {};
    ResetBitWriter(BitWriter, reinterpret_cast<std::uint8_t*>(area), sizeof area);
    WriteRunLength(BitWriter, mmr::kWhiteRuns, 2560);
    WriteRunLength(BitWriter, mmr::kWhiteRuns, 2624);
    WriteRunLength(BitWriter, mmr::kBlackRuns, 5200);  // 2 x 2560, then 64, then 16
    WriteEndOfBlock(BitWriter);
    SwapWordBytes(area, area, BitWriter.byteCount);
    const std::string bytes(reinterpret_cast<char*>(area), BitWriter.byteCount);
    EXPECT_EQ(Bits(bytes, 12 + 8 + 12 + 5 + 8 + 12 + 12 + 10 + 10),
              "000000011111"
              "00110101"
              "000000011111"
              "11011"
              "00110101"
              "000000011111"
              "000000011111"
              "0000001111"
              "0000010111");
}

TEST(MmrTest, LastPartialWordCountsTwoOrFourBytes) {
    // n one-bits, then EOFB (24 bits): the last word's used bits decide.
    auto coded = [](int n) {
        std::uint32_t area[8] = {};
        ResetBitWriter(BitWriter, reinterpret_cast<std::uint8_t*>(area), sizeof area);
        for (int i = 0; i < n; ++i) WriteBits(BitWriter, 0x80000000u, 1);
        WriteEndOfBlock(BitWriter);
        return BitWriter.byteCount;
    };
    EXPECT_EQ(coded(8), 4u);        // 32 bits: one word, nothing left
    EXPECT_EQ(coded(9), 4u + 2u);   // 1 bit left
    EXPECT_EQ(coded(23), 4u + 2u);  // 15 bits left
    EXPECT_EQ(coded(24), 4u + 4u);  // exactly 16 bits left: 16 data and 16 zero bits
    EXPECT_EQ(coded(39), 4u + 4u);  // 31 bits left
    EXPECT_EQ(coded(40), 8u);       // 64 bits: two words
}

TEST(MmrTest, RowStartsAgainstBlackAndWhiteReferences) {
    Bitmap b(64, 2);
    for (int x = 0; x < 10; ++x) b.Set(x, 0), b.Set(x, 1);
    const std::string coded = Encode(b);
    // Row 0 under white: horizontal, white 0, black 10, then V(0) at W.
    // Row 1 under row 0: V(0) at 0, V(0) at 10, V(0) at W.
    EXPECT_EQ(Bits(coded, 3 + 8 + 7 + 1 + 3),
              "001"
              "00110101"
              "0000100"
              "1"
              "111");
}

TEST(MmrTest, LastPixelOnlyRowUsesVerticalModes) {
    Bitmap b(64, 1);
    b.Set(63, 0);
    EXPECT_EQ(Bits(Encode(b), 4), "0101");
}

// Reference scan, pixel by pixel.
std::vector<std::int32_t> SlowRuns(const Bitmap& b, std::int32_t y) {
    std::vector<std::int32_t> runs;
    bool black = false;
    for (std::int32_t x = 0; x < b.width; ++x) {
        if (b.Get(x, y) != black) {
            runs.push_back(x);
            black = !black;
        }
    }
    if (black) runs.push_back(b.width);
    runs.push_back(b.width);
    runs.push_back(b.width);
    runs.insert(runs.begin(), static_cast<std::int32_t>(runs.size() / 2));
    return runs;
}

TEST(MmrTest, RunFinderMatchesAPixelScan) {
    std::mt19937 rng(7);
    for (std::int32_t width : {32, 64, 96, 160, 1216}) {
        Bitmap b(width, 400);
        for (std::int32_t y = 0; y < b.rows; ++y) {
            // Runs with boundaries around word edges, whole-word runs, noise.
            const int kind = y % 4;
            for (std::int32_t x = 0; x < width; ++x) {
                bool on = false;
                if (kind == 0) on = (x / (1 + y % 40)) % 2 == 1;
                if (kind == 1) on = (x % 32) >= 31 - y % 3 || (x % 32) <= y % 3;
                if (kind == 2) on = rng() % 3 == 0;
                if (kind == 3) on = x >= 32 * (y % 3) && x < width - 32 * (y % 2);
                if (on) b.Set(x, y);
            }
            std::vector<std::int32_t> list(RunListEntries(width));
            const std::int32_t pairs = FindChangingElements(
                &b.words[static_cast<std::size_t>(y) * (width / 32)], width, list.data());
            const auto slow = SlowRuns(b, y);
            ASSERT_EQ(std::vector<std::int32_t>(list.begin(), list.begin() + 1 + 2 * pairs), slow)
                << width << " " << y;
        }
    }
    // The all-ones word.
    Bitmap full(64, 1);
    for (int x = 0; x < 64; ++x) full.Set(x, 0);
    std::vector<std::int32_t> list(RunListEntries(64));
    FindChangingElements(full.words.data(), 64, list.data());
    EXPECT_EQ(std::vector<std::int32_t>(list.begin(), list.begin() + 5),
              (std::vector<std::int32_t>{2, 0, 64, 64, 64}));
}

void ExpectRoundTrip(const Bitmap& b, std::size_t initialBytes = 0) {
    const std::string coded = Encode(b, initialBytes);
    const auto decoded = DecodeGroup4(coded, b.width, b.rows);
    ASSERT_FALSE(decoded.empty()) << "libtiff could not decode " << b.width << " x " << b.rows;
    ASSERT_EQ(decoded, PackRows(b.bytes(), b.width, b.rows, b.stride))
        << b.width << " x " << b.rows;
}

TEST(MmrRoundTripTest, RandomBitmapsOfManyWidthsAndDensities) {
    std::mt19937 rng(1234);
    for (std::int32_t width : {32, 64, 128, 224, 1024, 2592, 5216}) {
        for (int density : {0, 1, 5, 50, 95, 100}) {
            Bitmap b(width, 37);
            for (std::int32_t y = 0; y < b.rows; ++y)
                for (std::int32_t x = 0; x < width; ++x)
                    if (static_cast<int>(rng() % 100) < density) b.Set(x, y);
            ExpectRoundTrip(b);
        }
        // Long runs with correlated rows: exercises pass and vertical modes.
        Bitmap shapes(width, 64);
        for (std::int32_t y = 0; y < shapes.rows; ++y)
            for (std::int32_t x = 0; x < width; ++x)
                if (((x + 3 * y) / 17) % 3 == 0 || (x * x + y * y) % 977 < 200) shapes.Set(x, y);
        ExpectRoundTrip(shapes);
    }
}

TEST(MmrRoundTripTest, DitheredGradient) {
    static const int kMatrix[4][4] = {
        {1, 9, 3, 11}, {13, 5, 15, 7}, {4, 12, 2, 10}, {16, 8, 14, 6}};
    Bitmap b(2048, 96);
    for (std::int32_t y = 0; y < b.rows; ++y)
        for (std::int32_t x = 0; x < b.width; ++x)
            if (x * 17 / b.width >= kMatrix[y % 4][x % 4]) b.Set(x, y);
    ExpectRoundTrip(b);
}

TEST(MmrRoundTripTest, AlternatingPixelsUnderWhiteRowsNeverOverrunTheArea) {
    // The worst case: single-pixel runs below white rows code to 6 bits per
    // pixel, more than the 4 x (stride + 100) bytes per row of the raster
    // output's area. The area grows instead of being overrun.
    Bitmap b(4096, 64);
    for (std::int32_t y = 0; y < b.rows; y += 2)
        for (std::int32_t x = (y / 2) % 2; x < b.width; x += 2) b.Set(x, y);
    const std::size_t nominal = static_cast<std::size_t>(b.rows) * (b.stride + 100) * 4;
    const std::string coded = Encode(b, nominal);
    EXPECT_GT(coded.size(), nominal / 2);  // far beyond 4 bits per pixel on the odd rows
    ExpectRoundTrip(b, nominal);
    // From a tiny area too.
    ExpectRoundTrip(b, 16);
}

TEST(MmrTest, WithoutRoomAndNoWayToGrowTheCoderStops) {
    Bitmap b(64, 4);
    std::uint32_t area[4] = {};
    ResetBitWriter(BitWriter, reinterpret_cast<std::uint8_t*>(area), sizeof area);
    std::vector<std::int32_t> current(RunListEntries(64)), reference(RunListEntries(64));
    reference[0] = 1;
    reference[1] = reference[2] = 64;
    EXPECT_EQ(
        EncodeMmrRows(BitWriter, b.bytes(), 4, 8, 64, current.data(), reference.data(), nullptr),
        -1);
}

}  // namespace
}  // namespace varnu::testing
