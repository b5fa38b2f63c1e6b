// The preview in process: streams written here and by the driver, read
// back and checked on the pixels they print.
#include "preview/preview.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "preview/sheet.h"
#include "support.h"

namespace varnu::host::testing {
namespace {

using preview::Render;
using preview::Rendering;

// Rows of 1-bit pixels, first pixel in the top bit, 1 = black.
struct Bits {
    int width = 0, rows = 0;
    std::vector<std::uint8_t> data;
    Bits(int w, int r) : width(w), rows(r), data(static_cast<std::size_t>((w + 7) / 8) * r) {}
    void Set(int p, int r) { data[r * ((width + 7) / 8) + p / 8] |= 0x80 >> (p % 8); }
};

// libtiff's Group 4 coder on `bits`: the MMR data of one band.
std::string G4(const Bits& bits, const std::string& scratch) {
    TIFF* out = TIFFOpen(scratch.c_str(), "w");
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(bits.width));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(bits.rows));
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(bits.rows));
    TIFFWriteEncodedStrip(out, 0, const_cast<std::uint8_t*>(bits.data.data()),
                          static_cast<tmsize_t>(bits.data.size()));
    TIFFClose(out);
    TIFF* in = TIFFOpen(scratch.c_str(), "r");
    std::string coded(static_cast<std::size_t>(TIFFRawStripSize(in, 0)), '\0');
    TIFFReadRawStrip(in, 0, coded.data(), static_cast<tmsize_t>(coded.size()));
    TIFFClose(in);
    return coded;
}

// A job as the driver frames it, around `body` (HP-GL/2 after the set-up).
std::string RtlJob(const std::string& setup, const std::string& body) {
    return "\x1b%-12345X@PJL\r\n@PJL ENTER LANGUAGE=HPGL2\r\n\x1b%0B;BP2,1;IN;" + setup +
           "SP7PW0.35;" + body + ";PUSP0;PG;\x1b%-12345X\r\n";
}
// The sheet of the default paper (48 x 36 inches, long edge along the feed).
const std::string kLongEdge = "PS48768,36576IP0,0,48768,36576SC0,48768,0,36576IW0,0,48768,36576;";

// An RTL band of `bits` at 400 dpi with its first pixel at (x, y), the
// source transparency `opaque` chooses (the driver never sends it).
std::string RtlBand(int x, int y, const Bits& bits, const std::string& coded, bool opaque = false) {
    std::string w(4, '\0');
    for (int i = 0; i < 4; ++i) w[i] = static_cast<char>(bits.width >> (24 - 8 * i));
    return "PU" + std::to_string(x) + "," + std::to_string(y) + ";\x1b%1A\x1b&a0N" +
           (opaque ? "\x1b*v1N" : "") + "\x1b*t400R\x1b*r" + std::to_string(bits.width) +
           "S\x1b*r" + std::to_string(bits.rows) + "T\x1b*r1A\x1b*b8M\x1b*b" +
           std::to_string(4 + coded.size()) + "W" + w + coded + "\x1b*rC\x1b%0B";
}

class Preview : public HostTest {
  protected:
    Rendering Draw(const std::string& stream, double dpi) {
        preview::Options options;
        options.dpi = dpi;
        Rendering r = Render(stream, options);
        if (r.ok) grey_ = r.Grey();
        return r;
    }
    // The grey at (x, y) of the last rendering, pixels from the top left.
    int At(const Rendering& r, int x, int y) const {
        return grey_[static_cast<std::size_t>(y) * r.Width() + x];
    }
    std::vector<std::uint8_t> grey_;
};

TEST_F(Preview, CustomLengthSheetHasItsLengthInBothOrientations) {
    // 36 x 23.6 inches: a user-defined length shorter than the roll is
    // wide. The stream names the feed's side first, the scaling the rest.
    const std::string wide = "PS24000,36576IP0,0,36576,24000SC0,36576,0,24000IW0,0,36576,24000;";
    const std::string tall = "PS36576,24000IP0,0,36576,24000SC0,36576,0,24000IW0,0,36576,24000;";
    // A frame 1 inch inside, and a black square near the right edge.
    const std::string frame = "PU1016,1016PD35560,1016,35560,22984,1016,22984,1016,1016;";
    const std::string square = "PU33000,10000;PM0PD34000,10000,34000,11000,33000,11000;PM2FP";
    for (const std::string& setup : {wide, tall}) {
        const Rendering r = Draw(RtlJob(setup, frame + square), 20);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.Width(), 720);  // 36 inches along x at 20 dpi
        EXPECT_EQ(r.Height(), 473);
        EXPECT_LT(At(r, 700, 236), 200) << "the frame's right side";
        EXPECT_LT(At(r, 360, 452), 200) << "the frame's bottom";
        EXPECT_LT(At(r, 660, 473 - 210), 60) << "the square";
        EXPECT_EQ(At(r, 710, 236), 255);
    }
}

