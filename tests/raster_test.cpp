// Raster output: dither, page buffer, bands and their framing, and whole
// image requests in both data modes, checked byte for byte and through
// libtiff's Group 4 decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "config/config_record.h"
#include "config/page_geometry.h"
#include "config/tone_curve.h"
#include "g4_decoder.h"
#include "image_host.h"
#include "interface/host_services.h"
#include "interface/memory.h"
#include "interface/output_buffer.h"
#include "job/job.h"
#include "job/requests.h"
#include "modes/data_mode.h"
#include "plot_session.h"
#include "raster/dither.h"
#include "raster/image_request.h"
#include "raster/raster_output.h"
#include "test_host.h"
#include "varnu/byte_order.h"
#include "varnu/headless_dialogs.h"
#include "varnu/threshold_matrix.h"

namespace varnu::testing {
namespace {

std::size_t Count(const std::string& haystack, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1))
        ++n;
    return n;
}

// The expected device pixel, straight from the threshold table.
bool ExpectedBlack(int level, int x, int y) {
    return level == 255 || (level != 0 && level >= ThresholdMatrix[y % 16][x % 16]);
}

int LevelOf(int r, int g, int b) {
    return 255 - Configuration.ToneCurve[(30 * r + 59 * g + 11 * b) / 100];
}

// A colour test image: a gradient with some structure.
std::string ColourLine(std::int32_t y, std::int32_t pixels) {
    std::string s;
    for (std::int32_t x = 0; x < pixels; ++x) {
        s += static_cast<char>((x * 7 + y) & 255);
        s += static_cast<char>((x / 3 + 2 * y) & 255);
        s += static_cast<char>(x % 2 ? 0 : 255);
    }
    return s;
}

// An RTL image's raster: the width it announces (the window's for an opaque
// image, W for a transparent one), its height, and its blocks.
struct RtlBand {
    std::int32_t width = 0, rows = 0;  // W as the block states it; its rows
    std::string coded;
};
struct RtlRaster {
    std::int32_t shown = 0, rows = 0;
    std::vector<RtlBand> bands;
};

// The rows of each block: one block holds them all, several are bands of
// 32 x ceil(rows / 32 / 32) rows and the rest.
std::vector<RtlRaster> RtlRasters(const std::string& s) {
    std::vector<RtlRaster> rasters;
    for (std::size_t at = s.find("\x1b*r"); at != std::string::npos; at = s.find("\x1b*r", at)) {
        RtlRaster raster;
        if (std::sscanf(s.c_str() + at, "\x1b*r%dS\x1b*r%dT", &raster.shown, &raster.rows) != 2) {
            ++at;
            continue;
        }
        const std::size_t end = s.find("\x1b*rC", at);
        at = s.find("\x1b*b8M", at) + 5;
        for (int n = 0; (at = s.find("\x1b*b", at)) < end &&
                        std::sscanf(s.c_str() + at, "\x1b*b%dW", &n) == 1;) {
            at = s.find('W', at) + 1;
            RtlBand band;
            band.width =
                static_cast<std::int32_t>(__builtin_bswap32(LoadLe<std::uint32_t>(s.data(), at)));
            band.coded = s.substr(at + 4, static_cast<std::size_t>(n - 4));
            raster.bands.push_back(band);
            at += static_cast<std::size_t>(n);
        }
        const std::int32_t q = raster.rows / 32, bandRows = 32 * ((q + 31) / 32);
        for (std::size_t i = 0; i < raster.bands.size(); ++i)
            raster.bands[i].rows = raster.bands.size() == 1 ? raster.rows
                                   : i + 1 < raster.bands.size()
                                       ? bandRows
                                       : raster.rows - bandRows * static_cast<std::int32_t>(i);
        rasters.push_back(raster);
    }
    return rasters;
}

// The blocks of every raster in a stream.
std::vector<RtlBand> RtlBands(const std::string& s) {
    std::vector<RtlBand> bands;
    for (const RtlRaster& raster : RtlRasters(s))
        bands.insert(bands.end(), raster.bands.begin(), raster.bands.end());
    return bands;
}

class RasterTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        ImageHost::Get().Reset();
        HeadlessMessageBoxes().clear();
    }
    void TearDown() override {
        FailAllocationsAfterForTesting(-1);
        ReleaseRasterBuffers();
    }
};

TEST_F(RasterTest, DitherMasksFollowTheThresholds) {
    BuildDitherMasks();
    for (int r = 0; r < 16; ++r) {
        EXPECT_EQ(Image.DitherMasks[r][0], 0);
        EXPECT_EQ(Image.DitherMasks[r][255], 0xFFFF);
    }
    int white254 = 0, black85 = 0;
    for (int r = 0; r < 16; ++r) {
        white254 += 16 - __builtin_popcount(Image.DitherMasks[r][254]);
        black85 += __builtin_popcount(Image.DitherMasks[r][85]);
    }
    EXPECT_EQ(white254, 2);  // the cells holding 255 and 256
    EXPECT_EQ(black85, 85);

    // (200, 100, 50): grey 124, 170 through the default curve, level 85.
    applyConfigDefaults(0);
    EXPECT_EQ(LevelOf(200, 100, 50), 85);
    EXPECT_EQ(Image.DitherMasks[0][85], 0xA8A8);  // x % 16 = 0, 2, 4, 8, 10, 12
}

