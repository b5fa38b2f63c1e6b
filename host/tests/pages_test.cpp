// The readers of whole pages: a PDF through poppler and a CUPS raster
// stream, each page a picture fitted to the sheet and drawn in bands.
#include <cairo-pdf.h>
#include <cairo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "readers/cups_raster.h"
#include "readers/pdf.h"
#include "support.h"

namespace varnu::host::testing {
namespace {

class Pages : public HostTest {};

// An A4 page, white but for a black square of 1 inch at (1, 1) inch from its top left.
void WriteA4Pdf(const std::string& path, int pages) {
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 595, 842);
    cairo_t* cr = cairo_create(surface);
    for (int p = 0; p < pages; ++p) {
        cairo_rectangle(cr, 72, 72, 72, 72);
        cairo_fill(cr);
        cairo_show_page(cr);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

// The picture's band at (x, y) of w x h pixels.
std::vector<std::uint32_t> Band(const Plot& plot, std::int32_t x, std::int32_t y, std::int32_t w,
                                std::int32_t h) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h, 0xFFFFFF);
    std::string error;
    EXPECT_TRUE(plot.pictures().at(0).render(x, y, w, h, pixels.data(), &error)) << error;
    return pixels;
}

TEST_F(Pages, PdfPagesAtTheirSizeOrFittedAndDrawnInBands) {
    WriteA4Pdf(Path("a4.pdf"), 2);
    PdfDocument pdf;
    std::string error;
    ASSERT_TRUE(pdf.Open(Path("a4.pdf"), &error)) << error;
    EXPECT_EQ(pdf.pages(), 2);
    int first = 0, last = 0;
    EXPECT_TRUE(pdf.Pages("all", &first, &last, &error));
    EXPECT_EQ(last, 1);
    EXPECT_FALSE(pdf.Pages("3", &first, &last, &error));
    EXPECT_EQ(error, "--page 3: the PDF has 2 page(s); give 1..2 or all");

    Plot page;
    ASSERT_TRUE(pdf.PagePlot(1, kSheet, 100, {}, &page, &error)) << error;
    ASSERT_EQ(page.steps().size(), 1u);
    EXPECT_EQ(page.steps()[0].kind, Step::Kind::Picture);
    const Picture& picture = page.pictures()[0];
    EXPECT_EQ(picture.width, std::lround(595 / 72.0 * 100));
    EXPECT_EQ(picture.height, std::lround(842 / 72.0 * 100));
    EXPECT_EQ(picture.label, "page 2");
    const Placement& at = page.steps()[0].placement;
    EXPECT_EQ(at.x0, std::lround((48 - 595 / 72.0) / 2 * 1016));
    // The square, 100 pixels from the top left at 100 dpi, in a band of the page.
    const std::vector<std::uint32_t> band = Band(page, 0, 90, 300, 120);
    EXPECT_EQ(band[20 * 300 + 150] & 0xFFFFFF, 0u);         // inside the square
    EXPECT_EQ(band[5 * 300 + 150] & 0xFFFFFF, 0xFFFFFFu);   // above it
    EXPECT_EQ(band[20 * 300 + 250] & 0xFFFFFF, 0xFFFFFFu);  // right of it

    PdfOptions fit;
    fit.fit = true;
    ASSERT_TRUE(pdf.PagePlot(0, kSheet, 100, fit, &page, &error));
    EXPECT_EQ(page.pictures()[0].height, 3600);  // as tall as the sheet
    PdfOptions large;
    large.scale = 5;
    EXPECT_FALSE(pdf.PagePlot(0, kSheet, 100, large, &page, &error));
    EXPECT_NE(error.find("page 1: the page (1050 x 1485 mm at scale 5) does not fit"),
              std::string::npos)
        << error;

    // Cut short in transfer: refused, not printed as if it were all.
    const std::string bytes = Read(Path("a4.pdf"));
    Write("cut.pdf", bytes.substr(0, bytes.size() / 2));
    PdfDocument cut;
    EXPECT_FALSE(cut.Open(Path("cut.pdf"), &error));
    EXPECT_EQ(error, "not a complete PDF (no end-of-file marker; truncated?)");
}

// A raster stream of one 8-bit page of `space`, 200 dpi, lines of `grey`.
void WriteRaster(const std::string& path, unsigned widthPt, unsigned lengthPt, unsigned bits,
                 cups_cspace_t space = CUPS_CSPACE_SW) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.HWResolution[0] = h.HWResolution[1] = 200;
    h.PageSize[0] = widthPt, h.PageSize[1] = lengthPt;
    h.cupsWidth = widthPt * 200 / 72, h.cupsHeight = lengthPt * 200 / 72;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = bits;
    h.cupsBytesPerLine = (h.cupsWidth * bits + 7) / 8;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = space;
    h.cupsInteger[1] = 2;  // the PPD's fill: halftone
    cupsRasterWriteHeader2(raster, &h);
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
        for (unsigned x = 0; x < line.size(); ++x) line[x] = static_cast<unsigned char>(x + y);
        cupsRasterWritePixels(raster, line.data(), h.cupsBytesPerLine);
    }
    cupsRasterClose(raster);
    close(fd);
}

