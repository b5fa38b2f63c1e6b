// HP-RTL raster in plot files: every compression mode a plot file uses
// gives the same image, placed where the active position and the paper's
// feed say, in one bit or in colour.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <string>
#include <vector>

#include "readers/hpgl.h"
#include "support.h"

namespace varnu::host::testing {
namespace {

constexpr int kWidth = 20, kRows = 6, kRowBytes = 3;

// A one-bit image with a repeated row and a white one.
std::vector<std::vector<std::uint8_t>> Rows() {
    std::vector<std::vector<std::uint8_t>> rows(kRows, std::vector<std::uint8_t>(kRowBytes, 0));
    for (int r = 0; r < kRows; ++r)
        for (int p = 0; p < kWidth; ++p) {
            const int source = r == 3 ? 2 : r;  // row 3 repeats row 2
            if (r != 4 && (p + 2 * source) % 5 == 0) rows[r][p / 8] |= 0x80 >> (p % 8);
        }
    return rows;
}

bool Bit(const std::vector<std::vector<std::uint8_t>>& rows, int r, int p) {
    return (rows[r][p / 8] >> (7 - p % 8)) & 1;
}

std::string Bytes(const std::vector<std::uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

std::string Transfer(const std::string& data, char op = 'W') {
    return "\x1b*b" + std::to_string(data.size()) + op + data;
}

// Each row coded in `mode` by the rules of HP-RTL's compression.
std::string Coded(int mode, const std::string& scratch) {
    const auto rows = Rows();
    std::string out;
    std::vector<std::uint8_t> seed(kRowBytes, 0);
    for (const auto& row : rows) {
        std::string d;
        if (mode == 0) d = Bytes(row);
        if (mode == 1)  // runs: count - 1, byte
            for (std::size_t i = 0; i < row.size();) {
                std::size_t n = 1;
                while (i + n < row.size() && row[i + n] == row[i]) ++n;
                d += static_cast<char>(n - 1), d += static_cast<char>(row[i]), i += n;
            }
        if (mode == 2) d = static_cast<char>(row.size() - 1) + Bytes(row);  // one literal run
        if (mode == 3) {  // each changed byte, offset from the last one replaced
            std::size_t last = 0;
            for (std::size_t i = 0; i < row.size(); ++i)
                if (row[i] != seed[i]) {
                    d += static_cast<char>(i - last), d += static_cast<char>(row[i]);
                    last = i + 1;
                }
            seed = row;
        }
        if (mode <= 3) out += Transfer(d);
    }
    if (mode == 5) {  // one block: rows, a duplicate, an empty row
        std::string d;
        for (int r = 0; r < kRows; ++r) {
            if (r == 3)
                d += std::string("\x05\x00\x01", 3);
            else if (r == 4)
                d += std::string("\x04\x00\x01", 3);
            else
                d += std::string("\x00\x00", 2) + static_cast<char>(kRowBytes) + Bytes(rows[r]);
        }
        out = Transfer(d);
    }
    if (mode == 8) {  // libtiff's Group 4 coder; the width first
        TIFF* t = TIFFOpen(scratch.c_str(), "w");
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kWidth);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, kRows);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kRows);
        std::vector<std::uint8_t> all;
        for (const auto& row : rows) all.insert(all.end(), row.begin(), row.end());
        TIFFWriteEncodedStrip(t, 0, all.data(), static_cast<tmsize_t>(all.size()));
        TIFFClose(t);
        t = TIFFOpen(scratch.c_str(), "r");
        std::string code(static_cast<std::size_t>(TIFFRawStripSize(t, 0)), '\0');
        TIFFReadRawStrip(t, 0, code.data(), static_cast<tmsize_t>(code.size()));
        TIFFClose(t);
        out = Transfer(std::string("\0\0\0", 3) + static_cast<char>(kWidth) + code);
    }
    return out;
}

const std::string kPjl = "\x1b%-12345X@PJL\r\n@PJL ENTER LANGUAGE=HPGL2\r\n";

// The raster at (1016, 2032) at 300 dpi on a page of `size`.
std::string RasterJob(const std::string& size, const std::string& raster,
                      const std::string& settings = "") {
    return kPjl + "IN;PS" + size + ";PU1016,2032;\x1b%1A" + settings + "\x1b*t300R\x1b*r" +
           std::to_string(kWidth) + "s" + std::to_string(kRows) + "T\x1b*r1A" + raster +
           "\x1b*rC\x1b%0BPG;";
}

class HpglRaster : public HostTest {
  protected:
    const Picture* Load(const std::string& bytes) {
        Write("raster.plt", bytes);
        HpglOptions o;
        o.progress = false;
        std::string error;
        const bool ok = document_.Open(Path("raster.plt"), &error) &&
                        document_.PagePlot(0, kSheet, 600, o, &plot_, &error);
        EXPECT_TRUE(ok) << error;
        if (!ok || plot_.pictures().size() != 1) return nullptr;
        return &plot_.pictures()[0];
    }
    const Placement& At() const {
        for (const Step& s : plot_.steps())
            if (s.kind == Step::Kind::Picture) return s.placement;
        static const Placement none;
        return none;
    }
    // Pixel (x, y) of the picture from the top left: one byte, or RGB.
    static std::vector<std::uint8_t> Pixel(const Picture& p, int x, int y) {
        Band band;
        std::string error;
        EXPECT_TRUE(p.hold(false, y, &band, &error)) << error;
        const std::size_t size = p.bilevel ? 1 : 3;
        const std::ptrdiff_t step = band.step != 0 ? band.step : static_cast<std::ptrdiff_t>(size);
        const std::uint8_t* at = band.pixels + (x - band.x) * step + (y - band.y) * band.stride;
        return std::vector<std::uint8_t>(at, at + size);
    }