TEST_F(RasterTest, FastAndPortableDitherAgreeWithThePixelRule) {
    applyConfigDefaults(0);
    BuildDitherMasks();
    std::mt19937 rng(99);
    std::vector<std::uint8_t> levels(32 * 40);
    for (int y = 0; y < 48; ++y) {
        for (std::size_t i = 0; i < levels.size(); ++i) {
            // Random levels, with runs of the extremes and their neighbours.
            const int pick = static_cast<int>(rng() % 8);
            levels[i] = static_cast<std::uint8_t>(pick == 0   ? 0
                                                  : pick == 1 ? 255
                                                  : pick == 2 ? 254
                                                  : pick == 3 ? 1
                                                              : rng() % 256);
        }
        std::vector<std::uint32_t> fast(40), portable(40);
        DitherWords(levels.data(), 40, y, fast.data());
        DitherWordsPortable(levels.data(), 40, y, portable.data());
        ASSERT_EQ(fast, portable) << y;
        for (int x = 0; x < 32 * 40; ++x)
            ASSERT_EQ(static_cast<bool>(fast[x / 32] & (0x80000000u >> (x % 32))),
                      ExpectedBlack(levels[x], x, y))
                << x;
    }
}

TEST_F(RasterTest, FastAndPortableOneColourTestsAgree) {
    std::vector<std::uint8_t> bytes(3 * 40);
    for (std::int32_t pixels = 1; pixels <= 40; ++pixels) {
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i % 3);
        ASSERT_TRUE(OneColour(bytes.data(), pixels)) << pixels;
        ASSERT_TRUE(OneColourPortable(bytes.data(), pixels)) << pixels;
        // Any one byte of any pixel changed, and a byte just past the end.
        for (std::int32_t at = 0; at <= 3 * pixels && at < static_cast<int>(bytes.size()); ++at) {
            bytes[at] ^= 0x40;
            const bool expected = at == 3 * pixels || pixels == 1;
            ASSERT_EQ(OneColour(bytes.data(), pixels), expected) << pixels << " " << at;
            ASSERT_EQ(OneColourPortable(bytes.data(), pixels), expected) << pixels << " " << at;
            bytes[at] ^= 0x40;
        }
    }
}

// A colour line of runs: paper, fills of one colour at any length and
// offset, strokes of one colour over paper, and noise, so that words are
// whole runs, parts of them, two colours or mixed.
std::vector<std::uint8_t> RunsLine(std::mt19937& rng, std::int32_t pixels) {
    std::vector<std::uint8_t> line(3 * static_cast<std::size_t>(pixels));
    for (std::int32_t x = 0; x < pixels;) {
        const std::int32_t run = 1 + static_cast<std::int32_t>(rng() % (rng() % 4 == 0 ? 200 : 40));
        const int kind = static_cast<int>(rng() % 5);
        const std::uint8_t r = static_cast<std::uint8_t>(rng()),
                           g = static_cast<std::uint8_t>(rng()),
                           b = static_cast<std::uint8_t>(rng());
        for (std::int32_t k = 0; k < run && x < pixels; ++k, ++x) {
            std::uint8_t* p = &line[3 * static_cast<std::size_t>(x)];
            if (kind == 0 || (kind == 4 && k % 7 > 1)) {  // paper; strokes over paper
                p[0] = p[1] = p[2] = 255;
            } else if (kind == 3) {
                for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(rng());
            } else {
                p[0] = r, p[1] = g, p[2] = b;
            }
        }
    }
    return line;
}

TEST_F(RasterTest, FastAndPortableColourLinesAgreeWithThePixelRule) {
    applyConfigDefaults(0);
    // A tone curve of its own, so that white paper has a level above 0.
    for (int g = 0; g < 256; ++g)
        Configuration.ToneCurve[g] = static_cast<std::uint8_t>(g < 250 ? g * 9 / 10 : 200);
    constexpr std::int32_t kPixels = 1000;
    ASSERT_TRUE(PrepareRaster(kPixels, 1, DataMode::kRtlGl2, 0, 0, 0, 1, false));
    BuildDitherMasks();
    const std::int32_t words = Image.RasterState.width / 32;
    std::mt19937 rng(7);
    for (int trial = 0; trial < 300; ++trial) {
        const auto line = RunsLine(rng, kPixels);
        // Lines cut short (padded white) as well as whole ones.
        const std::int32_t count =
            trial % 3 == 0 ? static_cast<std::int32_t>(rng() % (kPixels + 1)) : kPixels;
        const std::int32_t y = trial % 37;
        std::vector<std::uint32_t> fast(words, 0xDEADBEEF), portable(words, 0x12345678);
        DitherColourLine(line.data(), count, y, fast.data());
        DitherColourLinePortable(line.data(), count, y, portable.data());
        ASSERT_EQ(fast, portable) << trial;
        for (std::int32_t x = 0; x < 32 * words; ++x) {
            const int level = x < count ? LevelOf(line[3 * x], line[3 * x + 1], line[3 * x + 2])
                                        : LevelOf(255, 255, 255);
            ASSERT_EQ(static_cast<bool>(fast[x / 32] & (0x80000000u >> (x % 32))),
                      ExpectedBlack(level, x, y))
                << trial << " " << x;
        }
    }
    ReleaseRasterBuffers();
}