// Where pixel (x, y) of the picture is in a band of one byte a pixel.
const std::uint8_t* PixelOf(const host::Band& band, std::int32_t x, std::int32_t y) {
    const std::ptrdiff_t dx = x - band.x, dy = y - band.y;
    EXPECT_TRUE(dx >= 0 && dx < band.width && dy >= 0 && dy < band.height) << x << "," << y;
    return band.pixels + dx * (band.step != 0 ? band.step : 1) + dy * band.stride;
}

TEST_F(Pages, RasterPagesAsSettingsAndPictures) {
    WriteRaster(Path("a3.ras"), 842, 1191, 8);
    const int fd = open(Path("a3.ras").c_str(), O_RDONLY);
    RasterPages pages(fd);
    std::string error;
    ASSERT_TRUE(pages.Open(&error));
    ASSERT_TRUE(pages.Next());
    ConfigureOptions settings;
    ASSERT_TRUE(pages.Settings(150, &settings, &error)) << error;
    EXPECT_EQ(settings.copies, 99);
    EXPECT_EQ(settings.resolution, 200);
    EXPECT_EQ(settings.fill, "halftone");
    ASSERT_TRUE(settings.paper);
    EXPECT_FALSE(settings.length);  // A3 is a format of its own
    fs::create_directories(Path("spool"));
    // Taller than a sheet 914.4 mm high? No: at its own size, upright.
    Plot plot;
    ASSERT_TRUE(pages.ReadPage(kSheet, Path("spool"), &plot, &error)) << error;
    EXPECT_TRUE(fs::is_empty(Path("spool")));  // the page's lines have no name
    const Picture& picture = plot.pictures()[0];
    EXPECT_EQ(picture.width, 842 * 200 / 72);
    EXPECT_EQ(picture.height, 1191 * 200 / 72);
    // Grey pixels come back as they were written, in rows and in columns.
    for (const bool column : {false, true})
        for (const std::int32_t index : {0, 7, 1000}) {
            host::Band band;
            ASSERT_TRUE(picture.hold(column, index, &band, &error)) << error;
            EXPECT_EQ(band.format, PixelFormat::Grey);
            const std::int32_t x = column ? index : 3, y = column ? 5 : index;
            EXPECT_EQ(*PixelOf(band, x, y), static_cast<unsigned char>(x + y));
        }
    EXPECT_FALSE(pages.Next());
    close(fd);

    WriteRaster(Path("onebit.ras"), 842, 1191, 1);
    const int onebit = open(Path("onebit.ras").c_str(), O_RDONLY);
    RasterPages refused(onebit);
    ASSERT_TRUE(refused.Open(&error));
    ASSERT_TRUE(refused.Next());
    EXPECT_FALSE(refused.Settings(1, &settings, &error));
    EXPECT_EQ(error, "page 1: only 8-bit grey or RGB raster, chunked, is printed");
    close(onebit);
}

}  // namespace
}  // namespace varnu::host::testing