TEST_F(Preview, RowsRunAcrossTheFeedInEitherOrientation) {
    // A band of 8 rows of 64 pixels at 400 dpi, drawn at 400 dpi: one
    // preview pixel each; pixel 0 of row 0 alone is black, and row 7 is.
    Bits bits(64, 8);
    bits.Set(0, 0);
    for (int p = 0; p < 64; ++p) bits.Set(p, 7);
    const std::string coded = G4(bits, Path("band.tif"));
    const int x = 2540, y = 2540;  // 2.5 inches in, at pixel 1000
    for (const bool longEdge : {true, false}) {
        // 4 x 3 inches: along the feed, or across it.
        const std::string setup = longEdge ? "PS4064,3048IP0,0,4064,3048SC0,4064,0,3048;"
                                           : "PS3048,4064IP0,0,4064,3048SC0,4064,0,3048;";
        const Rendering r = Draw(RtlJob(setup, RtlBand(x, y, bits, coded)), 400);
        ASSERT_TRUE(r.ok) << r.error;
        const int px = 1000, py = r.Height() - 1000;  // the first pixel's corner
        int blacks = 0;
        for (int i = 0; i < static_cast<int>(grey_.size()); ++i) blacks += grey_[i] < 128;
        EXPECT_EQ(blacks, 65);
        if (longEdge) {  // rows to the right, pixels up
            EXPECT_LT(At(r, px, py - 1), 128);
            for (int p = 0; p < 64; ++p) EXPECT_LT(At(r, px + 7, py - 1 - p), 128) << p;
        } else {  // rows up, pixels to the left
            EXPECT_LT(At(r, px - 1, py - 1), 128);
            for (int p = 0; p < 64; ++p) EXPECT_LT(At(r, px - 1 - p, py - 8), 128) << p;
        }
    }
}

TEST_F(Preview, WindowCutsVectorsAndNotRaster) {
    Bits bits(32, 32);
    for (int r = 0; r < 32; ++r)
        for (int p = 0; p < 32; ++p) bits.Set(p, r);
    const std::string band = RtlBand(20320, 10160, bits, G4(bits, Path("band.tif")));
    // The window ends at 10 inches; a line runs to 20, a band lies at 20.
    const Rendering r =
        Draw(RtlJob(kLongEdge, "IW0,0,10160,36576;PU0,5080;PD20320,5080;" + band), 10);
    ASSERT_TRUE(r.ok) << r.error;
    const int row = r.Height() - 50;
    EXPECT_LT(At(r, 50, row), 200);
    EXPECT_LT(At(r, 99, row), 200);
    EXPECT_EQ(At(r, 102, row), 255);
    EXPECT_EQ(At(r, 150, row), 255);
    EXPECT_LT(At(r, 200, r.Height() - 101), 128) << "the band, outside the window";
}

TEST_F(Preview, WhiteRasterPixelsLeaveWhatIsBelowUnlessTheSourceIsOpaque) {
    // A black square from 2 to 4 inches, then a band over it at (3, 2)
    // inches: 100 rows to the right, 200 pixels up (padded to 256 as the
    // driver pads), pixels 0 to 99 white and 100 to 199 black.
    Bits bits(256, 100);
    for (int r = 0; r < 100; ++r)
        for (int p = 100; p < 200; ++p) bits.Set(p, r);
    const std::string coded = G4(bits, Path("band.tif"));
    const std::string square = "PU2032,2032;PM0PD4064,2032,4064,4064,2032,4064;PM2FP";
    for (const bool opaque : {false, true}) {
        SCOPED_TRACE(opaque ? "opaque" : "transparent");
        const Rendering r =
            Draw(RtlJob(kLongEdge, square + RtlBand(3048, 2032, bits, coded, opaque)), 100);
        ASSERT_TRUE(r.ok) << r.error;
        auto up = [&](double inches) { return r.Height() - static_cast<int>(inches * 100) - 1; };
        EXPECT_LT(At(r, 250, up(2.1)), 60) << "the square beside the band";
        EXPECT_EQ(At(r, 450, up(2.1)), 255) << "beyond the square";
        EXPECT_LT(At(r, 310, up(2.35)), 60) << "black band pixels";
        EXPECT_EQ(At(r, 310, up(2.1)) < 60, !opaque) << "white band pixels";
        EXPECT_EQ(At(r, 310, up(2.55)) < 60, !opaque) << "the padding";
        EXPECT_EQ(At(r, 330, up(2.1)), 0) << "beside the band";
    }
}

// `v` as `bytes` big-endian bytes (sign-extended beyond 8).
std::string Be(std::int64_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i) s += static_cast<char>(i < 8 ? v >> (8 * i) : v >> 63);
    return s;
}
// A VCGL job: the page rectangle's corner, then `body`.
std::string VcglJob(std::int32_t cornerX, std::int32_t cornerY, const std::string& body) {
    const std::string dot = "\x6b\x08" + Be(0, 16);
    return std::string("\x9b\x5e\x00\x02\x00\x02", 6) + dot + "\x6b\x08" + Be(cornerX, 4) +
           Be(cornerY, 4) + Be(0, 8) + body + std::string("\x9b\x5e\x00\x02\x00\x00", 6);
}