// Collects an image of `rows` lines through the raster output directly.
std::string RunRaster(std::int32_t pixels, std::int32_t rows, DataMode mode, std::uint16_t code,
                      const std::function<std::string(std::int32_t)>& line,
                      std::int32_t replication = 1, std::int32_t transparent = 0) {
    SelectResolution(code, mode);
    EXPECT_TRUE(PrepareRaster(pixels, rows, mode, transparent, 100, 200, replication, false));
    BeginRaster();
    for (std::int32_t y = 0; y < rows; ++y) {
        const std::string bytes = line(y);
        AddImageLine(static_cast<std::int32_t>(bytes.size() / 3),
                     reinterpret_cast<const std::uint8_t*>(bytes.data()), false, 0, 0, 0);
    }
    EncodeAndSendBands();
    EndRaster();
    return TestHost::Get().Output();
}

TEST_F(RasterTest, RtlFramingOfOneBand) {
    applyConfigDefaults(0);
    const std::string out = RunRaster(1181, 295, DataMode::kRtlGl2, kResolution600,
                                      [](std::int32_t y) { return ColourLine(y, 1181); });
    // An opaque image: its white pixels cover what lies below.
    ASSERT_EQ(out.substr(0, 21), "\x1b%1A\x1b&a0N\x1b*v1N\x1b*t600R");
    const auto bands = RtlBands(out);
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0].width, 1216);
    EXPECT_EQ(bands[0].rows, 295);
    // The device is told the window's width; the rows stay padded to W.
    const std::string head = "\x1b*r1181S\x1b*r295T\x1b*r1A\x1b*b8M\x1b*b" +
                             std::to_string(bands[0].coded.size() + 4) + "W";
    EXPECT_EQ(out.substr(21, head.size()), head);
    EXPECT_EQ(Hex(out.substr(21 + head.size(), 4)), "00 00 04 C0");
    EXPECT_EQ(out.substr(out.size() - 8), "\x1b*rC\x1b%0B");

    // Decoded, the band is the dither of the image, white to W.
    const auto decoded = DecodeGroup4(bands[0].coded, 1216, 295);
    ASSERT_FALSE(decoded.empty());
    for (std::int32_t y = 0; y < 295; ++y) {
        const std::string line = ColourLine(y, 1181);
        for (std::int32_t x = 0; x < 1216; ++x) {
            const int level = x < 1181 ? LevelOf(static_cast<unsigned char>(line[3 * x]),
                                                 static_cast<unsigned char>(line[3 * x + 1]),
                                                 static_cast<unsigned char>(line[3 * x + 2]))
                                       : LevelOf(255, 255, 255);
            const bool black = decoded[y * 152 + x / 8] & (0x80 >> (x % 8));
            ASSERT_EQ(black, ExpectedBlack(level, x, y)) << x << "," << y;
        }
    }
}

TEST_F(RasterTest, ReplicationMakesEachPixelABlockWithItsOwnRows) {
    applyConfigDefaults(0);
    // One grey pixel per line, replicated 2 x 2: rows y and y + 1 use their own matrix rows.
    const std::string out = RunRaster(
        3, 2, DataMode::kRtlGl2, kResolution600,
        [](std::int32_t) { return std::string("\x60\x60\x60\x60\x60\x60\xff\xff\xff", 9); }, 2);
    const auto bands = RtlBands(out);
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_EQ(bands[0].rows, 4);
    EXPECT_EQ(bands[0].width, 64);
    const auto decoded = DecodeGroup4(bands[0].coded, 64, 4);
    ASSERT_FALSE(decoded.empty());
    const int level = LevelOf(0x60, 0x60, 0x60);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 64; ++x) {
            const int l = x < 4 ? level : LevelOf(255, 255, 255);
            ASSERT_EQ(static_cast<bool>(decoded[y * 8 + x / 8] & (0x80 >> (x % 8))),
                      ExpectedBlack(l, x, y))
                << x << "," << y;
        }
}

TEST_F(RasterTest, BandsOfAMultipleOf32Rows) {
    applyConfigDefaults(0);
    // Stride 2000 (W 16000): 5000 rows go out as one raster of 31 blocks of
    // 160 rows and one of 40, with nothing between them (no move, no
    // second set-up).
    const std::string out = RunRaster(15968, 5000, DataMode::kRtlGl2, kResolution600,
                                      [](std::int32_t) { return std::string(); });
    EXPECT_EQ(Count(out, "\x1b*r15968S\x1b*r5000T\x1b*r1A\x1b*b8M\x1b*b"), 1u);
    EXPECT_EQ(Count(out, "\x1b*r"), 4u);  // S, T, A and the end
    EXPECT_EQ(Count(out, "\x1b*b"), 33u);
    EXPECT_EQ(Count(out, "PR"), 0u);
    EXPECT_EQ(Count(out, "\x1b%1A\x1b&a0N\x1b*v1N\x1b*t600R"), 1u);
    const auto bands = RtlBands(out);
    ASSERT_EQ(bands.size(), 32u);
    for (const auto& band : bands) {
        const auto decoded = DecodeGroup4(band.coded, band.width, band.rows);
        ASSERT_EQ(decoded.size(), static_cast<std::size_t>(2000 * band.rows));
    }
}

