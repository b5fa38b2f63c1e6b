// The readers of whole pages: a PDF through poppler and a CUPS raster
// stream, each page a picture fitted to the sheet and drawn in bands.
// qpdf 11 without its old PointerHolder.
#define POINTERHOLDER_TRANSITION 4
#include <cairo-pdf.h>
#include <cairo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <vector>

#include "readers/cups_raster.h"
#include "readers/pdf.h"
#include "readers/pdf_content.h"
#include "readers/pdf_work.h"
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

// A tall page of large text, some of it turned by the page's matrix.
void WriteTextPdf(const std::string& path) {
    cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), 300, 600);
    cairo_t* cr = cairo_create(surface);
    cairo_select_font_face(cr, "sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 40);
    cairo_move_to(cr, 20, 80);
    cairo_show_text(cr, "VARNU 48");
    cairo_translate(cr, 150, 200);
    cairo_rotate(cr, 0.6);
    cairo_move_to(cr, 0, 0);
    cairo_show_text(cr, "Rotated");
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

TEST_F(Pages, PdfBandsOfColumnsAreTheRowsMirrored) {
    WriteTextPdf(Path("text.pdf"));
    PdfDocument pdf;
    std::string error;
    ASSERT_TRUE(pdf.Open(Path("text.pdf"), &error)) << error;
    // At its own size, and turned a quarter to fit a sheet only 5 inches high.
    const Sheet low{12.0, 5.0, 1016.0};
    for (const bool turned : {false, true}) {
        SCOPED_TRACE(turned ? "turned" : "upright");
        PdfOptions o;
        o.rotateAuto = turned;
        Plot page;
        ASSERT_TRUE(pdf.PagePlot(0, turned ? low : kSheet, 100, o, &page, &error)) << error;
        const Picture& p = page.pictures().at(0);
        ASSERT_TRUE(p.renderColumns);
        EXPECT_EQ(turned, p.width > p.height);
        const std::vector<std::uint32_t> rows = Band(page, 0, 0, p.width, p.height);
        std::vector<std::uint32_t> columns(rows.size());
        ASSERT_TRUE(p.renderColumns(0, p.width, columns.data(), &error)) << error;
        int inked = 0, differing = 0;
        for (std::int32_t y = 0; y < p.height; ++y)
            for (std::int32_t x = 0; x < p.width; ++x) {
                const int a = rows[y * p.width + x] & 0xFF, b = columns[x * p.height + y] & 0xFF;
                inked += a < 128;
                differing += std::abs(a - b) > 96;
            }
        // Anti-aliased edges may differ a level or two, never a glyph.
        EXPECT_GT(inked, 2000);
        EXPECT_LT(differing, inked / 200);
    }
}

// A PDF of `objects` (numbered from 1; 1 the catalogue), with its
// cross-reference table, as hostile files are written by hand.
std::string PdfOf(const std::vector<std::string>& objects) {
    std::string pdf = "%PDF-1.5\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t at : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", at);
        pdf += line;
    }
    return pdf + "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
}

std::string Stream(const std::string& dict, const std::string& data) {
    return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream";
}

// One page of `box` points drawing `content`, with the objects from 4 as
// its XObjects /X4, /X5, ...
std::string PagePdf(const std::string& box, const std::string& content,
                    const std::vector<std::string>& xobjects) {
    std::string names;
    for (std::size_t i = 0; i < xobjects.size(); ++i)
        names += " /X" + std::to_string(i + 4) + " " + std::to_string(i + 4) + " 0 R";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + box + "] /Resources << /XObject <<" +
            names + " >> >> /Contents " + std::to_string(xobjects.size() + 4) + " 0 R >>"};
    for (const std::string& x : xobjects) objects.push_back(x);
    objects.push_back(Stream("", content));
    return PdfOf(objects);
}