TEST_F(Preview, VcglSheetFromThePageRectangleAndTheStepsItImplies) {
    // The corner is the plot area scaled twice: by 0.5 up to 81.9 inches,
    // by 1 up to 163.8, 2 up to 327.7, 4 up to 655.3; the longer side runs
    // along x.
    const struct {
        std::int32_t x, y;
        int width, height;
    } cases[] = {{6000, 4000, 300, 200},       // 30 x 20 inches
                 {4000, 6000, 300, 200},       // the same, the other side along the feed
                 {37795, 13244, 945, 332},     // 2,400 mm of an A0 roll
                 {944880, 57600, 5906, 360}};  // 15,000 mm of a 36-inch roll
    for (const auto& c : cases) {
        const Rendering r = Draw(VcglJob(c.x, c.y, ""), 10);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.Width(), c.width) << c.x;
        EXPECT_EQ(r.Height(), c.height) << c.x;
    }
}

TEST_F(Preview, VcglPaintModeDecidesWhatWhitePixelsDo) {
    // Pen 7 black with a black halftone cell; a filled square of 1 inch at
    // (1, 1) inches; then a band over it at (1.5, 1.5), all white but its
    // first four rows (a preview pixel's width at 100 dpi).
    std::string setup = "\x30\x05" + Be(7, 2) + Be(0, 2) + Be(-1, 2) + Be(-1, 2) + Be(-1, 2);
    setup += "\x32\x13" + Be(0, 2) + Be(16, 2) + Be(16, 2) + std::string(32, '\xff');
    setup += "\x47\x01" + Be(7, 2);
    const std::string square = "\xff\x7c" + Be(8, 2) + Be(400, 2) + Be(400, 2) + Be(400, 2) +
                               Be(0, 2) + Be(0, 2) + Be(400, 2) + Be(-400, 2) + Be(0, 2);
    Bits bits(64, 64);
    for (int r = 0; r < 4; ++r)
        for (int p = 0; p < 64; ++p) bits.Set(p, r);
    const std::string coded = G4(bits, Path("band.tif"));
    for (const bool opaque : {false, true}) {
        const std::string band =
            std::string("\x9b\x5e\x00\x02\x00", 5) + (opaque ? '\x02' : '\x01') +
            std::string("\x9b\x5f\x00\x1a", 4) + Be(600, 4) + Be(600, 4) + Be(64, 4) + Be(64, 4) +
            Be(64, 4) + Be(64, 4) + std::string("\x00\x01\x9b\x5d\x00\x02\x02\x07\x9b\x5c", 10) +
            Be(static_cast<std::int64_t>(coded.size()), 4) + coded;
        // 30 x 20 inches, the long edge along the feed: rows run right.
        const Rendering r = Draw(VcglJob(6000, 4000, setup + square + band), 100);
        ASSERT_TRUE(r.ok) << r.error;
        auto up = [&](double inches) { return r.Height() - static_cast<int>(inches * 100) - 1; };
        EXPECT_EQ(At(r, 120, up(1.2)), 0) << "the square";
        EXPECT_EQ(At(r, 150, up(1.55)), 0) << "the band's first rows";
        EXPECT_EQ(At(r, 158, up(1.55)), opaque ? 255 : 0) << "its white rows";
        EXPECT_EQ(At(r, 220, up(1.55)), 255) << "beyond";
    }
}

TEST_F(Preview, EndlessInputIsRefusedWithinBoundedMemory) {
    // A job that never ends: one polyline of relative points that goes on forever.
    const std::string job = RtlJob(kLongEdge, "PU0,1000;PD;PR");
    const std::string head2 = job.substr(0, job.find(";PUSP0"));
    std::uint64_t pulled = 0;
    const preview::ByteSource endless = [&](char* to, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i, ++pulled) {
            static const std::string draw = "5,0,";
            to[i] =
                pulled < head2.size() ? head2[pulled] : draw[(pulled - head2.size()) % draw.size()];
        }
        return n;
    };
    preview::Options options;
    options.dpi = 10;
    options.maxStreamBytes = 2 << 20;
    const Rendering r = Render(endless, options);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("the stream goes on past 2097152 bytes"), std::string::npos) << r.error;
    EXPECT_LT(pulled, (2u << 20) + (1u << 20)) << "read no further than the limit";
    // Zeros forever are no job at all, seen at once.
    pulled = 0;
    const preview::ByteSource zeros = [&](char* to, std::size_t n) {
        std::memset(to, 0, n);
        pulled += n;
        return n;
    };
    const Rendering z = Render(zeros, {});
    EXPECT_EQ(z.error, "byte 0: neither a PJL job nor a VCGL job");
    EXPECT_LE(pulled, 1u << 20);
}