TEST_F(RasterTest, BandsCodedOnASecondCoreAreTheSameBytes) {
    applyConfigDefaults(0);
    // Alternating pixels on every other row: about 4 coded bits a pixel, more
    // than a band's second area holds, so those bands are coded again on the
    // host's thread, where the area grows.
    const std::int32_t pixels = 15968, rows = 5000;
    auto line = [](std::int32_t y) {
        std::string s(3 * pixels, '\xFF');
        if (y % 2 == 0)
            for (std::int32_t x = 0; x < pixels; x += 2) s.replace(3 * x, 3, 3, '\0');
        return s;
    };
    const std::string both = RunRaster(pixels, rows, DataMode::kRtlGl2, kResolution600, line);
    // Without the second area (the allocation after the image's four) the
    // same bands are coded one by one.
    TestHost::Get().ClearCalls();
    FailAllocationsAfterForTesting(4);
    const std::string one = RunRaster(pixels, rows, DataMode::kRtlGl2, kResolution600, line);
    FailAllocationsAfterForTesting(-1);
    EXPECT_EQ(one.size(), both.size());
    EXPECT_TRUE(one == both);
    const auto bands = RtlBands(both);
    ASSERT_EQ(bands.size(), 32u);
    std::int32_t y = 0;
    for (const auto& band : bands) {
        const auto decoded = DecodeGroup4(band.coded, band.width, band.rows);
        ASSERT_EQ(decoded.size(), static_cast<std::size_t>(2000 * band.rows)) << y;
        for (std::int32_t r = 0; r < band.rows; ++r, ++y)
            ASSERT_EQ(decoded[static_cast<std::size_t>(r) * 2000], y % 2 == 0 ? 0xAA : 0x00) << y;
    }
}

TEST_F(RasterTest, TheSingleBandLimitIsInclusive) {
    applyConfigDefaults(0);
    // Stride 2460: 1024 rows need exactly 10,485,760 bytes of output area.
    std::string out = RunRaster(19648, 1024, DataMode::kRtlGl2, kResolution400,
                                [](std::int32_t) { return std::string(); });
    EXPECT_EQ(Count(out, "\x1b*r1024T"), 1u);
    EXPECT_EQ(Count(out, "\x1b*b"), 2u);  // the compression and one block
    TestHost::Get().ClearCalls();
    out = RunRaster(19648, 1025, DataMode::kRtlGl2, kResolution400,
                    [](std::int32_t) { return std::string(); });
    // One raster of 1025 rows: 32 blocks of 32 rows and one of 1.
    EXPECT_EQ(Count(out, "\x1b*r1025T"), 1u);
    EXPECT_EQ(Count(out, "\x1b*b"), 34u);
    EXPECT_EQ(Count(out, "PR"), 0u);
}

TEST_F(RasterTest, ImageWithoutRowsSendsNoBand) {
    applyConfigDefaults(0);
    const std::string out = RunRaster(100, 0 + 1, DataMode::kRtlGl2, kResolution600,
                                      [](std::int32_t) { return std::string(); });
    TestHost::Get().ClearCalls();
    SelectResolution(kResolution600, DataMode::kRtlGl2);
    ASSERT_TRUE(PrepareRaster(100, 5, DataMode::kRtlGl2, 0, 0, 0, 1, false));
    BeginRaster();
    EXPECT_EQ(EncodeAndSendBands(), 0);
    EndRaster();
    EXPECT_EQ(TestHost::Get().Output(), "\x1b%1A\x1b&a0N\x1b*v1N\x1b*t600R\x1b*rC\x1b%0B");
    (void)out;
}

TEST_F(RasterTest, ResolutionCommandBeforeAnySelectionIsBlanks) {
    EXPECT_EQ(SelectResolution(0x300, DataMode::kRtlGl2), 0.0);
    EXPECT_STREQ(Module.ResolutionCommand, "                      ");
    EXPECT_EQ(SelectResolution(0x400, DataMode::kRtlGl2), 300.0);
    EXPECT_STREQ(Module.ResolutionCommand, "\x1b*t300R");
    EXPECT_EQ(SelectResolution(0x000, DataMode::kRtlGl2), 300.0);  // kept
    EXPECT_STREQ(Module.ResolutionCommand, "\x1b*t300R");
}

