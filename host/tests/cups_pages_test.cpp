// CUPS raster pages in process: the rows kept compressed in memory and in
// scratch, a full scratch folder, pages placed on the sheet before a line
// is read, the margins cut off a page that is the whole paper, and custom
// widths on the narrowest roll.
#include <cups/raster.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <random>

#include "model/fit.h"
#include "readers/cups_options.h"
#include "readers/cups_page.h"
#include "readers/cups_raster.h"
#include "readers/ipp_media.h"
#include "sinks/row_spool.h"
#include "sinks/stream_sink.h"
#include "support.h"
#include "varnu/config_record.h"
#include "varnu/printer_tables.h"

namespace varnu::host::testing {
namespace {

class CupsPages : public HostTest {};

constexpr double kMm = 1 / 25.4;

// The grey of raster pixel (x, y).
unsigned char Grey(std::int64_t x, std::int64_t y) {
    return static_cast<unsigned char>(x * 7 + y * 13);
}

struct PageHeader {
    unsigned widthPt = 595, lengthPt = 842;  // A4
    unsigned dpi = 200;
    unsigned width = 0, lines = 0;  // pixels; 0: the page size at dpi
    unsigned marginField = 0;       // millimetres plus one
    long written = -1;              // lines written; -1: all
};

// One grey page of Grey() pixels.
void WritePage(const std::string& path, const PageHeader& p) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.HWResolution[0] = h.HWResolution[1] = p.dpi;
    h.PageSize[0] = p.widthPt, h.PageSize[1] = p.lengthPt;
    h.cupsWidth = p.width != 0 ? p.width : p.widthPt * p.dpi / 72;
    h.cupsHeight = p.lines != 0 ? p.lines : p.lengthPt * p.dpi / 72;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = h.cupsWidth;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsInteger[varnu::kMarginField] = p.marginField;
    cupsRasterWriteHeader2(raster, &h);
    std::vector<unsigned char> line(h.cupsWidth);
    const long lines = p.written >= 0 ? p.written : static_cast<long>(h.cupsHeight);
    for (long y = 0; y < lines; ++y) {
        for (unsigned x = 0; x < h.cupsWidth; ++x) line[x] = Grey(x, y);
        cupsRasterWritePixels(raster, line.data(), h.cupsWidth);
    }
    cupsRasterClose(raster);
    close(fd);
}

// The page's first header read, and its settings.
struct OpenPage {
    explicit OpenPage(const std::string& path) : fd(open(path.c_str(), O_RDONLY)), pages(fd) {}
    ~OpenPage() { close(fd); }
    bool Start(ConfigureOptions* settings, std::string* error) {
        return pages.Open(error) && pages.Next() && pages.Settings(1, settings, error);
    }
    int fd;
    RasterPages pages;
};

// Where pixel (x, y) of the picture is in a band of one byte a pixel.
std::uint8_t PixelOf(const host::Band& band, std::int32_t x, std::int32_t y) {
    const std::ptrdiff_t dx = x - band.x, dy = y - band.y;
    EXPECT_TRUE(dx >= 0 && dx < band.width && dy >= 0 && dy < band.height) << x << "," << y;
    return band.pixels[dx * (band.step != 0 ? band.step : 1) + dy * band.stride];
}

std::vector<std::uint8_t> RandomRows(std::size_t rows, std::size_t bytes) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> all(rows * bytes);
    for (std::uint8_t& b : all) b = static_cast<std::uint8_t>(random() % 3 == 0 ? random() : 255);
    return all;
}