TEST_F(Preview, APageSizeAgainStartsTheSheetAnew) {
    std::string body;
    for (int i = 0; i < 20; ++i) body += kLongEdge + "PU1016,1016PD20000,1016;";
    body += "PS24000,36576IP0,0,36576,24000SC0,36576,0,24000;PU1016,2032PD20000,2032;";
    const Rendering r = Draw(RtlJob("", body), 100);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.Width(), 3600);
    EXPECT_EQ(r.Height(), 2363);
    EXPECT_LT(At(r, 1000, r.Height() - 201), 200) << "drawn on the last sheet";
    EXPECT_EQ(At(r, 1000, r.Height() - 101), 255) << "what earlier sheets held is gone";
}

// An RTL job of one page, 10000 units square, with `body` in HP-GL/2.
std::string SquareJob(const std::string& body) {
    return "\x1b%-12345X@PJL\r\n@PJL ENTER LANGUAGE=HPGL2\r\n\x1b%0B;IN;PS10000,10000;" + body +
           "PG;\x1b%-12345X\r\n";
}
// A band of `width` x `rows` white pixels at (x, y): one coded bit a row.
std::string WhiteBand(long x, long y, std::uint32_t width, long rows, const std::string& coded) {
    const std::string w{static_cast<char>(width >> 24), static_cast<char>(width >> 16),
                        static_cast<char>(width >> 8), static_cast<char>(width)};
    return "PU" + std::to_string(x) + "," + std::to_string(y) + ";\x1b%1A\x1b*t600R\x1b*r" +
           std::to_string(width) + "S\x1b*r" + std::to_string(rows) + "T\x1b*b8M\x1b*b" +
           std::to_string(4 + coded.size()) + "W" + w + coded + "\x1b%0B;";
}

TEST_F(Preview, DrawsOnlyTheSheetWhateverTheStreamSays) {
    std::string dashes = "LT2,0.001;PW5;SP1;";
    for (int i = 0; i < 200; ++i)
        dashes += "PU0," + std::to_string(i * 50) + ";PD1e15," + std::to_string(i) + ";";
    const std::pair<const char*, std::string> drawn[] = {
        {"beyond", SquareJob(WhiteBand(50000, 50000, 40000, 8, "\xff"))},
        {"wide", SquareJob(WhiteBand(5000, 5000, 100000, 8, "\xff"))},
        {"below", SquareJob(WhiteBand(-90000, -90000, 64, 16, "\xff\xff"))},
        {"dashes", SquareJob(dashes)},
        {"widths", SquareJob("PW1e300;SP1;PU0,0;PD1e300,-1e300;PD1e999,5;")},
        {"polygon", SquareJob("PU0,0;PM0;PD1e300,0,0,1e300,-1e300,-1e300;PM2;FP;")},
        // Found by fuzzing: selections beyond int reached an integer cast.
        {"selections", SquareJob("LT1e15,3;SP-nan;PC1e99,1,2,3;PM1e300;PM2;PU0,0;PD100,100;")}};
    for (const auto& [name, stream] : drawn) {
        const Rendering r = Draw(stream, 40);
        EXPECT_TRUE(r.ok) << name << ": " << r.error;
        EXPECT_EQ(r.Width(), 394) << name;
    }
    // Bands the stream cannot hold or places before the sheet, sheets no
    // roll holds, numbers that never end.
    const std::pair<std::string, const char*> refused[] = {
        {SquareJob(WhiteBand(5000, 5000, 64, 8, std::string("\x02\x00", 2))),
         "MMR band whose codes are not rows of its width"},
        {SquareJob(WhiteBand(5000, 5000, 1u << 30, 8, "\xff")), "raster band of"},
        {"\x1b%-12345X@PJL\r\n\x1b%0B;IN;" + WhiteBand(0, 0, 64, 8, "\xff") + "PG;",
         "raster before the page size"},
        {SquareJob("PU-;PD1,1;"), "a sign or point without a number"},
        {"\x1b%-12345X@PJL\r\n\x1b%0B;IN;PS1e150,10;PG;", "larger than any roll takes"},
        {"\x1b%-12345X@PJL\r\n\x1b%0B;IN;PS1600000,36576;PG;", "a sheet of 1575 x 36 in"},
        {SquareJob("LB\"" + std::string(5000, 'x')), "a label longer than 4096 bytes"},
        {"\x1b%-12345X@PJL " + std::string(5000, 'x'), "a PJL line longer than 4096 bytes"}};
    for (const auto& [stream, why] : refused) {
        const Rendering r = Draw(stream, 100);
        EXPECT_FALSE(r.ok) << why;
        EXPECT_NE(r.error.find(why), std::string::npos) << r.error;
    }
}

