// PDF drawings through adihost: each page plotted, read back with
// `adihost render` and compared with poppler's own rendering of the page
// (pdftoppm), at a resolution coarse enough to see through the dither.
#include <cairo-pdf.h>
#include <cairo.h>
#include <gtest/gtest.h>

#include "pdf_sheets.h"

namespace varnu::testing {
namespace {

class PdfTest : public SheetTest {
  protected:
    // adihost refuses to plot `file` with `arguments`, saying `message`, and
    // writes nothing.
    void ExpectRefused(const std::string& file, const std::string& arguments,
                       const std::string& message) {
        const ProcessResult r =
            Adihost("plot " + Path(file) + " -o " + Path("out.prn") + " " + arguments + " --quiet");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(Path("out.prn")));
        EXPECT_FALSE(fs::exists(Path("out.prn.part")));
    }
};

// Two pages that differ where a swapped or mirrored page would show.
void WriteTwoPages(const std::string& path, double widthMm, double heightMm) {
    WriteDrawingPdf(path, widthMm, heightMm, 2);
}

// A page that fits the sheet, then one that does not.
void WriteMixedPdf(const std::string& path) {
    const double mm = 72 / 25.4;
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 200 * mm, 100 * mm);
    cairo_t* cr = cairo_create(surface);
    cairo_rectangle(cr, 10, 10, 100, 100);
    cairo_fill(cr);
    cairo_show_page(cr);
    cairo_pdf_surface_set_size(surface, 2000 * mm, 1000 * mm);
    cairo_rectangle(cr, 10, 10, 100, 100);
    cairo_fill(cr);
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

TEST_F(PdfTest, EveryPageComesBackAsPopplerDrawsIt) {
    ASSERT_EQ(Adihost("configure --defaults --resolution 200").status, 0);
    WriteTwoPages(Path("two.pdf"), 400, 250);
    const ProcessResult all =
        Adihost("plot " + Path("two.pdf") + " -o " + Path("all.prn") + " --page all --quiet");
    ASSERT_EQ(all.status, 0) << all.err;
    const std::vector<std::string> jobs = SplitJobs(Read(Path("all.prn")));
    ASSERT_EQ(jobs.size(), 2u);
    for (int page = 1; page <= 2; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const Picture sheet = RenderJob(jobs[page - 1], "sheet" + std::to_string(page));
        const Picture reference = PopplerPage(Path("two.pdf"), page, 0);
        const Match m = BestMatch(sheet, reference);
        EXPECT_LT(m.meanDifference, 6.0);
        EXPECT_LT(m.worstBlock, 80.0);
        // The other page does not match as well: the comparison sees content.
        const Match other = BestMatch(sheet, PopplerPage(Path("two.pdf"), 3 - page, 0));
        EXPECT_GT(other.meanDifference, 2 * m.meanDifference + 1);
    }
    // --page 2 alone is the second job of --page all, byte for byte.
    ASSERT_EQ(Adihost("plot " + Path("two.pdf") + " -o " + Path("two.prn") + " --page 2").status,
              0);
    EXPECT_EQ(Read(Path("two.prn")), jobs[1]);
}

TEST_F(PdfTest, A600DpiPageInManyBandsComesBackWhole) {
    // 600 x 400 mm at 600 dpi: columns of 9,449 pixels, eight bands of
    // 64 MB; a band lost, repeated or out of order shows at 50 dpi.
    ASSERT_EQ(Adihost("configure --defaults --resolution 600").status, 0);
    WriteDrawingPdf(Path("wide.pdf"), 600, 400, 1);
    ASSERT_EQ(Adihost("plot " + Path("wide.pdf") + " -o " + Path("wide.prn") + " --quiet").status,
              0);
    const Match m =
        BestMatch(RenderJob(Read(Path("wide.prn")), "wide"), PopplerPage(Path("wide.pdf"), 1, 0));
    EXPECT_LT(m.meanDifference, 6.0);
    EXPECT_LT(m.worstBlock, 80.0);
}

TEST_F(PdfTest, FitScaleTurnAndRotatedPages) {
    ASSERT_EQ(Adihost("configure --defaults --resolution 200").status, 0);
    // An A3 page fitted to the E-Arch sheet (48 x 36 inches): 2.2 times.
    WriteDrawingPdf(Path("a3.pdf"), 420, 297, 1);
    ASSERT_EQ(Adihost("plot " + Path("a3.pdf") + " -o " + Path("fit.prn") + " --fit").status, 0);
    {
        const Picture sheet = RenderJob(Read(Path("fit.prn")), "fit");
        const double scale = std::min(48 * 25.4 / 420, 36 * 25.4 / 297);
        const Match m = BestMatch(sheet, PopplerPage(Path("a3.pdf"), 1, 0, kPreviewDpi * scale));
        EXPECT_LT(m.meanDifference, 6.0);
    }
    // A tall page at 2.5 times its size fits only turned a quarter
    // clockwise: turned unless --rotate none forbids it.
    WriteDrawingPdf(Path("tall.pdf"), 297, 420, 1);
    const ProcessResult refused = Adihost("plot " + Path("tall.pdf") + " -o " + Path("tall.prn") +
                                          " --scale 2.5 --rotate none");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("does not fit the sheet"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(Path("tall.prn")));
    const ProcessResult turned =
        Adihost("plot " + Path("tall.pdf") + " -o " + Path("tall.prn") + " --scale 1:0.4");
    ASSERT_EQ(turned.status, 0) << turned.err;
    const Match m = BestMatch(RenderJob(Read(Path("tall.prn")), "tall"),
                              PopplerPage(Path("tall.pdf"), 1, 90, kPreviewDpi * 2.5));
    EXPECT_LT(m.meanDifference, 6.0);
    // A page the PDF itself turns (/Rotate 90) is plotted as viewers show it.
    ASSERT_EQ(Run("qpdf --rotate=+90 " + Path("a3.pdf") + " " + Path("a3-rotated.pdf")).status, 0);
    ASSERT_EQ(Adihost("plot " + Path("a3-rotated.pdf") + " -o " + Path("a3r.prn")).status, 0);
    const Match r = BestMatch(RenderJob(Read(Path("a3r.prn")), "a3r"),
                              PopplerPage(Path("a3-rotated.pdf"), 1, 0));
    EXPECT_LT(r.meanDifference, 6.0);
}

TEST_F(PdfTest, RefusedDocumentsLeaveNoOutput) {
    ASSERT_EQ(Adihost("configure --defaults --resolution 200").status, 0);
    WriteTwoPages(Path("good.pdf"), 200, 100);
    const std::string good = Read(Path("good.pdf"));
    Write("truncated.pdf", good.substr(0, good.size() * 2 / 3));
    Write("garbage.pdf", "%PDF-1.5\nthis is not a PDF\n%%EOF\n");
    ASSERT_EQ(std::system(("qpdf --encrypt secret owner 256 -- " + Path("good.pdf") + " " +
                           Path("locked.pdf"))
                              .c_str()),
              0)
        << "qpdf (Debian package qpdf) makes the password-protected PDF";
    WriteDrawingPdf(Path("huge.pdf"), 2000, 1000, 1);  // wider than any roll
    WriteMixedPdf(Path("mixed.pdf"));
    const struct {
        const char* file;
        const char* arguments;
        const char* message;
    } cases[] = {
        {"truncated.pdf", "", "truncated"},
        {"garbage.pdf", "", "not a readable PDF"},
        {"locked.pdf", "", "password-protected"},
        {"huge.pdf", "", "does not fit the sheet"},
        {"huge.pdf", "--rotate auto", "does not fit the sheet"},
        {"good.pdf", "--page 3", "has 2 page(s)"},
        {"good.pdf", "--page 0", "has 2 page(s)"},
        {"good.pdf", "--scale 0", "--scale"},
        {"good.pdf", "--scale 1:0", "--scale 1:0: give a factor or 1:N"},
        {"good.pdf", "--scale 1:-1", "--scale"},
        {"good.pdf", "--scale 2x", "--scale 2x: give a factor or 1:N"},
        {"good.pdf", "--scale 1e-9", "--scale"},
        {"good.pdf", "--scale 1:1e300", "--scale"},
        {"mixed.pdf", "--page all", "page 2: the page (2000 x 1000 mm at scale 1) does not fit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.arguments);
        ExpectRefused(c.file, c.arguments, c.message);
    }
    // To standard output, where a page sent cannot be taken back: page 2
    // is refused before page 1 goes out.
    const ProcessResult streamed =
        Adihost("plot " + Path("mixed.pdf") + " -o - --page all --quiet");
    EXPECT_EQ(streamed.status, 1);
    EXPECT_NE(streamed.err.find("page 2: the page"), std::string::npos) << streamed.err;
    EXPECT_EQ(Read(Path("stdout.txt")), "");
}

// Twenty pages from A4 to A0, both ways round, each solid black: nested,
// they take much less roll than one after another, and on the rendered
// sheet no page covers another (the black is the sum of the pages) or
// leaves the roll.
TEST_F(PdfTest, TwentyMixedPagesNestApartOnTheRenderedSheet) {
    const double mm = 72 / 25.4;
    const double formats[][2] = {{210, 297}, {297, 420}, {420, 594}, {594, 841}, {841, 1189}};
    cairo_surface_t* surface = cairo_pdf_surface_create(Path("mix.pdf").c_str(), 100, 100);
    cairo_t* cr = cairo_create(surface);
    double area = 0, alone = 0;  // mm², mm
    for (int i = 0; i < 20; ++i) {
        const double* f = formats[(i * 7) % 5];
        const double w = i % 3 == 0 ? f[1] : f[0], h = i % 3 == 0 ? f[0] : f[1];
        cairo_pdf_surface_set_size(surface, w * mm, h * mm);
        cairo_paint(cr);
        cairo_show_page(cr);
        area += w * h;
        alone += (w <= 914.4 ? h : w) + 5;
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    ASSERT_EQ(Adihost("configure --defaults --paper 23 --resolution 200 --margin 0").status, 0);
    ASSERT_EQ(
        Adihost("plot " + Path("mix.pdf") + " --quiet --nest across-roll -o " + Path("mix.prn"))
            .status,
        0);
    const std::vector<std::string> jobs = SplitJobs(Read(Path("mix.prn")));
    ASSERT_EQ(jobs.size(), 1u);
    const double length = SheetOf(jobs[0]).first / 40.0;
    std::printf("20 pages: %.0f mm of roll nested, %.0f mm one after another (%.0f %%)\n", length,
                alone - 5, 100 * length / (alone - 5));
    EXPECT_LT(length, 0.8 * (alone - 5));
    const Picture sheet = RenderJob(jobs[0], "mix");
    const double perMm = kPreviewDpi / 25.4;
    // The roll's width one way (the driver's X runs along a long sheet).
    EXPECT_NEAR(std::min(sheet.width, sheet.height), 914.4 * perMm, 2);
    EXPECT_NEAR(std::max(sheet.width, sheet.height), length * perMm, 2);
    long black = 0;
    for (const std::uint8_t grey : sheet.grey) black += grey < 128;
    // Each page's edge may gain or lose half a pixel.
    EXPECT_NEAR(black / (perMm * perMm), area, 0.02 * area);
}

// --nest across-roll: the pages side by side on one sheet of the stored
// roll, as long as the nest, the stored record left as it was.
TEST_F(PdfTest, PagesNestAcrossTheStoredRollAsOneJob) {
    ASSERT_EQ(Adihost("configure --defaults --paper 23 --resolution 200").status, 0);
    const std::string record = Read(Path("varnu.cfg"));
    WriteDrawingPdf(Path("three.pdf"), 297, 420, 3);
    const std::string plot = "plot " + Path("three.pdf") + " --quiet --nest across-roll -o ";
    ASSERT_EQ(Adihost(plot + Path("nest.prn")).status, 0);
    EXPECT_EQ(Read(Path("varnu.cfg")), record);
    const std::vector<std::string> jobs = SplitJobs(Read(Path("nest.prn")));
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(SheetOf(jobs[0]), std::make_pair(16800, 36576));  // 420 x 914.4 mm
    const Picture sheet = RenderJob(jobs[0], "nest");
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const Picture third = NestedColumns(sheet, 914.4, page, 297, 5);
        const Match m = BestMatch(third, PopplerPage(Path("three.pdf"), page, 0));
        EXPECT_LT(m.meanDifference, 8.0);
        // The page beside it does not match as well.
        const Match other = BestMatch(third, PopplerPage(Path("three.pdf"), page % 3 + 1, 0));
        EXPECT_GT(other.meanDifference, 2 * m.meanDifference + 1);
    }
    // 20 mm apart, two fit across: the third turned below them (297 + 20 +
    // 297 mm); never turned, it lies as it comes (420 + 20 + 420 mm).
    ASSERT_EQ(Adihost(plot + Path("wide.prn") + " --gap 20").status, 0);
    EXPECT_EQ(SheetOf(Read(Path("wide.prn"))), std::make_pair(24560, 36576));
    ASSERT_EQ(Adihost(plot + Path("upright.prn") + " --gap 20 --rotate none").status, 0);
    EXPECT_EQ(SheetOf(Read(Path("upright.prn"))), std::make_pair(34400, 36576));
    // A margin lengthens the sheet by itself at both ends, and narrows
    // the roll the pages share: two fit across 914.4 - 20 mm at 5 mm.
    ASSERT_EQ(Adihost("configure --margin 10").status, 0);
    const std::string margined = Read(Path("varnu.cfg"));
    ASSERT_EQ(Adihost(plot + Path("margin.prn")).status, 0);
    // (The driver's PS carries the margins within a few of its units.)
    const std::pair<int, int> margin = SheetOf(Read(Path("margin.prn")));
    EXPECT_NEAR(margin.first, (297 + 5 + 297 + 20) * 40, 4);
    EXPECT_NEAR(margin.second, 36576, 4);
    EXPECT_EQ(Read(Path("varnu.cfg")), margined);
    // Cut marks are vectors at the pages' corners, in the gaps and in a
    // gap's room around the nest.
    ASSERT_EQ(Adihost("configure --margin 0").status, 0);
    ASSERT_EQ(Adihost(plot + Path("marks.prn") + " --cut-marks").status, 0);
    const std::string marks = Read(Path("marks.prn"));
    EXPECT_EQ(SheetOf(marks), std::make_pair(17200, 36576));
    EXPECT_GT(marks.size(), Read(Path("nest.prn")).size());
    // --page picks the pages nested: one page alone, turned to take 297 mm.
    ASSERT_EQ(Adihost(plot + Path("one.prn") + " --page 2").status, 0);
    EXPECT_EQ(SheetOf(Read(Path("one.prn"))), std::make_pair(11880, 36576));
}

// Without --nest (or with none) each page is its own job on the stored
// sheet, as before.
TEST_F(PdfTest, WithoutNestingEachPageIsItsOwnJob) {
    ASSERT_EQ(Adihost("configure --defaults --paper 23 --length 500 --resolution 200").status, 0);
    WriteDrawingPdf(Path("three.pdf"), 297, 420, 3);
    const std::string plot = "plot " + Path("three.pdf") + " --quiet -o ";
    ASSERT_EQ(Adihost(plot + Path("apart.prn")).status, 0);
    const std::vector<std::string> jobs = SplitJobs(Read(Path("apart.prn")));
    ASSERT_EQ(jobs.size(), 3u);
    for (const std::string& job : jobs) EXPECT_EQ(SheetOf(job), std::make_pair(20000, 36576));
    ASSERT_EQ(Adihost(plot + Path("none.prn") + " --nest none").status, 0);
    EXPECT_EQ(Read(Path("none.prn")), Read(Path("apart.prn")));
}

// What --nest cannot do is refused before anything is written, the
// stored record left as it was.
TEST_F(PdfTest, NestingRefusalsWriteNothing) {
    ASSERT_EQ(Adihost("configure --defaults --resolution 200").status, 0);  // E-Arch, no roll
    WriteDrawingPdf(Path("a3.pdf"), 297, 420, 1);
    WriteDrawingPdf(Path("long.pdf"), 800, 1900, 9);  // 9 x 1900 mm and gaps: past 15 m
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 40, 30);
    ASSERT_EQ(cairo_surface_write_to_png(image, Path("image.png").c_str()), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(image);
    const std::string fixed = Read(Path("varnu.cfg"));
    ASSERT_EQ(Adihost("configure --paper 23").status, 0);
    const std::string roll = Read(Path("varnu.cfg"));
    const struct {
        const char* file;
        const char* arguments;
        const std::string& record;
        const char* message;
    } cases[] = {
        {"a3.pdf", "--nest across-roll", fixed,
         "the stored paper \"E-Arch(36Zoll)\" is no roll: choose one with adihost configure "
         "--paper N (the rolls are rows 23..41"},
        {"image.png", "--nest across-roll", roll, "nests pages by their own size"},
        {"long.pdf", "--nest across-roll", roll,
         "the nest is 17140 mm long with the margins; a sheet of the roll is at most 15000 mm"},
        {"a3.pdf", "--nest across-roll --gap -1", roll, "--gap -1: give 0 to 100 mm"},
        {"a3.pdf", "--nest across-roll --gap 100.5", roll, "--gap 100.5: give 0 to 100"},
        {"a3.pdf", "--nest across-roll --gap 5mm", roll, "--gap 5mm: give 0 to 100"},
        {"a3.pdf", "--nest across-roll --gap nan", roll, "--gap nan: give 0 to 100"},
        {"a3.pdf", "--gap 5", roll, "--gap and --cut-marks go with --nest across-roll"},
        {"a3.pdf", "--cut-marks", roll, "--gap and --cut-marks go with --nest across-roll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.arguments);
        Write("varnu.cfg", c.record);
        ExpectRefused(c.file, c.arguments, c.message);
        EXPECT_EQ(Read(Path("varnu.cfg")), c.record);
    }
    // Not a choice: a usage error.
    EXPECT_EQ(Adihost("plot " + Path("a3.pdf") + " -o " + Path("out.prn") + " --nest along").status,
              2);
}

}  // namespace
}  // namespace varnu::testing