    HpglDocument document_;
    Plot plot_;
};

TEST_F(HpglRaster, EveryCompressionModeGivesTheSameImage) {
    const auto rows = Rows();
    for (const int mode : {0, 1, 2, 3, 5, 8}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const std::string raster =
            "\x1b*b" + std::to_string(mode) + "M" + Coded(mode, Path("g4.tif"));
        // The feed along the page's x: rows run right, their pixels up.
        const Picture* p = Load(RasterJob("48768,36576", raster));
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(p->bilevel);
        ASSERT_EQ(p->width, kRows);
        ASSERT_EQ(p->height, kWidth);
        for (int r = 0; r < kRows; ++r)
            for (int px = 0; px < kWidth; ++px)
                ASSERT_EQ(Pixel(*p, r, kWidth - 1 - px)[0], Bit(rows, r, px) ? 1 : 0)
                    << "row " << r << " pixel " << px;
        EXPECT_EQ(At().x0, 1016);
        EXPECT_EQ(At().y0, 2032);
        EXPECT_EQ(At().x1, 1016 + 20);  // 6 rows of 1016 / 300 steps
        EXPECT_EQ(At().y1, 2032 + 68);  // 20 pixels
        EXPECT_TRUE(At().transparent);
    }
}

TEST_F(HpglRaster, AcrossTheFeedRowsRunUpAndPixelsLeft) {
    const auto rows = Rows();
    // The feed along y (PS's length the shorter side); the source opaque.
    const Picture* p = Load(RasterJob("36576,48768", "\x1b*b0M" + Coded(0, ""), "\x1b*v1N"));
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->width, kWidth);
    ASSERT_EQ(p->height, kRows);
    for (int r = 0; r < kRows; ++r)
        for (int px = 0; px < kWidth; ++px)
            ASSERT_EQ(Pixel(*p, kWidth - 1 - px, kRows - 1 - r)[0], Bit(rows, r, px) ? 1 : 0);
    EXPECT_EQ(At().x1, 1016);
    EXPECT_EQ(At().x0, 1016 - 68);
    EXPECT_EQ(At().y0, 2032);
    EXPECT_FALSE(At().transparent);
}

TEST_F(HpglRaster, ColourPlanesAndDirectPixels) {
    // Simple colour RGB: three planes, pixel 0 red, pixel 1 yellow (R+G), pixel 2 white.
    std::string planes = Transfer(std::string("\xe0\0\0", 3), 'V') +
                         Transfer(std::string("\x60\0\0", 3), 'V') +
                         Transfer(std::string("\x20\0\0", 3));
    std::string raster;
    for (int r = 0; r < kRows; ++r) raster += planes;
    const Picture* p = Load(RasterJob("48768,36576", "\x1b*b0M" + raster, "\x1b*r3U"));
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(p->bilevel);
    EXPECT_EQ(Pixel(*p, 0, kWidth - 1), (std::vector<std::uint8_t>{255, 0, 0}));
    EXPECT_EQ(Pixel(*p, 0, kWidth - 2), (std::vector<std::uint8_t>{255, 255, 0}));
    EXPECT_EQ(Pixel(*p, 0, kWidth - 3), (std::vector<std::uint8_t>{255, 255, 255}));
    EXPECT_EQ(Pixel(*p, 0, kWidth - 4), (std::vector<std::uint8_t>{0, 0, 0}));
    // Direct by pixel, eight bits a primary.
    std::string row(3 * kWidth, '\x80');
    row[0] = '\x10', row[1] = '\x20', row[2] = '\x30';
    raster.clear();
    for (int r = 0; r < kRows; ++r) raster += Transfer(row);
    p = Load(RasterJob("48768,36576", "\x1b*b0M" + raster,
                       "\x1b*v6W" + std::string("\0\x03\x08\x08\x08\x08", 6)));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Pixel(*p, 0, kWidth - 1), (std::vector<std::uint8_t>{0x10, 0x20, 0x30}));
    EXPECT_EQ(Pixel(*p, 5, 0), (std::vector<std::uint8_t>{0x80, 0x80, 0x80}));
}

TEST_F(HpglRaster, SettingsChangedInsideAnImageDoNotChangeIt) {
    // Colours, width and planes asked for after the image began: its rows
    // keep the image's own (one plane of one bit), the next image takes them.
    std::string rows = "\x1b*b0M";
    for (const auto& row : Rows()) rows += Transfer(Bytes(row), 'V') + Transfer(Bytes(row));
    const Picture* p = Load(RasterJob("48768,36576", "\x1b*r3U\x1b*r9999S" + rows));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->bilevel);
    EXPECT_EQ(p->height, kWidth);
}

TEST_F(HpglRaster, ScaledToTheSizeAskedFor) {
    // 20 pixels drawn 2 inches across (1440 decipoints), 6 rows 3 inches
    // along: *r3A starts it scaled at the active position.
    const std::string job = kPjl + "IN;PS48768,36576;PU1016,2032;\x1b%1A\x1b*t300R\x1b*r20s6T" +
                            "\x1b*t1440h2160V\x1b*r3A\x1b*b0M" + Coded(0, "") + "\x1b*rC\x1b%0BPG;";
    ASSERT_NE(Load(job), nullptr);
    EXPECT_EQ(At().x0, 1016);
    EXPECT_EQ(At().x1, 1016 + 3048);
    EXPECT_EQ(At().y0, 2032);
    EXPECT_EQ(At().y1, 2032 + 2032);
}

}  // namespace
}  // namespace varnu::host::testing