// A page filled with a tiling pattern whose cell draws form 4 of `forms`.
std::string PatternPdf(std::vector<std::string> forms) {
    const std::string cell = Stream(
        "/PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 10 10] /XStep 10 /YStep 10 "
        "/Resources << /XObject << /X4 4 0 R >> >>",
        "/X4 Do");
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Pattern << /P " +
            std::to_string(forms.size() + 4) + " 0 R >> >> /Contents " +
            std::to_string(forms.size() + 5) + " 0 R >>"};
    for (const std::string& f : forms) objects.push_back(f);
    objects.push_back(cell);
    objects.push_back(Stream("", "/Pattern cs /P scn 0 0 595 842 re f"));
    return PdfOf(objects);
}

// An empty page whose annotation appears as form 4 of `forms`.
std::string AnnotatedPdf(const std::vector<std::string>& forms) {
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Annots [" +
            std::to_string(forms.size() + 4) + " 0 R] >>"};
    for (const std::string& f : forms) objects.push_back(f);
    objects.push_back(
        "<< /Type /Annot /Subtype /Square /Rect [0 0 600 800] /F 4 /AP << /N 4 0 R >> >>");
    return PdfOf(objects);
}

// Forms 4 to 4 + n - 1, each drawing the next twice; the last a line.
std::vector<std::string> NestedForms(int n) {
    std::vector<std::string> forms;
    for (int i = 0; i < n; ++i) {
        const std::string next = "/X" + std::to_string(i + 5);
        const std::string body =
            i + 1 < n ? next + " Do 1 0 0 1 1 0 cm " + next + " Do" : "0 0 m 500 500 l S";
        const std::string resources = i + 1 < n ? " /Resources << /XObject << " + next + " " +
                                                      std::to_string(i + 5) + " 0 R >> >>"
                                                : "";
        forms.push_back(
            Stream("/Type /XObject /Subtype /Form /BBox [0 0 600 800]" + resources, body));
    }
    return forms;
}

TEST_F(Pages, PdfPixelsAreInkOrPaperAndHairlinesADotWide) {
    // A line of width 0 (the thinnest the device draws), one of 1 point,
    // and a grey square, on a page of 100 x 100 points.
    Write("lines.pdf", PagePdf("100 100",
                               "0 w 10 50 m 90 50 l S 1 w 50 10 m 50 40 l S "
                               "0.5 g 60 10 20 20 re f",
                               {}));
    PdfDocument pdf;
    std::string error;
    ASSERT_TRUE(pdf.Open(Path("lines.pdf"), &error)) << error;
    for (const int dpi : {200, 600}) {
        SCOPED_TRACE(dpi);
        Plot page;
        ASSERT_TRUE(pdf.PagePlot(0, kSheet, dpi, {}, &page, &error)) << error;
        const Picture& p = page.pictures().at(0);
        const std::vector<std::uint32_t> pixels = Band(page, 0, 0, p.width, p.height);
        // Ink, paper or the square's grey: a pixel's centre decides an edge.
        const auto at = [&](std::int32_t x, std::int32_t y) {
            return pixels[y * p.width + x] & 0xFFFFFF;
        };
        for (const std::uint32_t v : pixels)
            ASSERT_TRUE((v & 0xFFFFFF) == 0 || (v & 0xFFFFFF) == 0xFFFFFF ||
                        (v & 0xFFFFFF) == 0x808080)
                << std::hex << v;
        // The hairline: one dot across, along all its length.
        const double k = dpi / 72.0;
        for (std::int32_t x = std::lround(12 * k); x < std::lround(88 * k); ++x) {
            int ink = 0;
            for (std::int32_t y = std::lround(48 * k); y < std::lround(52 * k); ++y)
                ink += at(x, y) == 0;
            ASSERT_EQ(ink, 1) << x;
        }
        int wide = 0;  // the 1-point line, across
        for (std::int32_t x = std::lround(45 * k); x < std::lround(55 * k); ++x)
            wide += at(x, std::lround(75 * k)) == 0;
        EXPECT_NEAR(wide, k, 1);
    }
}