TEST_F(Preview, DriverVectorsLandOnTheirPixels) {
    InstallDriver();
    for (const bool vcgl : {false, true}) {
        SCOPED_TRACE(vcgl ? "VCGL" : "RTL");
        // A 0.5 mm line from 2 to 10 inches at 2 inches, a filled square at (12, 6) inches.
        const double steps = vcgl ? 800 : 1016;
        auto at = [steps](double inches) { return static_cast<std::uint16_t>(inches * steps); };
        Plot plot("line");
        plot.Width(0.5 / 25.4);
        plot.Move(at(2), at(2));
        plot.Draw(at(10), at(2));
        plot.Polygon(7, {{at(12), at(6)}, {at(13), at(6)}, {at(13), at(7)}, {at(12), at(7)}});
        std::string error;
        const std::string stream = StreamOf(plot, Record(vcgl, 400), &error);
        ASSERT_FALSE(stream.empty()) << error;
        const Rendering r = Draw(stream, 100);
        ASSERT_TRUE(r.ok) << r.error;
        const int row = r.Height() - 200;  // y = 2 inches
        for (int x : {210, 600, 990}) EXPECT_LT(At(r, x, row), 60) << x;
        EXPECT_EQ(At(r, 600, row - 4), 255);  // 0.5 mm is two pixels wide
        EXPECT_EQ(At(r, 600, row + 4), 255);
        EXPECT_EQ(At(r, 190, row), 255);  // before the start
        EXPECT_EQ(At(r, 1010, row), 255);
        // Inside the square: black (RTL) or its halftone (VCGL) darkens the area.
        double sum = 0;
        for (int y = r.Height() - 690; y < r.Height() - 610; ++y)
            for (int x = 1210; x < 1290; ++x) sum += At(r, x, y);
        EXPECT_LT(sum / (80.0 * 80.0), vcgl ? 200 : 40);
    }
}

TEST_F(Preview, DriverImageComesBackBitForBit) {
    InstallDriver();
    // A bilevel scan of 500 x 100 pixels placed so that the grid is the scan itself.
    const int sw = 500, sh = 100;
    auto set = [](int x, int y) {
        return (x * 7 + y * 3) % 11 < 4 || (x - 250) * (x - 250) + (y - 50) * (y - 50) < 900;
    };
    Image scan;
    scan.width = sw, scan.height = sh, scan.bilevel = true;
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) scan.pixels.push_back(set(x, y) ? 1 : 0);
    Plot plot("scan");
    // 400 dpi: 2.54 host steps (1/1016 inch) a pixel.
    plot.DrawImage(plot.AddImage(scan), {2000, 3000, 2000 + sw * 254 / 100, 3000 + sh * 254 / 100});
    std::string error;
    const std::string stream = StreamOf(plot, Record(false, 400), &error);
    ASSERT_FALSE(stream.empty()) << error;
    preview::Options options;
    options.dpi = 20;
    int width = 0, rows = 0, bands = 0;
    std::vector<std::uint8_t> band;
    options.bandRow = [&](int b, int w, int n, int, const std::uint8_t* bits) {
        bands = b + 1, width = w, rows = n;
        band.insert(band.end(), bits, bits + (w + 7) / 8);
    };
    ASSERT_TRUE(Render(stream, options).ok);
    // Along the sheet's long edge a raster row is a column of the scan, its
    // pixels running up the sheet; the row is padded white to a multiple of
    // 32, plus 32.
    ASSERT_EQ(bands, 1);
    ASSERT_EQ(rows, sw);
    ASSERT_EQ(width, 160);
    for (int r = 0; r < rows; ++r)
        for (int p = 0; p < width; ++p) {
            const bool black = band[r * (width / 8) + p / 8] & (0x80 >> (p % 8));
            ASSERT_EQ(black, p < sh && set(r, sh - 1 - p)) << r << "," << p;
        }
}