TEST_F(RasterTest, VcglFramingWithAndWithoutTheBlankPreamble) {
    applyConfigDefaults(0);
    const auto white = [](std::int32_t) { return std::string(); };
    std::string out = RunRaster(40, 3, DataMode::kVcgl, kResolution200, white, 1, 0);
    // Resolution 200; blank preamble; header with the size at 400 dpi; data.
    const std::string expected =
        "9B 52 00 02 00 00 "
        "9B 5F 00 1A 00 00 00 64 00 00 00 C8 00 00 00 20 00 00 00 01 00 00 00 28 00 00 00 03 00 01 "
        "9B 5D 00 02 02 07 9B 5C 00 00 00 04 80 08 00 80 9B 5D 00 02 02 00 9B 5E 00 02 00 01 9B 52 "
        "00 02 00 00 "
        "9B 5F 00 1A 00 00 00 64 00 00 00 C8 00 00 00 60 00 00 00 03 00 00 00 C0 00 00 00 06 00 01 "
        "9B 5D 00 02 02 07 9B 5C 00 00 00 04";
    EXPECT_EQ(Hex(out.substr(0, (expected.size() + 1) / 3)), expected);
    // The end sends resolution 400 even at 200 dpi.
    EXPECT_EQ(Hex(out.substr(out.size() - 12)), "9B 5D 00 02 02 00 9B 52 00 02 00 01");

    TestHost::Get().ClearCalls();
    out = RunRaster(40, 3, DataMode::kVcgl, kResolution400, white, 1, 1);
    EXPECT_EQ(Hex(out.substr(0, 6 + 30)),
              "9B 52 00 02 00 01 9B 5F 00 1A 00 00 00 64 00 00 00 C8 00 00 00 60 00 00 00 03 00 00 "
              "00 60 00 00 00 03 00 01");
}

// Whole requests ---------------------------------------------------------------

// A sheet whose width is not smaller than its length: the normal orientation.
const SessionOptions kNormalRtl = {
    .configure =
        [](ConfigRecord& c) {
            c.paperIndex = 23;  // custom length on a 36-inch roll
            c.customLengthMm = 500;
        },
    .extentX = 36.0,
    .extentY = 19.0,
    .hostResolution = 1016.0,
};

class ImageRequestTest : public RasterTest {
  protected:
    void Start(const SessionOptions& options) {
        OpenPlotSession(options);
        ASSERT_EQ(StartJob(), 0);
        FlushOutput();  // the job's set-up out of the way
        host().ClearCalls();
    }
    // Sends request 52, then a pen-up request that draws it.
    void DrawImage(Packet& image) {
        EXPECT_EQ(SendPlot(image).result(), 52);
        EXPECT_EQ(image.Get<std::int16_t>(layout::image::kTaken), 1);
        EXPECT_EQ(Image.PendingImage.marker, kImagePending);
        Packet next(8);
        SendPlot(next);
        EXPECT_EQ(Image.PendingImage.marker, 0u);
    }
};

TEST_F(ImageRequestTest, GridPlacementAndLinesAt600Dpi) {
    Start(kNormalRtl);
    ASSERT_EQ(Configuration.PageGeometry.ScaleFactor, 1.0);
    ASSERT_EQ(Configuration.Config.modeFlags & kModeLongEdgeAlongX, 0);
    ImageHost::Get().lineBytes = [](std::int32_t y) { return ColourLine(y, 1181); };
    Packet image = ImagePacket(1000, 2000, 3000, 2500, 2, 400, 100);
    DrawImage(image);

    const auto& requests = ImageHost::Get().requests;
    ASSERT_EQ(requests.size(), 294u);  // lines 1 to 294: line 0 is not fetched at 600 dpi
    EXPECT_EQ(ImageHost::Get().releases, 294);
    const std::string& r = requests[0];
    EXPECT_EQ(LoadLe<std::int32_t>(r.data(), 0), 0);
    EXPECT_EQ(LoadLe<std::int32_t>(r.data(), 4), 1);
    EXPECT_EQ(LoadLe<std::int32_t>(r.data(), 8), 1180);
    EXPECT_EQ(LoadLe<std::int32_t>(r.data(), 12), 1);
    EXPECT_EQ(LoadLe<std::int32_t>(r.data(), 16), 1000);
    EXPECT_EQ(LoadLe<std::int32_t>(r.data(), 20), 2001);  // 2000 + 1 x 500 / 295
    EXPECT_EQ(LoadLe<std::int32_t>(r.data(), 24), 3000);
    EXPECT_EQ(LoadLe<std::int32_t>(r.data(), 28), 2003);
    EXPECT_EQ(LoadLe<std::uint32_t>(r.data(), 32), 0xABCD1234u);
    EXPECT_EQ(LoadLe<std::int32_t>(r.data(), 36), 8);
    EXPECT_EQ(LoadLe<std::int32_t>(r.data(), 40), 2);
    EXPECT_EQ(LoadLe<std::int16_t>(r.data(), 46), 24);
    EXPECT_EQ(Hex(r.substr(48, 8)), "FF FF FF 00 00 01 02 00");
    EXPECT_EQ(LoadLe<std::int16_t>(r.data(), 70), 1);
    EXPECT_EQ(static_cast<unsigned char>(r[72]), 50);
    EXPECT_EQ(static_cast<unsigned char>(r[143]), 121);
    EXPECT_EQ(LoadLe<std::int32_t>(requests.back().data(), 4), 294);

    const std::string out = host().Output();
    const std::string head =
        "TR0;PU3000,2000PA3000,2000IW1000,2000,3000,2500\x1b%1A\x1b&a0N\x1b*v1N\x1b*t600R\x1b*"
        "r1181S\x1b*r294T";
    EXPECT_EQ(out.substr(0, head.size()), head);
    const auto bands = RtlBands(out);
    ASSERT_EQ(bands.size(), 1u);
    const auto decoded = DecodeGroup4(bands[0].coded, 1216, 294);
    ASSERT_FALSE(decoded.empty());
    // Page row k holds line k + 1, dithered as output row k.
    const std::string line = ColourLine(1, 1181);
    for (int x = 0; x < 1181; ++x) {
        const int level = LevelOf(static_cast<unsigned char>(line[3 * x]),
                                  static_cast<unsigned char>(line[3 * x + 1]),
                                  static_cast<unsigned char>(line[3 * x + 2]));
        ASSERT_EQ(static_cast<bool>(decoded[x / 8] & (0x80 >> (x % 8))), ExpectedBlack(level, x, 0))
            << x;
    }
    // Restoration: transparency off, position, relative mode, the palette
    // as job start set it up (the raster mode may have installed its own),
    // window.
    const std::size_t tail = out.find(
        "\x1b*rC\x1b%0BTR0;PA3000,2000PU0,0PRNP256CR0,255,0,255,0,255PC1,76,76,76PC2,226,226,"
        "226");
    ASSERT_NE(tail, std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 11 - 18),
              "PC255,0,0,0" + std::string(Module.SavedWindowCommand));
    EXPECT_EQ(PageState.PenState, kPenClosed);
}