TEST_F(Pages, PdfStrokesThinnerThanAPixelDoNotBreakUp) {
    // A slanting line of 0.05 point (0.4 pixels at 600 dpi): drawn by
    // pixel centres alone it would break into dashes. Set on the page, under
    // a scaling, and inherited by a form drawn through its matrix.
    const std::string slant = "10 40 m 90 60 l S";
    const std::string form = Stream(
        "/Type /XObject /Subtype /Form /BBox [0 0 1000 1000] "
        "/Matrix [0.1 0 0 0.1 0 0]",
        "100 400 m 900 600 l S");
    const struct {
        const char* name;
        std::string pdf;
    } cases[] = {
        {"thin.pdf", PagePdf("100 100", "0.05 w " + slant, {})},
        {"scaled.pdf", PagePdf("100 100", "q 0.5 0 0 0.5 0 0 cm 0.1 w 20 80 m 180 120 l S Q", {})},
        {"form.pdf", PagePdf("100 100", "0.5 w /X4 Do", {form})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write(c.name, c.pdf);
        PdfDocument pdf;
        std::string error;
        ASSERT_TRUE(pdf.Open(Path(c.name), &error)) << error;
        Plot page;
        ASSERT_TRUE(pdf.PagePlot(0, kSheet, 600, {}, &page, &error)) << error;
        const Picture& p = page.pictures().at(0);
        const std::vector<std::uint32_t> pixels = Band(page, 0, 0, p.width, p.height);
        const double k = 600 / 72.0;
        for (std::int32_t x = std::lround(12 * k); x < std::lround(88 * k); ++x) {
            bool marked = false;  // somewhere across the line in this column
            for (std::int32_t y = 0; y < p.height; ++y)
                marked = marked || (pixels[y * p.width + x] & 0xFFFFFF) != 0xFFFFFF;
            ASSERT_TRUE(marked) << x;
        }
    }
}

TEST_F(Pages, PdfPagesAskingForTooMuchAreRefusedBeforeDrawing) {
    const std::string draw = "q 500 0 0 700 50 50 cm /X4 Do Q";
    const auto image = [](int w, int h, std::size_t bytes) {
        return Stream("/Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " +
                          std::to_string(h) +
                          " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /FlateDecode",
                      std::string(bytes, 'x'));
    };
    const struct {
        const char* name;
        std::string pdf;
        const char* message;
    } cases[] = {
        // A million pixels a side in a kilobyte.
        {"huge-image.pdf", PagePdf("595 842", draw, {image(1000000, 1000000, 1024)}),
         "page 1 is refused: an image declares 1000000 x 1000000 pixels in 1024 bytes"},
        // Held by its data, but far more than an A4 page shows at 600 dpi.
        {"large-image.pdf", PagePdf("595 842", draw, {image(40000, 40000, 400000)}),
         "page 1 is refused: its images hold 1600 million pixels"},
        {"inline-image.pdf",
         PagePdf("595 842",
                 "q 500 0 0 700 50 50 cm BI /W 100000 /H 100000 /BPC 1 /CS /G ID "
                 "xxxx EI Q",
                 {}),
         "an image declares 100000 x 100000 pixels in"},
        // 2^16 drawings of the innermost form from 17 small objects.
        {"nested-forms.pdf", PagePdf("595 842", "/X4 Do", NestedForms(17)),
         "page 1 is refused: it draws forms 131071 times (at most 100000)"},
        {"deep-forms.pdf", PagePdf("595 842", "/X4 Do", NestedForms(40)), "forms nested more"},
        {"self-drawing-form.pdf",
         PagePdf("595 842", "/X4 Do",
                 {Stream("/Type /XObject /Subtype /Form /BBox [0 0 9 9] /Resources << /XObject "
                         "<< /X4 4 0 R >> >>",
                         "/X4 Do")}),
         "a form draws itself"},
        {"dot.pdf", PagePdf("0.01 0.01", "0 0 m 1 1 l S", {}), "smaller than a printer dot"},
        // The same forms as a tiling pattern's cell.
        {"pattern.pdf", PatternPdf(NestedForms(17)), "it draws forms 131072 times"},
        // The same forms as an annotation's appearance, which is printed too.
        {"annotation.pdf", AnnotatedPdf(NestedForms(17)), "it draws forms 131071 times"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write(c.name, c.pdf);
        PdfDocument pdf;
        std::string error;
        ASSERT_TRUE(pdf.Open(Path(c.name), &error)) << error;
        EXPECT_FALSE(pdf.Check(0, 0, kSheet, 600, {}, &error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        Plot page;
        EXPECT_FALSE(pdf.PagePlot(0, kSheet, 600, {}, &page, &error));
    }
    // The same forms a few levels deep, and a modest image, are drawn.
    Write("forms.pdf", PagePdf("595 842", "/X4 Do", NestedForms(6)));
    Write("image.pdf", PagePdf("595 842", draw, {image(2000, 2000, 4000)}));
    for (const char* name : {"forms.pdf", "image.pdf"}) {
        PdfDocument pdf;
        std::string error;
        ASSERT_TRUE(pdf.Open(Path(name), &error)) << error;
        EXPECT_TRUE(pdf.Check(0, 0, kSheet, 600, {}, &error)) << name << ": " << error;
    }
}

// Operators are counted as qpdf reads them and decoded content without
// keeping it: each refused at its limit (small limits here).
TEST_F(Pages, PdfContentIsCountedAsItIsRead) {
    std::string operators, operands;
    for (int i = 0; i < 5000; ++i) operators += "n\n";
    for (int i = 0; i < 70000; ++i) operands += "1 ";
    const struct {
        const char* name;
        std::string content;
        WorkLimits limits;
        const char* message;
    } cases[] = {{"operators.pdf", operators, {.operators = 4000}, "more than 4000 operators"},
                 {"spaces.pdf",
                  std::string(30000, ' '),
                  {.contentBytes = 20000},
                  "its content holds 0 MB decoded"},
                 {"operands.pdf", operands + "n", {}, "more than 65536 operands"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write(c.name, PagePdf("595 842", c.content, {}));
        PdfWork work;
        std::string error;
        ASSERT_TRUE(work.Open(Path(c.name), &error)) << error;
        PageWork counted;
        const bool ok = work.Count(0, c.limits, &counted, &error);
        EXPECT_FALSE(ok);
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    // Below the limits, every operator is counted.
    PdfWork work;
    std::string error;
    ASSERT_TRUE(work.Open(Path("operators.pdf"), &error));
    PageWork counted;
    ASSERT_TRUE(work.Count(0, {}, &counted, &error)) << error;
    EXPECT_EQ(counted.operators, 5000);
}

// An operand as a line of text: its number, its name, or "?".
std::string Shown(const ContentOperand& o) {
    if (o.kind == ContentOperand::Kind::Number) return std::to_string(o.number);
    return o.kind == ContentOperand::Kind::Name ? o.name : "?";
}

// qpdf's own reading of a content stream, an operator a line.
class QpdfReading : public QPDFObjectHandle::ParserCallbacks {
  public:
    void handleObject(QPDFObjectHandle object) override {
        if (!object.isOperator()) {
            ContentOperand o;
            if (object.isNumber()) {
                o.kind = ContentOperand::Kind::Number;
                o.number = object.getNumericValue();
            } else if (object.isName()) {
                o.kind = ContentOperand::Kind::Name;
                o.name = object.getName();
            } else if (object.isInlineImage()) {
                inlineBytes = object.getInlineImageValue().size();
            }
            line_ += Shown(o) + " ";
            return;
        }
        lines.push_back(line_ + object.getOperatorValue());
        line_.clear();
    }
    void handleEOF() override {}
    std::vector<std::string> lines;
    std::size_t inlineBytes = 0;

  private:
    std::string line_;
};

// The counting reads each operator with the operands qpdf's parser gives
// it, without making objects of them: a page of two streams (an operator
// whose operands begin in the first), arrays and dictionaries as one
// operand, strings, comments, escaped names and an inline image holding
// what looks like operators.
TEST_F(Pages, PdfContentReadAsQpdfReadsIt) {
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents [4 0 R 5 0 R] >>",
        Stream("", "q 1 0 0 1 50.5 -2 % a comment ] Q\n"),
        Stream("",
               "cm 0.25 w /GS#20a gs [(a) -120 (b)] TJ << /K [1 2 << /L 3 >>] >> BDC "
               "(x \\) ) Tj <414243> Tj true false null 3 Tr BI /W 7 /H 9 /BPC 1 /CS /G "
               "ID \x01\x02 Q ] >> 1 2 re EI Q /X4 Do 1 0 0 RG")};
    Write("content.pdf", PdfOf(objects));
    QPDF qpdf;
    qpdf.processFile(Path("content.pdf").c_str());
    QPDFPageObjectHelper page = QPDFPageDocumentHelper(qpdf).getAllPages().at(0);
    QpdfReading expected;
    page.parseContents(&expected);
    std::string data;
    double bytes = 0;
    ASSERT_TRUE(DecodeContent(page.getObjectHandle(), 1e6, &data, &bytes));
    EXPECT_EQ(bytes, static_cast<double>(data.size()));
    std::vector<std::string> lines;
    std::size_t inlineBytes = 0;
    std::string error;
    ASSERT_TRUE(ReadOperators(
        data,
        [&](const std::string& op, const std::vector<ContentOperand>& operands, std::size_t n) {
            std::string line;
            for (const ContentOperand& o : operands) line += Shown(o) + " ";
            lines.push_back(line + op);
            if (op == "EI") inlineBytes = n;
            return true;
        },
        &error))
        << error;
    EXPECT_EQ(lines, expected.lines);
    EXPECT_GE(lines.size(), 14u);
    EXPECT_EQ(inlineBytes, expected.inlineBytes);
    EXPECT_GE(inlineBytes, 15u);  // "\x01\x02 Q ] >> 1 2 re"
    // Content past what is kept is counted to its end, not kept.
    EXPECT_FALSE(DecodeContent(page.getObjectHandle(), 20, &data, &bytes));
    EXPECT_LE(data.size(), 20u);
    EXPECT_GT(bytes, 100);
    // An inline image without its end cannot be read.
    EXPECT_FALSE(ReadOperators(
        "BI /W 1 /H 1 ID \x01\x02", [](auto&&...) { return true; }, &error));
    EXPECT_NE(error.find("an inline image has no end"), std::string::npos) << error;
}

TEST_F(Pages, PdfPagesCheckedTogetherBeforeAny) {
    // Page 2 twice the size of page 1: at scale 7, page 1 fits the sheet, page 2 does not.
    cairo_surface_t* surface = cairo_pdf_surface_create(Path("two.pdf").c_str(), 300, 200);
    cairo_t* cr = cairo_create(surface);
    cairo_show_page(cr);
    cairo_pdf_surface_set_size(surface, 600, 400);
    cairo_show_page(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    PdfDocument pdf;
    std::string error;
    ASSERT_TRUE(pdf.Open(Path("two.pdf"), &error)) << error;
    PdfOptions scaled;
    scaled.scale = 7;
    EXPECT_TRUE(pdf.Check(0, 0, kSheet, 100, scaled, &error)) << error;
    EXPECT_FALSE(pdf.Check(0, 1, kSheet, 100, scaled, &error));
    EXPECT_EQ(error.rfind("page 2: the page (1482 x 988 mm at scale 7) does not fit", 0), 0u)
        << error;
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