TEST_F(Preview, DriverBandsOfALargeImageAbut) {
    InstallDriver();
    // A black image of 7,200 lines, cut into bands. At 600 dpi the first
    // line is not fetched, and the 7,199 rows sent make bands of 224 rows
    // while 7,200 would make 256: the device must still move by 224.
    Image black;
    black.width = black.height = 16;
    black.pixels.assign(16 * 16 * 3, 0);
    constexpr int kDpi = 50;
    for (const bool vcgl : {false, true})
        for (const bool across : {false, true}) {
            SCOPED_TRACE(std::string(vcgl ? "VCGL" : "RTL") + (across ? ", across" : ", along"));
            ConfigRecord c = DefaultConfigRecord(0);
            if (vcgl) c.modeFlags = kModeVcgl | kResolution400;
            if (across) c.paperIndex = 33, c.customLengthMm = 600;  // A0 width, wider than long
            RecordBytes record;
            EncodeConfigRecord(c, record.data());
            // 7,200 lines: 12,193 units at 600 dpi, 14,400 at 400 dpi.
            const int lines = vcgl ? 14400 : 12193, pixels = vcgl ? 4252 : 3601;
            const int dx = across ? pixels : lines, dy = across ? lines : pixels;
            Plot plot("big");
            plot.DrawImage(plot.AddImage(black), {1000, 1000, 1000 + dx, 1000 + dy});
            std::string error;
            const std::string stream = StreamOf(plot, record, &error);
            ASSERT_FALSE(stream.empty()) << error;
            const Rendering r = Draw(stream, kDpi);
            ASSERT_TRUE(r.ok) << r.error;
            int left = r.Width(), right = -1, top = r.Height(), bottom = -1;
            for (int y = 0; y < r.Height(); ++y)
                for (int x = 0; x < r.Width(); ++x)
                    if (At(r, x, y) < 128)
                        left = std::min(left, x), right = std::max(right, x),
                        top = std::min(top, y), bottom = std::max(bottom, y);
            ASSERT_GE(right, left);
            // The image is as long as the rows sent, not longer...
            const int rows = vcgl ? 7200 : 7199, dpi = vcgl ? 400 : 600;
            EXPECT_NEAR(across ? bottom - top + 1 : right - left + 1, rows * kDpi / dpi, 2);
            // ...and no row or column inside it is white.
            int light = 0;
            for (int y = top + 1; y < bottom; ++y)
                for (int x = left + 1; x < right; ++x) light += At(r, x, y) < 128 ? 0 : 1;
            EXPECT_EQ(light, 0);
        }
}

// Bits from a fixed pseudo-random sequence, about `percent` of them black.
Bits Noise(int width, int rows, int percent) {
    Bits bits(width, rows);
    std::uint32_t state = 12345;
    for (int r = 0; r < rows; ++r)
        for (int p = 0; p < width; ++p) {
            state = state * 1664525 + 1013904223;
            if ((state >> 8) % 100 < static_cast<std::uint32_t>(percent)) bits.Set(p, r);
        }
    return bits;
}
// 4 x 3 inches along the feed, or across it.
std::string SmallSheet(bool longEdge) {
    return longEdge ? "PS4064,3048IP0,0,4064,3048SC0,4064,0,3048;"
                    : "PS3048,4064IP0,0,4064,3048SC0,4064,0,3048;";
}

TEST_F(Preview, OpaqueBandsOnPaperDrawAsTransparentOnes) {
    // On white paper an opaque band prints what a transparent one does, but
    // reaches its levels another way (every preview pixel, by table, a
    // block at a time): the two must agree pixel for pixel, inside preview
    // pixels the band covers in part, across tile seams and at ratios that
    // are and are not whole.
    const Bits bits = Noise(700, 300, 40);
    const std::string coded = G4(bits, Path("band.tif"));
    for (const bool longEdge : {true, false})
        for (const double dpi : {127.0, 100.0, 37.0}) {
            SCOPED_TRACE(std::string(longEdge ? "along, " : "across, ") + std::to_string(dpi));
            std::vector<std::uint8_t> grey[2];
            for (const bool opaque : {false, true}) {
                const std::string band = RtlBand(longEdge ? 1900 : 2500, 472, bits, coded, opaque);
                const Rendering r = Draw(RtlJob(SmallSheet(longEdge), band), dpi);
                ASSERT_TRUE(r.ok) << r.error;
                grey[opaque] = grey_;
            }
            ASSERT_EQ(grey[0].size(), grey[1].size());
            int inked = 0, differ = 0;
            for (std::size_t i = 0; i < grey[0].size(); ++i)
                inked += grey[0][i] != 255, differ += grey[0][i] != grey[1][i];
            EXPECT_GT(inked, 1000);
            EXPECT_EQ(differ, 0);
        }
}

TEST_F(Preview, BandsMeetingInsidePreviewPixelsDrawAsOneBand) {
    // One band, or the same rows in two bands whose seam falls inside
    // preview pixels (the first band's part of them is carried into the
    // second), over a black square that transparent white leaves and opaque
    // white covers.
    const Bits whole = Noise(600, 200, 30);
    Bits first(600, 100), second(600, 100);
    const std::size_t half = whole.data.size() / 2;
    std::copy(whole.data.begin(), whole.data.begin() + half, first.data.begin());
    std::copy(whole.data.begin() + half, whole.data.end(), second.data.begin());
    const std::string square = "PU500,200;PM0PD3500,200,3500,2800,500,2800;PM2FP";
    for (const bool longEdge : {true, false})
        for (const bool opaque : {false, true})
            for (const double dpi : {127.0, 71.0}) {
                SCOPED_TRACE(std::string(longEdge ? "along, " : "across, ") +
                             (opaque ? "opaque, " : "transparent, ") + std::to_string(dpi));
                const int x = longEdge ? 1000 : 2500, y = 600;
                // 100 rows are 254 units: the second band starts where the first ends.
                const int x2 = longEdge ? x + 254 : x, y2 = longEdge ? y : y + 254;
                const Rendering one =
                    Draw(RtlJob(SmallSheet(longEdge),
                                square + RtlBand(x, y, whole, G4(whole, Path("w.tif")), opaque)),
                         dpi);
                ASSERT_TRUE(one.ok) << one.error;
                const std::vector<std::uint8_t> expected = grey_;
                const Rendering two =
                    Draw(RtlJob(SmallSheet(longEdge),
                                square + RtlBand(x, y, first, G4(first, Path("a.tif")), opaque) +
                                    RtlBand(x2, y2, second, G4(second, Path("b.tif")), opaque)),
                         dpi);
                ASSERT_TRUE(two.ok) << two.error;
                ASSERT_EQ(grey_.size(), expected.size());
                int differ = 0, most = 0;
                for (std::size_t i = 0; i < expected.size(); ++i)
                    if (grey_[i] != expected[i])
                        ++differ, most = std::max(most, std::abs(grey_[i] - expected[i]));
                EXPECT_EQ(differ, 0) << "by up to " << most;
            }
}