TEST_F(CupsPages, RowsComeBackFromMemoryAndFromScratch) {
    constexpr std::size_t kRows = 3000, kBytes = 1000;
    const std::vector<std::uint8_t> all = RandomRows(kRows, kBytes);
    fs::create_directories(Path("scratch"));
    for (const std::size_t budget :
         {RowSpool::kMemoryBudget, std::size_t{0}, std::size_t{800000}}) {
        SCOPED_TRACE(budget);
        RowSpool spool;
        spool.Start(kBytes, Path("scratch"), budget);
        std::string error;
        for (std::size_t r = 0; r < kRows; ++r)
            ASSERT_TRUE(spool.Append(&all[r * kBytes], &error)) << error;
        ASSERT_TRUE(spool.Close(&error)) << error;
        EXPECT_EQ(spool.rows(), static_cast<std::int64_t>(kRows));
        EXPECT_EQ(spool.spilled(), budget < spool.compressedBytes());
        EXPECT_LT(spool.compressedBytes(), kRows * kBytes);
        EXPECT_TRUE(fs::is_empty(Path("scratch")));  // no name ever
        // From the last row up, as the driver takes them.
        for (std::int64_t r = kRows - 1; r >= 0; r -= 97) {
            const std::uint8_t* rows = nullptr;
            std::int64_t first = 0, count = 0;
            ASSERT_TRUE(spool.Block(r, &rows, &first, &count, &error)) << error;
            ASSERT_TRUE(r >= first && r < first + count);
            EXPECT_EQ(std::memcmp(rows + (r - first) * kBytes, &all[r * kBytes], kBytes), 0) << r;
        }
        const std::uint8_t* rows = nullptr;
        std::int64_t first = 0, count = 0;
        EXPECT_FALSE(spool.Block(kRows, &rows, &first, &count, &error));
    }
    // In tiles of 300 bytes of each row (the last 100): whole rows joined,
    // or a tile's rows alone.
    RowSpool tiles;
    tiles.Start(kBytes, Path("scratch"), 20000, 300);
    std::string error;
    for (std::size_t r = 0; r < kRows; ++r) ASSERT_TRUE(tiles.Append(&all[r * kBytes], &error));
    ASSERT_TRUE(tiles.Close(&error));
    EXPECT_TRUE(tiles.spilled());
    for (const std::int64_t r : {2999, 1500, 0}) {
        const std::uint8_t* rows = nullptr;
        std::int64_t first = 0, count = 0;
        for (const std::size_t t : {3, 0, 2}) {
            ASSERT_TRUE(tiles.Tile(r, t, &rows, &first, &count, &error)) << error;
            const std::size_t width = t == 3 ? 100 : 300;
            EXPECT_EQ(std::memcmp(rows + (r - first) * width, &all[r * kBytes + t * 300], width),
                      0);
        }
        ASSERT_TRUE(tiles.Block(r, &rows, &first, &count, &error)) << error;
        EXPECT_EQ(std::memcmp(rows + (r - first) * kBytes, &all[r * kBytes], kBytes), 0) << r;
    }
}

// A scratch folder on a file system of 256 KB, unmounted when it ends.
class FullFolder {
  public:
    explicit FullFolder(const std::string& path) : path_(path) {
        fs::create_directories(path);
        mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=256k") == 0;
    }
    ~FullFolder() {
        if (mounted_) umount(path_.c_str());
    }
    bool mounted() const { return mounted_; }

  private:
    std::string path_;
    bool mounted_ = false;
};

TEST_F(CupsPages, AFullScratchFolderIsNamedAndKeepsNothing) {
    const FullFolder full(Path("full"));
    if (!full.mounted()) GTEST_SKIP() << "no small file system can be mounted here (needs root)";
    const std::vector<std::uint8_t> all = RandomRows(2000, 1000);
    RowSpool spool;
    spool.Start(1000, Path("full"), 0);
    std::string error;
    bool appended = true;
    for (std::size_t r = 0; r < 2000 && appended; ++r)
        appended = spool.Append(&all[r * 1000], &error);
    if (appended) appended = spool.Close(&error);
    EXPECT_FALSE(appended);
    EXPECT_EQ(error, "cannot write the page's rows to a scratch file in " + Path("full") +
                         ": No space left on device");
    EXPECT_TRUE(fs::is_empty(Path("full")));

    // The printer stream held job by job: the same.
    StreamSink sink;
    ASSERT_TRUE(sink.Open({"-", {}, Path("full"), true}, &error)) << error;
    sink.Write(all.data(), all.size());
    EXPECT_FALSE(sink.CommitJob(&error));
    EXPECT_EQ(error, "writing the printer stream in a scratch file in " + Path("full") +
                         " failed: No space left on device");
    sink.Abandon();
    EXPECT_TRUE(fs::is_empty(Path("full")));
}