TEST_F(ImageRequestTest, AnImageIsPageContent) {
    Start(kNormalRtl);
    ImageHost::Get().lineBytes = [](std::int32_t y) { return ColourLine(y, 1181); };
    Packet image = ImagePacket(1000, 2000, 3000, 2500, 2, 400, 100);
    EXPECT_EQ(SendPlot(image).result(), 52);
    EndJob();  // draws the image, then ends the job
    const std::string out = host().Output();
    EXPECT_EQ(out.substr(0, 4), "TR0;");
    EXPECT_EQ(out.substr(out.size() - 21), ";PUSP0;PG;\x1b%-12345X\r\n");
}

TEST_F(ImageRequestTest, TransparencyAndItsLeadingSemicolon) {
    Start(kNormalRtl);
    ImageHost::Get().lineBytes = [](std::int32_t) { return std::string(); };
    Packet draw(4);
    draw.Set<std::uint16_t>(layout::point::kX, 10).Set<std::uint16_t>(layout::point::kY, 10);
    SendPlot(draw);
    Packet image = ImagePacket(1000, 2000, 3000, 2500, 2, 400, 100, 1);
    DrawImage(image);
    std::string out = host().Output();
    EXPECT_NE(out.find("PE7ss;TR1;PU3000,2000"), std::string::npos);
    EXPECT_NE(out.find("\x1b%1A\x1b&a0N\x1b*v0N\x1b*t600R"), std::string::npos);
    EXPECT_EQ(out.find("\x1b*v1N"), std::string::npos);
    EXPECT_NE(out.find("\x1b%0BTR0;PA"), std::string::npos);

    // Pixel kind 1 with 2 bits per pixel is drawn opaque.
    host().ClearCalls();
    Packet twoBit = ImagePacket(1000, 2000, 3000, 2500, 1, 400, 100, 1, 2);
    DrawImage(twoBit);
    EXPECT_EQ(host().Output().substr(0, 5), ";TR0;");
    EXPECT_NE(host().Output().find("\x1b*v1N"), std::string::npos);
}

TEST_F(ImageRequestTest, AnOpenSequenceIsClosedBeforeTheImage) {
    // A move alone opens a PE sequence without drawing anything: the image
    // still closes it first, or its commands would read as PE digits.
    Start(kNormalRtl);
    ImageHost::Get().lineBytes = [](std::int32_t) { return std::string(); };
    Packet move(3);
    move.Set<std::uint16_t>(layout::point::kX, 20).Set<std::uint16_t>(layout::point::kY, 20);
    SendPlot(move);
    Packet image = ImagePacket(1000, 2000, 3000, 2500, 2, 400, 100, 1);
    DrawImage(image);
    const std::string out = host().Output();
    const std::size_t tr = out.find("TR1;");
    ASSERT_NE(tr, std::string::npos);
    EXPECT_EQ(out[tr - 1], ';') << out.substr(0, tr + 4);
}

TEST_F(ImageRequestTest, BilevelColoursAndTheKeyColour) {
    Start(kNormalRtl);
    // Index 9 is taken as 7 (black); set pixels print at level 255 - ToneCurve[0].
    ImageHost::Get().lineBytes = [](std::int32_t) { return std::string(1181, '\x01'); };
    Packet image = ImagePacket(1000, 2000, 3000, 2500, 0, 400, 100, 0, 1, 9);
    DrawImage(image);
    const auto& r = ImageHost::Get().requests.at(0);
    EXPECT_EQ(LoadLe<std::int32_t>(r.data(), 36), 1);
    EXPECT_EQ(LoadLe<std::int16_t>(r.data(), 46), 1);
    EXPECT_EQ(LoadLe<std::int16_t>(r.data(), 48), 0);
    EXPECT_EQ(LoadLe<std::int16_t>(r.data(), 56), 7);
    auto bands = RtlBands(host().Output());
    auto decoded = DecodeGroup4(bands.at(0).coded, 1216, 294);
    ASSERT_FALSE(decoded.empty());
    for (int x = 0; x < 1181; ++x) ASSERT_TRUE(decoded[x / 8] & (0x80 >> (x % 8))) << x;

    // A transparent colour image: (0, 1, 2) prints white, (0, 1, 3) dithered.
    host().ClearCalls();
    ImageHost::Get().Reset();
    ImageHost::Get().lineBytes = [](std::int32_t) {
        std::string s;
        for (int x = 0; x < 1181; ++x)
            s += x < 600 ? std::string("\x00\x01\x02", 3) : std::string("\x00\x01\x03", 3);
        return s;
    };
    Packet keyed = ImagePacket(1000, 2000, 3000, 2500, 2, 400, 100, 1);
    DrawImage(keyed);
    bands = RtlBands(host().Output());
    decoded = DecodeGroup4(bands.at(0).coded, 1216, 294);
    ASSERT_FALSE(decoded.empty());
    for (int x = 0; x < 600; ++x) ASSERT_FALSE(decoded[x / 8] & (0x80 >> (x % 8))) << x;
    const int level = LevelOf(0, 1, 3);
    for (int x = 600; x < 1181; ++x)
        ASSERT_EQ(static_cast<bool>(decoded[x / 8] & (0x80 >> (x % 8))), ExpectedBlack(level, x, 0))
            << x;
}