TEST_F(Preview, RowsBeyondAByteOfCountsStillCount) {
    // At 1 dpi a preview pixel takes 400 x 400 pixels of a 400 dpi band,
    // more rows than a byte counts: three rows in four black print 75 %.
    Bits bits(800, 800);
    for (int r = 0; r < 800; ++r)
        for (int p = 0; p < 800; ++p)
            if (r % 4 != 0) bits.Set(p, r);
    const std::string coded = G4(bits, Path("band.tif"));
    for (const bool longEdge : {true, false})
        for (const bool opaque : {false, true}) {
            SCOPED_TRACE(std::string(longEdge ? "along, " : "across, ") +
                         (opaque ? "opaque" : "transparent"));
            // Two inches square, its corner on a preview pixel's corner.
            const std::string band = RtlBand(longEdge ? 1016 : 3048, 1016, bits, coded, opaque);
            const Rendering r = Draw(RtlJob(SmallSheet(longEdge), band), 1);
            ASSERT_TRUE(r.ok) << r.error;
            int full = 0;
            for (int y = 0; y < r.Height(); ++y)
                for (int x = 0; x < r.Width(); ++x)
                    if (At(r, x, y) != 255) {
                        EXPECT_EQ(At(r, x, y), 255 - 191) << x << "," << y;
                        ++full;
                    }
            EXPECT_EQ(full, 4);
        }
}

// Rows [from, to) of `bits`.
Bits Slice(const Bits& bits, int from, int to) {
    Bits slice(bits.width, to - from);
    const std::size_t row = static_cast<std::size_t>((bits.width + 7) / 8);
    std::copy(bits.data.begin() + from * row, bits.data.begin() + to * row, slice.data.begin());
    return slice;
}

TEST_F(Preview, PreviewPixelsSpanningSeveralBandsCountAllTheirRows) {
    // At 1 dpi a preview pixel takes 400 rows, more than a byte counts; the
    // band starts a quarter of a preview pixel in and comes in five bands,
    // two of them wholly inside one preview pixel, whose rows (and those
    // carried into them) all go on to the next band. Rows but every 16th
    // are black: the one preview pixel covered whole prints 375 / 400.
    Bits whole(800, 1000);
    for (int r = 0; r < 1000; ++r)
        for (int p = 0; p < 800; ++p)
            if (r % 16 != 0) whole.Set(p, r);
    const std::vector<int> seams = {0, 100, 200, 350, 500, 1000};  // in rows, 2.54 units each
    for (const bool longEdge : {true, false})
        for (const bool opaque : {false, true}) {
            SCOPED_TRACE(std::string(longEdge ? "along, " : "across, ") +
                         (opaque ? "opaque" : "transparent"));
            auto band = [&](int from, int to) {
                const Bits bits = Slice(whole, from, to);
                const int x = longEdge ? 1270 + from * 254 / 100 : 1270;
                const int y = longEdge ? 254 : 254 + from * 254 / 100;
                return RtlBand(x, y, bits, G4(bits, Path("band.tif")), opaque);
            };
            const Rendering one = Draw(RtlJob(SmallSheet(longEdge), band(0, 1000)), 1);
            ASSERT_TRUE(one.ok) << one.error;
            const std::vector<std::uint8_t> expected = grey_;
            int dark = 0;
            for (const std::uint8_t g : expected)
                if (g < 50) {
                    EXPECT_EQ(int{g}, 255 - 239);
                    ++dark;
                }
            EXPECT_EQ(dark, 1);
            std::string bands;
            for (std::size_t s = 0; s + 1 < seams.size(); ++s)
                bands += band(seams[s], seams[s + 1]);
            const Rendering five = Draw(RtlJob(SmallSheet(longEdge), bands), 1);
            ASSERT_TRUE(five.ok) << five.error;
            ASSERT_EQ(grey_.size(), expected.size());
            for (std::size_t i = 0; i < expected.size(); ++i)
                EXPECT_EQ(int{grey_[i]}, int{expected[i]}) << "preview pixel " << i;
        }
}