TEST_F(CupsPages, ANumberNoColourSpaceHasIsRefused) {
    // The colour space of the stream's header (after its sync word) patched
    // to a number the enumeration does not have.
    WritePage(Path("odd.ras"), {595, 842, 200, 0, 0, 0, 0});
    std::string bytes = Read(Path("odd.ras"));
    const std::uint32_t space = 0x44000000;
    bytes.replace(4 + offsetof(cups_page_header2_t, cupsColorSpace), 4,
                  reinterpret_cast<const char*>(&space), 4);
    Write("odd.ras", bytes);
    OpenPage odd(Path("odd.ras"));
    ConfigureOptions settings;
    std::string error;
    EXPECT_FALSE(odd.Start(&settings, &error));
    EXPECT_EQ(error, "page 1: only 8-bit grey or RGB raster, chunked, is printed");
}

TEST_F(CupsPages, EveryFixedFormatIsItsOwnPaperAtItsExactSize) {
    // The PPD's PageSize in whole points, either way round, as the raster
    // header carries it (A-Arch and the 310 x 435 mm format are 3 to 3.5
    // points larger than the driver's table).
    for (const varnu::FixedMedia& f : varnu::FixedFormats()) {
        const auto w = static_cast<unsigned>(std::lround(f.width / 2540.0 * 72));
        const auto l = static_cast<unsigned>(std::lround(f.length / 2540.0 * 72));
        for (const bool turned : {false, true}) {
            SCOPED_TRACE(f.ppd + (turned ? " turned" : ""));
            WritePage(Path("format.ras"), {turned ? l : w, turned ? w : l, 200, 8, 8, 0, 0});
            OpenPage page(Path("format.ras"));
            ConfigureOptions settings;
            std::string error;
            ASSERT_TRUE(page.Start(&settings, &error)) << error;
            EXPECT_EQ(settings.paper, std::to_string(f.row));
            EXPECT_FALSE(settings.length);
        }
    }
}

TEST_F(CupsPages, APageIsPlacedBeforeALineIsRead) {
    // 200,000 lines of A4 width said (8.5 m), ten given.
    WritePage(Path("tall.ras"), {595, 842, 600, 4960, 200000, 0, 10});
    OpenPage tall(Path("tall.ras"));
    ConfigureOptions settings;
    std::string error;
    ASSERT_TRUE(tall.Start(&settings, &error)) << error;
    Plot plot;
    const Sheet a4{297 * kMm, 210 * kMm, 1016};
    EXPECT_FALSE(tall.pages.ReadPage(a4, Path(""), &plot, &error));
    EXPECT_EQ(error, "page 1 (210 x 8467 mm) is larger than the sheet (297 x 210 mm)");
    EXPECT_EQ(tall.pages.rows().rows(), 0);
    EXPECT_TRUE(plot.steps().empty());
}