TEST_F(ImageRequestTest, LinesLongerOrShorterThanTheGridAreBounded) {
    Start(kNormalRtl);
    ImageHost::Get().lineBytes = [](std::int32_t y) {
        return y % 2 ? std::string(3 * 5000, '\0')
                     : std::string(3 * 10, '\0');  // black, long or short
    };
    Packet image = ImagePacket(1000, 2000, 3000, 2500, 2, 400, 100);
    DrawImage(image);
    const auto bands = RtlBands(host().Output());
    const auto decoded = DecodeGroup4(bands.at(0).coded, 1216, 294);
    ASSERT_FALSE(decoded.empty());
    // Row 0 holds line 1 (long: black up to the grid), row 1 line 2 (short).
    for (int x = 0; x < 1216; ++x) {
        ASSERT_EQ(static_cast<bool>(decoded[x / 8] & (0x80 >> (x % 8))), x < 1181) << x;
        ASSERT_EQ(static_cast<bool>(decoded[152 + x / 8] & (0x80 >> (x % 8))), x < 10) << x;
    }
}

TEST_F(ImageRequestTest, FailureReplyAbandonsTheImage) {
    Start(kNormalRtl);
    ImageHost::Get().lineBytes = [](std::int32_t y) { return ColourLine(y, 1181); };
    ImageHost::Get().failAtCall = 3;
    Module.HostWindow = 0x77;
    Packet image = ImagePacket(1000, 2000, 3000, 2500, 2, 400, 100);
    DrawImage(image);
    ASSERT_EQ(HeadlessMessageBoxes().size(), 1u);
    EXPECT_EQ(HeadlessMessageBoxes()[0].text, "image faile=4 1181 99");
    EXPECT_EQ(HeadlessMessageBoxes()[0].caption, "DAD4.3");
    EXPECT_EQ(HeadlessMessageBoxes()[0].style, 0x30u);
    EXPECT_EQ(HeadlessMessageBoxes()[0].ownerWindow, 0x77u);
    EXPECT_EQ(ImageHost::Get().releases, 3);
    const std::string out = host().Output();
    EXPECT_EQ(out.find("\x1b*b8M"), std::string::npos);  // no raster at all
    EXPECT_NE(out.find("\x1b*t600R\x1b*rC\x1b%0BTR0;PA3000,2000"), std::string::npos);
    EXPECT_EQ(JobState.ErrorLatch, 0);
}

TEST_F(ImageRequestTest, StopOnTheFirstLine) {
    Start(kNormalRtl);
    ImageHost::Get().stopAtCall = 0;
    Packet image = ImagePacket(1000, 2000, 3000, 2500, 2, 400, 100);
    DrawImage(image);
    EXPECT_EQ(ImageHost::Get().releases, 1);
    const std::string out = host().Output();
    EXPECT_NE(out.find("\x1b*t600R\x1b*rC\x1b%0BTR0;"), std::string::npos);
}

TEST_F(ImageRequestTest, OneLineGridFetchesNothingAt600Dpi) {
    Start(kNormalRtl);
    // 1 x 1 source over a small area: a grid of one line.
    Packet image = ImagePacket(1000, 2000, 1010, 2002, 2, 1, 1);
    DrawImage(image);
    EXPECT_TRUE(ImageHost::Get().requests.empty());

    host().ClearCalls();
    Packet again = ImagePacket(1000, 2000, 1010, 2004, 2, 1, 1);
    Configuration.Config.modeFlags = static_cast<std::uint16_t>(
        (Configuration.Config.modeFlags & ~kModeResolutionMask) | kResolution400);
    DrawImage(again);
    EXPECT_EQ(ImageHost::Get().requests.size(), 1u);
}