// Rows are decoded ahead of the painter a few hundred at a time: they still
// come in order, bit for bit, and a band that does not decode is reported.
TEST_F(Preview, BandRowsComeInOrderAndABrokenBandIsReported) {
    const int rows = 1500;
    Bits bits(300, rows);
    for (int r = 0; r < rows; ++r)
        for (int p = 0; p < 300; ++p)
            if ((p * 5 + r * 3) % 17 < 6) bits.Set(p, r);
    const std::size_t bytes = 300 / 8 + 1;
    for (const bool broken : {false, true}) {
        // 0000001 starts no code of two-dimensional coding.
        const std::string coded = broken ? std::string("\x02\x00", 2) : G4(bits, Path("band.tif"));
        const Bits& band = broken ? Bits(300, 60) : bits;
        preview::Options options;
        options.dpi = 100;
        int seen = 0;
        options.bandRow = [&](int, int, int, int row, const std::uint8_t* got) {
            EXPECT_EQ(row, seen++);
            EXPECT_EQ(std::memcmp(got, bits.data.data() + bytes * row, bytes), 0) << row;
        };
        const Rendering r = Render(RtlJob(kLongEdge, RtlBand(2540, 2540, band, coded)), options);
        EXPECT_EQ(r.ok, !broken) << r.error;
        EXPECT_EQ(seen, broken ? 0 : rows);
        if (broken) {
            EXPECT_NE(r.error.find("MMR band whose codes are not rows"), std::string::npos)
                << r.error;
        }
    }
}

}  // namespace
}  // namespace varnu::host::testing

namespace varnu::host::testing {
namespace {

using preview::Fill;
using preview::Point;
using preview::Rect;
using preview::Sheet;

std::vector<std::uint8_t> Rows(const Sheet& sheet) {
    std::vector<std::uint8_t> all;
    sheet.ForEachRow(
        [&](const std::uint8_t* row) { all.insert(all.end(), row, row + sheet.Width()); });
    return all;
}

// Strokes, polygons, rectangles and raster pixels all over a sheet of 6 x 4
// tiles, the same on every sheet given; `many` strokes one tile past the
// marks it may keep waiting.
void DrawMixed(Sheet& sheet, bool many) {
    std::uint32_t seed = 12345;
    auto next = [&](int n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<double>((seed >> 8) % (n * 16)) / 16;
    };
    static const std::array<std::uint16_t, 16> kCell = {0xAAAA, 0x5555, 0xF0F0, 0x0F0F};
    const Rect whole = sheet.Whole(), window{100.5, 80.25, 1300.75, 900.5};
    for (int i = 0; i < 300; ++i) {
        const Point a{next(1536), next(1024)}, b{next(1536), next(1024)}, c{next(1536), next(1024)};
        const Rect& clip = i % 3 == 0 ? window : whole;
        switch (i % 5) {
            case 0:
                sheet.FillPolygon({a, b, c}, Fill{static_cast<std::uint8_t>(i)}, clip);
                break;
            case 1:
                sheet.FillPolygon({a, b, c, {a.x, c.y}}, Fill{255, &kCell, 1.5}, clip);
                break;
            case 2:
                sheet.FillRect({a.x, a.y, a.x + next(300), a.y + next(300)}, 40);
                break;
            case 3:
                for (int y = 0; y < 40; ++y) *sheet.Pixel(int(a.x) + y / 3, int(a.y) / 2 + y) = 200;
                break;
            default:
                sheet.Stroke({a, b, c}, next(12), static_cast<std::uint8_t>(255 - i), clip);
        }
    }
    sheet.FillRect({256, 256, 512, 512}, 90);  // a whole tile over whatever it held
    if (many)
        for (int i = 0; i < 8300; ++i)
            sheet.Stroke({{600 + next(200), 300 + next(200)}, {600 + next(200), 300 + next(200)}},
                         1, 255, whole);
}

// However few tiles stay open, what waits for a closed tile draws as it
// would have at once: the same pixels from every budget.
TEST(Sheet, VectorsDrawTheSameWhateverTheTilesOpen) {
    for (const bool many : {false, true}) {
        SCOPED_TRACE(many ? "a long list of marks" : "mixed");
        Sheet open(1536, 1024, 1), some(1536, 1024, 1, 5 * 65536), one(1536, 1024, 1, 65536);
        DrawMixed(open, many);
        DrawMixed(some, many);
        DrawMixed(one, many);
        const std::vector<std::uint8_t> reference = Rows(open);
        EXPECT_GT(std::count_if(reference.begin(), reference.end(), [](int v) { return v < 255; }),
                  100000);
        EXPECT_TRUE(Rows(some) == reference);
        EXPECT_TRUE(Rows(one) == reference);
    }
}

}  // namespace
}  // namespace varnu::host::testing