TEST_F(CupsPages, MarginsAreCutOffAPageThatIsTheWholePaper) {
    // A4 with 5 mm margins: the sheet 287 x 200 mm, the page 210 x 297 mm.
    const Sheet sheet{(297 - 10) * kMm, (210 - 10) * kMm, 1016};
    const Area page{595 / 72.0, 842 / 72.0};
    EXPECT_FALSE(FitPage(page, sheet, {false, 1, true}));
    const auto fit = FitPage(page, sheet, {false, 1, true, 5 * kMm});
    ASSERT_TRUE(fit);
    EXPECT_TRUE(fit->turned);
    EXPECT_NEAR(fit->cut.width, (842 / 72.0 - sheet.extentX) / 2, 1e-9);
    EXPECT_NEAR(fit->cut.height, (595 / 72.0 - sheet.extentY) / 2, 1e-9);
    EXPECT_EQ(fit->placement.x0, 0);
    EXPECT_EQ(fit->placement.x1, std::lround(sheet.extentX * 1016));
    // Within the slack a page is squeezed, not cut, as before; past the
    // margins it is refused.
    const auto slack = FitPage({sheet.extentY + 0.01, sheet.extentX}, sheet, {false, 1, true, 1});
    ASSERT_TRUE(slack);
    EXPECT_EQ(slack->cut.width, 0);
    EXPECT_EQ(slack->cut.height, 0);
    EXPECT_FALSE(FitPage({page.width + 0.1, page.height}, sheet, {false, 1, true, 5 * kMm}));

    WritePage(Path("a4.ras"), {595, 842, 200, 0, 0, 5 + 1});
    OpenPage a4(Path("a4.ras"));
    ConfigureOptions settings;
    std::string error;
    ASSERT_TRUE(a4.Start(&settings, &error)) << error;
    EXPECT_EQ(settings.margin.value_or(0), 5);
    Plot plot;
    ASSERT_TRUE(a4.pages.ReadPage(sheet, Path(""), &plot, &error)) << error;
    // Turned: picture columns are raster rows from the bottom, picture rows
    // raster columns; what passes the sheet is cut at both edges.
    const std::int64_t rows = 842 * 200 / 72, columns = 595 * 200 / 72;
    const auto dots = FitPage({columns / 200.0, rows / 200.0}, sheet, {false, 1, true, 5 * kMm});
    ASSERT_TRUE(dots);
    const std::int64_t top = std::lround(dots->cut.width * 200);
    const std::int64_t left = std::lround(dots->cut.height * 200);
    EXPECT_EQ(top, 39);
    const Picture& picture = plot.pictures().at(0);
    EXPECT_EQ(picture.width, rows - 2 * top);
    EXPECT_EQ(picture.height, columns - 2 * left);
    EXPECT_EQ(plot.steps().at(0).placement.x1, fit->placement.x1);
    for (const bool column : {true, false})
        for (const std::int32_t index : {0, 1, 600, picture.width - 1}) {
            host::Band band;
            const std::int32_t line = column ? index : std::min(index, picture.height - 1);
            ASSERT_TRUE(picture.hold(column, line, &band, &error)) << error;
            for (const std::int32_t at : {0, 17, 500}) {
                const std::int32_t x = column ? line : at, y = column ? at : line;
                EXPECT_EQ(PixelOf(band, x, y), Grey(left + y, top + picture.width - 1 - x))
                    << x << "," << y;
            }
        }
}

TEST_F(CupsPages, ACustomWidthGoesOnTheNarrowestRoll) {
    const struct {
        unsigned widthPt, lengthPt;
        int row;  // of the paper formats
    } cases[] = {
        {2551, 5669, 23},  // 900 x 2000 mm: the 36-inch roll
        {1682, 3000, 34},  // the A1 width, not the wider 24-inch rolls
        {1729, 3000, 24},  // a little over 24 inches: a roll it fits within the slack
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.widthPt);
        WritePage(Path("custom.ras"), {c.widthPt, c.lengthPt, 200, 0, 0, 0, 0});
        OpenPage custom(Path("custom.ras"));
        ConfigureOptions settings;
        std::string error;
        ASSERT_TRUE(custom.Start(&settings, &error)) << error;
        EXPECT_EQ(settings.paper.value_or(""), std::to_string(c.row));
        EXPECT_EQ(settings.length.value_or(0), std::lround(c.lengthPt / 72.0 * 25.4));
        EXPECT_GE(varnu::PaperFormat(0, c.row)->width * 72, c.widthPt - 2.5);
    }
}