TEST_F(ImageRequestTest, UnusableImagesAreRefusedWithoutAByte) {
    Start(kNormalRtl);
    const std::int16_t penStateBefore = PageState.PenState;
    struct Case {
        const char* what;
        Packet packet;
    };
    std::vector<Case> cases;
    cases.push_back({"zero source width", ImagePacket(1000, 2000, 3000, 2500, 2, 0, 100)});
    cases.push_back({"negative source height", ImagePacket(1000, 2000, 3000, 2500, 2, 400, -5)});
    cases.push_back({"empty area", ImagePacket(3000, 2000, 3000, 2500, 2, 400, 100)});
    cases.push_back({"inverted area", ImagePacket(3000, 2500, 1000, 2000, 2, 400, 100)});
    cases.push_back(
        {"negative colour", ImagePacket(1000, 2000, 3000, 2500, 0, 400, 100, 0, 1, -1)});
    cases.push_back({"huge grid", ImagePacket(-2000000000, 0, 2000000000, 2000000000, 2, 1, 1)});
    Packet noFetch = ImagePacket(1000, 2000, 3000, 2500, 2, 400, 100);
    noFetch.Set<std::uint32_t>(layout::image::kFetch, 0);
    cases.push_back({"no fetch routine", noFetch});
    for (auto& c : cases) {
        host().ClearCalls();
        DrawImage(c.packet);
        EXPECT_TRUE(host().CallsOf(CallKind::WriteOutput).empty()) << c.what;
        EXPECT_EQ(PageState.PenState, penStateBefore) << c.what;
    }
    // Buffers that cannot be had.
    host().ClearCalls();
    Packet image = ImagePacket(1000, 2000, 3000, 2500, 2, 400, 100);
    EXPECT_EQ(SendPlot(image).result(), 52);
    FailAllocationsAfterForTesting(1);
    Packet next(8);
    SendPlot(next);
    FailAllocationsAfterForTesting(-1);
    EXPECT_TRUE(host().CallsOf(CallKind::WriteOutput).empty());
    EXPECT_EQ(Image.RasterState.pageBuffer, nullptr);
    // The job goes on.
    Packet draw(4);
    draw.Set<std::uint16_t>(layout::point::kX, 10).Set<std::uint16_t>(layout::point::kY, 10);
    EXPECT_EQ(SendPlot(draw).result(), 4);
    EXPECT_EQ(JobState.ErrorLatch, 0);
}

const SessionOptions kVcgl = {
    .configure = [](ConfigRecord& c) { c.modeFlags = kModeVcgl | kResolution400; },
    .extentX = 30.0,
    .extentY = 20.0,
    .hostResolution = 800.0,
};

TEST_F(ImageRequestTest, VcglImageAndTheRestoredState) {
    Start(kVcgl);
    Packet width(41);
    width.Set<double>(layout::pen::kWidth, 0.01);
    SendPlot(width);
    ImageHost::Get().lineBytes = [](std::int32_t) { return std::string(3 * 200, '\x80'); };
    // 400 host units (1/800 inch) at 400 dpi: a 200 x 50 grid; long edge set.
    ASSERT_NE(Configuration.Config.modeFlags & kModeLongEdgeAlongX, 0);
    Packet image = ImagePacket(1000, 2000, 1400, 2100, 2, 20, 5);
    EXPECT_EQ(SendPlot(image).result(), 52);
    Packet next(8);
    SendPlot(next);
    const std::string out = host().Output();
    // The width command, then the pending-image page end, through the buffer.
    EXPECT_EQ(Hex(out.substr(0, 4)), "40 01 00 04");
    const std::string start = Hex(out.substr(4, 74));
    EXPECT_EQ(start.substr(start.size() - 11), "F3 01 00 01");
    // Long edge: lines are columns, 50 pixels each, 200 of them; anchor (x0, y0) x 0.5.
    EXPECT_EQ(Hex(out.substr(78, 12)), "9B 5E 00 02 00 02 9B 52 00 02 00 01");
    EXPECT_EQ(ImageHost::Get().requests.size(), 200u);
    EXPECT_EQ(LoadLe<std::int32_t>(ImageHost::Get().requests[0].data(), 40), 7);
    EXPECT_EQ(Hex(out.substr(90, 20)),
              "9B 5F 00 1A 00 00 01 F4 00 00 03 E8 00 00 00 20 00 00 00 01");
    // After the image: opaque mode directly, then the job header, default
    // attributes and the replayed width, through the buffer.
    EXPECT_EQ(Hex(out.substr(out.size() - 18)),
              "9B 5D 00 02 02 00 9B 52 00 02 00 01 9B 5E 00 02 00 02");
    const std::string waiting = Waiting();
    EXPECT_EQ(Hex(waiting.substr(0, 4)), "18 01 00 00");
    EXPECT_EQ(Hex(waiting.substr(waiting.size() - 4)), "40 01 00 04");
    EXPECT_EQ(PageState.PageHasContent, 1);
}

TEST_F(ImageRequestTest, VcglAt600DpiIsSentAt400) {
    Start({.configure = [](ConfigRecord& c) { c.modeFlags = kModeVcgl | kResolution600; },
           .extentX = 30.0,
           .extentY = 20.0,
           .hostResolution = 800.0});
    ImageHost::Get().lineBytes = [](std::int32_t) { return std::string(3 * 50, '\x80'); };
    Packet image = ImagePacket(1000, 2000, 1400, 2100, 2, 20, 5);
    DrawImage(image);
    EXPECT_EQ(Module.CurrentDpi, 400);
    EXPECT_EQ(ImageHost::Get().requests.size(), 200u);
}

}  // namespace
}  // namespace varnu::testing
