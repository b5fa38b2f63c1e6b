// PDF drawings through adihost: each page plotted, read back with
// `adihost render` and compared with poppler's own rendering of the page
// (pdftoppm), at a resolution coarse enough to see through the dither.
#include <cairo-pdf.h>
#include <cairo.h>
#include <gtest/gtest.h>

#include "pdf_sheets.h"

namespace varnu::testing {
namespace {

class PdfTest : public SheetTest {};

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
        const ProcessResult r = Adihost("plot " + Path(c.file) + " -o " + Path("out.prn") + " " +
                                        c.arguments + " --quiet");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(Path("out.prn")));
        EXPECT_FALSE(fs::exists(Path("out.prn.part")));
    }
    // To standard output, where a page sent cannot be taken back: page 2
    // is refused before page 1 goes out.
    const ProcessResult streamed =
        Adihost("plot " + Path("mixed.pdf") + " -o - --page all --quiet");
    EXPECT_EQ(streamed.status, 1);
    EXPECT_NE(streamed.err.find("page 2: the page"), std::string::npos) << streamed.err;
    EXPECT_EQ(Read(Path("stdout.txt")), "");
}

}  // namespace
}  // namespace varnu::testing