#ifdef VARNU_PPD
// What pdftovarnu reads from a PPD queue's job: the PPD's choices and IPP's
// names for them make the settings a raster page with the same choices has.
TEST_F(CupsPages, TheJobsOptionsAreReadFromThePpdAsARasterHeaderCarriesThem) {
    const auto a2 = std::find_if(varnu::FixedFormats().begin(), varnu::FixedFormats().end(),
                                 [](const varnu::FixedMedia& f) { return f.ppd == "A2"; });
    ASSERT_NE(a2, varnu::FixedFormats().end());
    for (const char* text : {"PageSize=A2 Resolution=200dpi MediaType=film "
                             "VarnuFinishProgram=program3 VarnuMargin=5mm VarnuFill=Halftone",
                             "media=iso_a2_420x594mm printer-resolution=200dpi MediaType=film "
                             "VarnuFinishProgram=program3 VarnuMargin=5mm VarnuFill=Halftone",
                             // As the scheduler passes IPP's resolution.
                             "media=iso_a2_420x594mm printer-resolution=200x200dpi MediaType=film "
                             "VarnuFinishProgram=program3 VarnuMargin=5mm VarnuFill=Halftone"}) {
        SCOPED_TRACE(text);
        cups_option_t* options = nullptr;
        const int count = cupsParseOptions(text, 0, &options);
        cups_page_header2_t h;
        ConfigureOptions s;
        std::string error;
        ASSERT_TRUE(JobHeader(VARNU_PPD, count, options, &h, &error)) << error;
        cupsFreeOptions(count, options);
        ASSERT_TRUE(HeaderSettings(h, 2, "the job", &s, &error)) << error;
        EXPECT_EQ(s.paper, std::to_string(a2->row));
        EXPECT_EQ(s.resolution, 200);
        EXPECT_EQ(s.copies, 2);
        EXPECT_EQ(s.media, varnu::RowOf(varnu::MediaTypes(), "film"));
        EXPECT_EQ(s.program, 3);
        EXPECT_EQ(s.margin, 5);
        EXPECT_EQ(s.fill, "halftone");
    }
    // The PPD's defaults alone; a length of roll; no PPD.
    cups_page_header2_t h;
    ConfigureOptions s;
    std::string error;
    ASSERT_TRUE(JobHeader(VARNU_PPD, 0, nullptr, &h, &error)) << error;
    ASSERT_TRUE(HeaderSettings(h, 1, "the job", &s, &error)) << error;
    EXPECT_EQ(s.resolution, 600);
    EXPECT_EQ(s.paper, std::to_string(varnu::DefaultConfigRecord(0).paperIndex));
    cups_option_t* custom = nullptr;
    const int count = cupsParseOptions("PageSize=Custom.612x2000", 0, &custom);
    ASSERT_TRUE(JobHeader(VARNU_PPD, count, custom, &h, &error)) << error;
    cupsFreeOptions(count, custom);
    ASSERT_TRUE(HeaderSettings(h, 1, "the job", &s, &error)) << error;
    EXPECT_EQ(s.length, 706);  // 2000 points
    EXPECT_FALSE(JobHeader(nullptr, 0, nullptr, &h, &error));
    EXPECT_FALSE(JobHeader(Path("none.ppd").c_str(), 0, nullptr, &h, &error));
    EXPECT_NE(error.find("cannot read the PPD"), std::string::npos) << error;
}
#endif

TEST_F(CupsPages, PageRangesNameEachPageOnceInOrder) {
    const struct {
        const char* text;
        std::vector<int> pages;  // from 0; empty: refused
    } cases[] = {{"", {0, 1, 2, 3, 4}},
                 {"2", {1}},
                 {"1-3,5", {0, 1, 2, 4}},
                 {"4-", {3, 4}},
                 {"-2", {0, 1}},
                 {"5,1-2,2", {4, 0, 1}},
                 {"3-100", {2, 3, 4}},
                 {"6-9", {}},
                 {"0", {}},
                 {"2-1", {}},
                 {"1-2-3", {}},
                 {"a", {}},
                 {"1,", {}},
                 {"+1", {}},
                 {"99999999999999999999", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<int> pages;
        std::string error;
        EXPECT_EQ(PageRanges(c.text, 5, &pages, &error), !c.pages.empty()) << error;
        if (c.pages.empty()) {
            EXPECT_NE(error.find("page-ranges"), std::string::npos);
        } else {
            EXPECT_EQ(pages, c.pages);
        }
    }
}

}  // namespace
}  // namespace varnu::host::testing
