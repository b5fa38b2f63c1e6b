// The DXF reader on drawings made for each feature: what it draws, read as
// the sheet in the units of a 100 dpi preview, and what it refuses.
#include "readers/dxf.h"

#include <cairo.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <tuple>

#include "readers/dxf/entities.h"
#include "readers/dxf/text_outlines.h"
#include "support.h"

namespace varnu::host::testing {
namespace {

constexpr double px = kPixelsPerMm;
constexpr double kSheetW = 4800, kSheetH = 3600;  // the sheet in 100 dpi pixels

TEST(Dxf, EntitiesAndSkippedReport) {
    const DxfResult r = ReadDxfEntities(
        "0\nLINE\n8\n0\n62\n1\n10\n0\n20\n0\n11\n100\n21\n50\n"
        "0\nCIRCLE\n8\n0\n10\n50\n20\n25\n40\n20\n"
        "0\nSOLID\n8\n0\n10\n10\n20\n10\n11\n20\n21\n10\n12\n10\n22\n20\n13\n20\n23\n20\n"
        "0\nTEXT\n8\n0\n10\n10\n20\n40\n40\n5\n1\nAB\n"
        "0\nXLINE\n8\n0\n10\n0\n20\n0\n11\n1\n21\n0\n");
    EXPECT_EQ(r.report.skipped, "1 XLINE");
    int polygons = 0, draws = 0;
    for (const Step& s : r.plot.steps()) {
        polygons += s.kind == Step::Kind::Polygon;
        draws += s.kind == Step::Kind::Draw;
    }
    EXPECT_EQ(polygons, 2);  // the solid, and the text's letters as one outline
    EXPECT_GT(draws, 8);     // the line and the circle
    EXPECT_EQ(r.plot.steps().front().kind, Step::Kind::LineTypes);
    EXPECT_EQ(r.plot.steps()[1].kind, Step::Kind::Pen);
    EXPECT_EQ(r.plot.steps()[1].a, 1);     // the line's red
    EXPECT_EQ(r.plot.steps()[1].line, 5);  // the LINE's first line in the file

    Plot plot;
    DxfReport report;
    std::string error;
    EXPECT_FALSE(
        ReadDxfText("this is not a drawing", "broken.dxf", kSheet, {}, &plot, &report, &error));
    EXPECT_EQ(error.rfind("broken.dxf: ", 0), 0u) << error;
}

// Found by fuzzing: blocks that insert arrays of each other multiply
// without end; a block that inserts itself is skipped, not copied 2^16 times.
TEST(Dxf, BlocksThatMultiplyOrInsertThemselves) {
    std::string blocks =
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB0\n10\n0\n20\n0\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n1\n"
        "21\n1\n0\nENDBLK\n";
    for (int level = 1; level <= 6; ++level)
        blocks += "0\nBLOCK\n2\nB" + std::to_string(level) +
                  "\n10\n0\n20\n0\n0\nINSERT\n8\n0\n2\nB" + std::to_string(level - 1) +
                  "\n10\n0\n20\n0\n70\n20\n71\n20\n44\n2\n45\n2\n0\nENDBLK\n";
    blocks +=
        "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nINSERT\n8\n0\n2\nB6\n10\n0\n20\n0\n0\nENDSEC"
        "\n0\nEOF\n";
    Plot plot;
    DxfReport report;
    std::string error;
    EXPECT_FALSE(ReadDxfText(blocks, "bomb.dxf", kSheet, {}, &plot, &report, &error));
    EXPECT_NE(error.find("more than 2 million points"), std::string::npos) << error;

    const auto drawing = [](const std::string& b1, const std::string& b2) {
        return "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB1\n10\n0\n20\n0\n0\nLINE\n8\n0\n10\n0\n20\n0\n"
               "11\n9\n21\n9\n" +
               b1 + "0\nENDBLK\n0\nBLOCK\n2\nB2\n10\n0\n20\n0\n" + b2 +
               "0\nENDBLK\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nINSERT\n8\n0\n2\nB1\n10\n5\n"
               "20\n5\n0\nENDSEC\n0\nEOF\n";
    };
    const auto insert = [](const char* block) {
        return std::string("0\nINSERT\n8\n0\n2\n") + block + "\n10\n1\n20\n1\n";
    };
    const DxfResult plain = ReadDxfEntities(drawing("", ""));
    const DxfResult self = ReadDxfEntities(drawing(insert("B1") + insert("B1"), ""));
    EXPECT_EQ(self.report.skipped, "2 INSERT (block inserts itself)");
    EXPECT_TRUE(SameSteps(self.plot, plain.plot));
    const DxfResult cycle = ReadDxfEntities(drawing(insert("B2"), insert("B1")));
    EXPECT_EQ(cycle.report.skipped, "1 INSERT (block inserts itself)");
    EXPECT_TRUE(SameSteps(cycle.plot, plain.plot));
}

// Rotation means degrees counter-clockwise whoever wrote the file: dxflib
// reads MTEXT angles otherwise when a comment claims dxflib wrote the file.
TEST(Dxf, TextAnglesAreDegrees) {
    for (const char* kind : {"TEXT", "MTEXT"})
        for (const char* comment : {"", "999\ndxflib 3.26.4\n", "999\ndxflib\n"})
            for (const int angle : {0, 90}) {
                const std::string entities = std::string("0\n") + kind +
                                             "\n8\n0\n10\n0\n20\n0\n40\n10\n50\n" +
                                             std::to_string(angle) + "\n1\nHHHHHHHHHH\n";
                const InkBox box =
                    BoxOf(ReadDxfEntities(std::string(comment) + "0\nSECTION\n2\nENTITIES\n" +
                                          entities + "0\nENDSEC\n0\nEOF\n")
                              .plot);
                const std::string what = std::string(kind) + " at " + std::to_string(angle) +
                                         " degrees, comment " + comment;
                ASSERT_GT(box.right, box.left) << what;
                if (angle == 0)
                    EXPECT_GT(box.Width(), 4 * box.Height()) << what;
                else
                    EXPECT_GT(box.Height(), 4 * box.Width()) << what;
            }
}

// Fitting to the sheet takes the extents of what is drawn: a circle's top,
// an arc's swept part, an ellipse's minor axis, a block's contents; 2%
// margins, centred.
TEST(Dxf, FitsTheGeometryDrawn) {
    const struct {
        const char* what;
        std::string entities;
        double width, height;  // of the drawing, in its units
    } cases[] = {
        {"circle on top",
         "0\nLINE\n8\n0\n10\n0\n20\n0\n11\n0\n21\n100\n0\nCIRCLE\n8\n0\n10\n0\n20\n100\n40\n30\n",
         60, 130},
        {"arc from 180 to 300 degrees",
         "0\nLINE\n8\n0\n10\n-50\n20\n0\n11\n50\n21\n0\n"
         "0\nARC\n8\n0\n10\n0\n20\n0\n40\n50\n50\n180\n51\n300\n",
         100, 50},
        {"ellipse", "0\nELLIPSE\n8\n0\n10\n0\n20\n0\n11\n100\n21\n0\n40\n0.2\n41\n0\n42\n6.2832\n",
         200, 40},
        {"inserted circle",
         "0\nLINE\n8\n0\n10\n0\n20\n0\n11\n0\n21\n50\n0\nINSERT\n8\n0\n2\nC\n10\n0\n20\n50\n", 20,
         60},
    };
    for (const auto& c : cases) {
        const std::string blocks =
            "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nC\n10\n0\n20\n0\n0\nCIRCLE\n8\n0\n10\n0\n20\n0\n40"
            "\n10\n0\nENDBLK\n0\nENDSEC\n";
        const InkBox box = BoxOf(ReadDxfEntities(blocks + "0\nSECTION\n2\nENTITIES\n" + c.entities +
                                                 "0\nENDSEC\n0\nEOF\n")
                                     .plot);
        const double scale = std::min(0.96 * kSheetW / c.width, 0.96 * kSheetH / c.height);
        EXPECT_NEAR(box.Width(), scale * c.width, 1) << c.what;
        EXPECT_NEAR(box.Height(), scale * c.height, 1) << c.what;
        EXPECT_NEAR(box.left, kSheetW - box.right, 1) << c.what;
        EXPECT_NEAR(box.bottom, kSheetH - box.top, 1) << c.what;
    }
}

// At a given scale, what lies beyond the sheet is cut at its edge: nothing
// off the sheet is pressed onto the border, on either side.
TEST(Dxf, CutAtTheSheetEdge) {
    const auto mm = [](double v) { return std::to_string(v); };
    const double right = 1219.2, top = 914.4;  // the sheet in millimetres
    const auto line = [&](double x1, double y1, double x2, double y2) {
        return "0\nLINE\n8\n0\n10\n" + mm(x1) + "\n20\n" + mm(y1) + "\n11\n" + mm(x2) + "\n21\n" +
               mm(y2) + "\n";
    };
    // Wholly off the sheet beyond each edge; lines and a solid across the
    // left and right edges at 100 and 150..180 mm.
    const std::string entities =
        line(right + 20, 20, right + 20, 80) + line(-20, 20, -20, 80) +
        line(20, top + 20, 80, top + 20) + line(20, -20, 80, -20) +
        line(right - 50, 100, right + 50, 100) + line(-50, 100, 50, 100) + "0\nSOLID\n8\n0\n10\n" +
        mm(right - 30) + "\n20\n150\n11\n" + mm(right + 30) + "\n21\n150\n12\n" + mm(right - 30) +
        "\n22\n180\n13\n" + mm(right + 30) + "\n23\n180\n" +
        "0\nSOLID\n8\n0\n10\n-30\n20\n150\n11\n30\n21\n150\n12\n-30\n22\n180\n13\n30\n23\n180\n";
    const Plot plot = ReadDxfEntities(entities, AtScale(1)).plot;
    const InkBox box = BoxOf(plot);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.right, kSheetW);
    EXPECT_NEAR(box.bottom, 100 * px, 0.1) << "nothing pressed onto the bottom edge";
    EXPECT_NEAR(box.top, 180 * px, 0.1) << "nothing pressed onto the top edge";
    for (const double x : {0.0, right}) {
        EXPECT_TRUE(InkIn(plot, x, 99.9, x, 100.1));
        EXPECT_TRUE(InkIn(plot, x - 0.5, 165, x + 0.5, 165));
        EXPECT_FALSE(InkIn(plot, x, 0, x, 99)) << "on the edge at x = " << x;
        EXPECT_FALSE(InkIn(plot, x, 101, x, 149)) << "on the edge at x = " << x;
        EXPECT_FALSE(InkIn(plot, x, 181, x, top)) << "on the edge at x = " << x;
    }
}

// TEXT alignment (72, 73) places the text at its second point: centred,
// right, middle, top; aligned and fit run it from the first point to the
// second. Its width is the extent of its ink from its origin, as ezdxf
// aligns it.
TEST(Dxf, TextAlignment) {
    const auto text = [&](int h, int v, double x1, double x2, int angle = 0) {
        const std::string entity =
            "0\nTEXT\n8\n0\n10\n" + std::to_string(x1) + "\n20\n100\n40\n10\n50\n" +
            std::to_string(angle) + "\n1\nHHHHHHHHHH\n72\n" + std::to_string(h) + "\n73\n" +
            std::to_string(v) + "\n11\n" + std::to_string(x2) + "\n21\n100\n";
        return BoxOf(ReadDxfEntities(entity, AtScale(1)).plot);
    };
    // Left on its baseline at the first point; the others align it by its
    // width from there to where its ink ends (its last side bearing left out).
    const InkBox left = text(0, 0, 200, 0);
    ASSERT_GT(left.right, left.left);
    EXPECT_NEAR(left.bottom, 100 * px, 0.5);
    EXPECT_GT(left.left, 200 * px) << "its first side bearing";
    const double width = left.right - 200 * px;

    const InkBox centre = text(1, 0, 0, 200);
    EXPECT_NEAR(centre.left, left.left - width / 2, 0.5);
    EXPECT_NEAR(centre.right, 200 * px + width / 2, 0.5);
    EXPECT_NEAR(centre.bottom, left.bottom, 0.5);
    const InkBox rightTop = text(2, 3, 0, 200);
    EXPECT_NEAR(rightTop.right, 200 * px, 0.5);
    EXPECT_NEAR(rightTop.top, 100 * px, 0.5);  // the cap height is the text height
    const InkBox middle = text(4, 0, 0, 200);
    EXPECT_NEAR(middle.left, centre.left, 0.5);
    EXPECT_NEAR((middle.bottom + middle.top) / 2.0, 100 * px, 0.5);
    const InkBox leftMiddle = text(0, 2, 0, 200);
    EXPECT_NEAR(leftMiddle.left, left.left, 0.5);
    EXPECT_NEAR((leftMiddle.bottom + leftMiddle.top) / 2.0, 100 * px, 0.5);

    // From 50 to 250 mm: fit keeps the height, aligned scales it with the width.
    const double stretch = 200 * px / width;
    const InkBox fit = text(5, 0, 50, 250);
    EXPECT_NEAR(fit.right, 250 * px, 0.5);
    EXPECT_NEAR(fit.Width(), left.Width() * stretch, 0.5);
    EXPECT_NEAR(fit.Height(), left.Height(), 0.5);
    const InkBox aligned = text(3, 0, 50, 250);
    EXPECT_NEAR(aligned.right, 250 * px, 0.5);
    EXPECT_NEAR(aligned.Width(), left.Width() * stretch, 0.5);
    EXPECT_NEAR(aligned.Height(), left.Height() * stretch, 0.5);

    // Centred and turned 90 degrees: reads upwards, its baseline at x = 200.
    const InkBox turned = text(1, 0, 0, 200, 90);
    EXPECT_NEAR(turned.right, 200 * px, 0.5);
    EXPECT_NEAR(turned.top, 100 * px + width / 2, 0.5);
    EXPECT_NEAR(turned.Height(), left.Width(), 0.5);
}

// Text escapes draw the characters they stand for: the same requests as the
// characters written out in UTF-8.
TEST(Dxf, TextEscapes) {
    const auto plot = [&](const char* kind, const std::string& text) {
        return ReadDxfEntities("0\nLINE\n8\n0\n10\n0\n20\n0\n11\n200\n21\n0\n0\n" +
                                   std::string(kind) + "\n8\n0\n10\n10\n20\n10\n40\n10\n1\n" +
                                   text + "\n",
                               AtScale(1))
            .plot;
    };
    const struct {
        const char* kind;
        const char* escaped;
        const char* plain;
    } cases[] = {
        {"TEXT", "%%d45 %%p1 %%c20 100%%%", "\u00b045 \u00b11 \u230020 100%"},
        {"TEXT", "%%176C", "\u00b0C"},
        {"TEXT", "\\U+00B1\\U+00b0", "\u00b1\u00b0"},
        {"MTEXT", "\\U+00B1 5%%d", "\u00b1 5\u00b0"},
        {"MTEXT", "A\\~B", "A\u00a0B"},
    };
    for (const auto& c : cases) {
        const Plot escaped = plot(c.kind, c.escaped);
        EXPECT_TRUE(SameSteps(escaped, plot(c.kind, c.plain))) << c.kind << " " << c.escaped;
        EXPECT_FALSE(SameSteps(escaped, plot(c.kind, "A"))) << c.escaped;  // drawn at all
    }
}

// Extrusion (0, 0, -1) mirrors an entity's own coordinates in x, and turns
// ELLIPSE's sweep clockwise seen from above.
TEST(Dxf, ExtrusionDownMirrors) {
    const std::string down = "210\n0\n220\n0\n230\n-1\n";
    const auto ink = [&](const std::string& entity) {
        return BoxOf(ReadDxfEntities(entity, AtScale(1)).plot);
    };
    // Centre (-200, 100) of its own is (200, 100); 0 to 90 degrees goes up and left.
    const InkBox arc = ink("0\nARC\n8\n0\n10\n-200\n20\n100\n40\n50\n50\n0\n51\n90\n" + down);
    EXPECT_NEAR(arc.left, 150 * px, 0.5);
    EXPECT_NEAR(arc.right, 200 * px, 0.5);
    EXPECT_NEAR(arc.bottom, 100 * px, 0.5);
    EXPECT_NEAR(arc.top, 150 * px, 0.5);
    const InkBox circle = ink("0\nCIRCLE\n8\n0\n10\n-200\n20\n100\n40\n20\n" + down);
    EXPECT_NEAR((circle.left + circle.right) / 2.0, 200 * px, 0.5);
    // In world coordinates, from (350, 100) clockwise to (300, 75).
    const InkBox ellipse =
        ink("0\nELLIPSE\n8\n0\n10\n300\n20\n100\n11\n50\n21\n0\n40\n0.5\n41\n0\n" + down +
            "42\n1.5708\n");
    EXPECT_NEAR(ellipse.left, 300 * px, 0.5);
    EXPECT_NEAR(ellipse.right, 350 * px, 0.5);
    EXPECT_NEAR(ellipse.bottom, 75 * px, 0.5);
    EXPECT_NEAR(ellipse.top, 100 * px, 0.5);
    // Text mirrored: it runs leftwards from (200, 200).
    const InkBox text = ink("0\nTEXT\n8\n0\n10\n-200\n20\n200\n40\n10\n1\nHHHH\n" + down);
    EXPECT_LT(text.right, 200 * px);
    EXPECT_GT(text.right, 195 * px);
    EXPECT_NEAR(text.bottom, 200 * px, 0.5);
    // A polyline and a solid likewise.
    const InkBox poly =
        ink("0\nLWPOLYLINE\n8\n0\n90\n2\n10\n-100\n20\n50\n10\n-150\n20\n60\n" + down);
    EXPECT_NEAR(poly.left, 100 * px, 0.5);
    EXPECT_NEAR(poly.right, 150 * px, 0.5);
    const InkBox solid =
        ink("0\nSOLID\n8\n0\n10\n-100\n20\n50\n11\n-120\n21\n50\n12\n-100\n22\n"
            "70\n13\n-120\n23\n70\n" +
            down);
    EXPECT_NEAR(solid.left, 100 * px, 0.5);
    EXPECT_NEAR(solid.right, 120 * px, 0.5);
}

// MTEXT's attachment point (71) holds the block of lines there: the caps of
// the first line reach the top, the last baseline is the bottom, baselines
// 5/3 of the height apart; the reference width (41) breaks lines at spaces.
TEST(Dxf, MTextLayout) {
    const auto mtext = [&](int attach, const std::string& text, double width = 0) {
        return BoxOf(ReadDxfEntities("0\nMTEXT\n8\n0\n10\n200\n20\n100\n40\n10\n41\n" +
                                         std::to_string(width) + "\n71\n" + std::to_string(attach) +
                                         "\n1\n" + text + "\n",
                                     AtScale(1))
                         .plot);
    };
    const double block = (10 + 50.0 / 3) * px;  // two lines
    const InkBox topLeft = mtext(1, "HHHH\\PHHHH");
    EXPECT_NEAR(topLeft.top, 100 * px, 0.5);
    EXPECT_NEAR(topLeft.Height(), block, 0.5);  // H as high as the text
    EXPECT_GT(topLeft.left, 200 * px);
    EXPECT_LT(topLeft.left, 202 * px);
    // Lines aligned by their width to where their ink ends.
    const double width = topLeft.right - 200 * px;
    const InkBox middleCentre = mtext(5, "HHHH\\PHHHH");
    EXPECT_NEAR(middleCentre.right, 200 * px + width / 2, 0.5);
    EXPECT_NEAR((middleCentre.bottom + middleCentre.top) / 2.0, 100 * px, 0.5);
    EXPECT_NEAR(middleCentre.Width(), topLeft.Width(), 0.5);
    const InkBox bottomRight = mtext(9, "HHHH\\PHHHH");
    EXPECT_NEAR(bottomRight.bottom, 100 * px, 0.5);
    EXPECT_NEAR(bottomRight.right, 200 * px, 0.5);

    // Four words that fit one a line in 30 mm: four lines, none wider.
    const InkBox wrapped = mtext(1, "HH HH HH HH", 30);
    EXPECT_NEAR(wrapped.Height(), (10 + 3 * 50.0 / 3) * px, 2);
    EXPECT_LT(wrapped.Width(), 30 * px);
}

// Text in the drawing's code page is drawn as its characters; what the code
// page cannot decode is reported.
TEST(Dxf, TextInTheCodePage) {
    const auto plot = [&](const std::string& page, const std::string& text) {
        return ReadDxfEntities(
            "0\nSECTION\n2\nHEADER\n9\n$DWGCODEPAGE\n3\n" + page +
                "\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n" + DxfLine("0", 0, 0, 200, 0) +
                "0\nTEXT\n8\n0\n10\n10\n20\n10\n40\n10\n1\n" + text +
                "\n0\nMTEXT\n8\n0\n10\n10\n20\n50\n40\n10\n1\n" + text + "\n0\nENDSEC\n0\nEOF\n",
            AtScale(1));
    };
    const DxfResult utf8 = plot("ANSI_1252", "\u00c4rger \u00b0");
    const DxfResult cp1252 = plot("ANSI_1252", "\xc4rger \xb0");
    EXPECT_TRUE(SameSteps(cp1252.plot, utf8.plot));
    EXPECT_EQ(cp1252.report.skipped, "");
    EXPECT_FALSE(SameSteps(plot("ANSI_1252", "rger").plot, utf8.plot));  // the characters are drawn
    EXPECT_TRUE(SameSteps(plot("ANSI_1251", "\xc4").plot, plot("ANSI_1252", "\u0414").plot));
    EXPECT_EQ(plot("ANSI_932", "\x81").report.skipped, "2 text not in code page ANSI_932");
}

// Layers off (negative colour) or frozen (flag 1) are not plotted; entities
// of a block on layer 0 go with the INSERT's layer, for that and for their
// colour BYLAYER, and a frozen INSERT hides all it places. --layers plots
// the layers it names, whatever their state.
TEST(Dxf, LayersOffFrozenAndChosen) {
    // On layer 0, BYLAYER, from 10 to 40 mm and 5 mm high from `y`.
    const auto solid = [](int y) {
        const std::string y0 = std::to_string(y), y1 = std::to_string(y + 5);
        return "0\nSOLID\n8\n0\n10\n10\n20\n" + y0 + "\n11\n40\n21\n" + y0 + "\n12\n10\n22\n" + y1 +
               "\n13\n40\n23\n" + y1 + "\n";
    };
    const std::string dxf =
        "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n"
        "0\nLAYER\n2\nOn\n70\n0\n62\n3\n0\nLAYER\n2\nOff\n70\n0\n62\n-1\n"
        "0\nLAYER\n2\nFrozen\n70\n1\n62\n1\n0\nENDTAB\n0\nENDSEC\n"
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB\n10\n0\n20\n0\n" +
        DxfLine("0", 0, 0, 40, 0) + "0\nCIRCLE\n8\nON\n10\n20\n20\n10\n40\n5\n" + solid(-12) +
        "0\nENDBLK\n0\nENDSEC\n" + "0\nSECTION\n2\nENTITIES\n" + DxfLine("On", 10, 10, 50, 10) +
        DxfLine("Off", 10, 30, 50, 30) + DxfLine("Frozen", 10, 50, 50, 50) +
        "0\nINSERT\n8\nOff\n2\nB\n10\n100\n20\n10\n0\nINSERT\n8\nFrozen\n2\nB\n10\n100\n20\n50\n"
        "0\nINSERT\n8\nOn\n2\nB\n10\n100\n20\n90\n" +
        solid(78) + "0\nENDSEC\n0\nEOF\n";
    const Plot shown = ReadDxfEntities(dxf, AtScale(1)).plot;
    EXPECT_TRUE(InkIn(shown, 20, 8, 40, 12));
    EXPECT_FALSE(InkIn(shown, 5, 25, 55, 55)) << "lines on layers off or frozen";
    EXPECT_FALSE(InkIn(shown, 105, 8, 135, 12)) << "the block's line on 0 of an INSERT off";
    EXPECT_TRUE(InkIn(shown, 110, 18, 130, 26)) << "its circle on a layer shown";
    EXPECT_FALSE(InkIn(shown, 95, 45, 145, 70)) << "a frozen INSERT";
    // The block's solid on 0 BYLAYER takes the colour of ON (pen 3); the one
    // on 0 outside the block is black.
    EXPECT_EQ(FillPenAt(shown, 25, 80.5), 7);
    EXPECT_EQ(FillPenAt(shown, 125, 80.5), 3);

    DxfOptions chosen = AtScale(1);
    chosen.layers = {"frozen", "Nowhere"};
    const DxfResult only = ReadDxfEntities(dxf, chosen);
    EXPECT_EQ(only.report.unknownLayers, std::vector<std::string>{"Nowhere"});
    EXPECT_TRUE(InkIn(only.plot, 20, 48, 40, 52));
    EXPECT_TRUE(InkIn(only.plot, 110, 48, 130, 52)) << "the block's line on 0 goes with FROZEN";
    EXPECT_FALSE(InkIn(only.plot, 110, 58, 130, 66)) << "its circle on ON";
    EXPECT_FALSE(InkIn(only.plot, 5, 5, 55, 35));
    EXPECT_FALSE(InkIn(only.plot, 5, 75, 145, 95)) << "layers 0 and ON";
}

// A DIMENSION is drawn from the block it names (not its DEFPOINTS; BYBLOCK
// in its colour), or reported without one; ATTRIBs are drawn as text unless
// invisible, and of the ATTDEFs only constant ones; WIPEOUT and MLEADER are reported.
TEST(Dxf, DimensionsAndAttributes) {
    const std::string blocks =
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\n*D1\n10\n0\n20\n0\n" + DxfLine("0", 10, 10, 60, 10) +
        "0\nSOLID\n8\n0\n62\n0\n10\n10\n20\n20\n11\n60\n21\n20\n12\n10\n22\n25\n13\n60\n23\n25\n" +
        "0\nPOINT\n8\nDefpoints\n10\n10\n20\n40\n0\nENDBLK\n"
        "0\nBLOCK\n2\nA\n10\n0\n20\n0\n"
        "0\nATTDEF\n8\n0\n10\n0\n20\n0\n40\n10\n1\nHHHH\n2\nTAG\n70\n0\n"
        "0\nATTDEF\n8\n0\n10\n0\n20\n-30\n40\n10\n1\nHHHH\n2\nFIXED\n70\n2\n0\nENDBLK\n0\nENDSEC\n";
    const std::string entities =
        "0\nDIMENSION\n8\n0\n62\n1\n2\n*D1\n70\n0\n0\nDIMENSION\n8\n0\n2\n*D9\n70\n1\n"
        "0\nINSERT\n8\n0\n2\nA\n66\n1\n10\n100\n20\n100\n"
        "0\nATTRIB\n8\n0\n10\n150\n20\n50\n40\n10\n1\nHHHH\n2\nTAG\n70\n0\n"
        "0\nATTRIB\n8\n0\n10\n150\n20\n80\n40\n10\n1\nHHHH\n2\nHIDDEN\n70\n1\n"
        "0\nATTRIB\n8\n0\n10\n0\n20\n0\n11\n250\n21\n50\n40\n10\n1\nHHHH\n2\nC\n70\n0\n72\n1\n"
        "0\nSEQEND\n8\n0\n0\nWIPEOUT\n8\n0\n0\nMULTILEADER\n8\n0\n";
    const DxfResult r = ReadDxfEntities(
        blocks + "0\nSECTION\n2\nENTITIES\n" + entities + "0\nENDSEC\n0\nEOF\n", AtScale(1));
    EXPECT_EQ(r.report.skipped, "1 DIMENSION, 1 MLEADER, 1 WIPEOUT");
    EXPECT_TRUE(InkIn(r.plot, 12, 9, 58, 11)) << "the dimension's block";
    EXPECT_EQ(FillPenAt(r.plot, 35, 22.5), 1) << "its solid BYBLOCK in the DIMENSION's red";
    EXPECT_FALSE(InkIn(r.plot, 5, 35, 15, 45)) << "its point on DEFPOINTS";
    EXPECT_TRUE(InkIn(r.plot, 152, 51, 170, 59)) << "the ATTRIB";
    EXPECT_FALSE(InkIn(r.plot, 145, 75, 190, 95)) << "the invisible ATTRIB";
    EXPECT_FALSE(InkIn(r.plot, 95, 95, 140, 115)) << "the ATTDEF, a template";
    EXPECT_TRUE(InkIn(r.plot, 102, 71, 120, 79)) << "the constant ATTDEF";
    // The centred ATTRIB at its second point: from 250 mm as far left to its
    // origin (its ink a side bearing further, as the plain one's from 150 mm)
    // as right to its ink's end.
    double plain = 1e9, left = 1e9, right = -1;
    for (double x = 140; x < 300; x += 0.125) {
        if (!InkIn(r.plot, x, 52, x, 58)) continue;
        if (x < 200)
            plain = std::min(plain, x);
        else
            left = std::min(left, x), right = std::max(right, x);
    }
    const double bearing = plain - 150;
    EXPECT_GT(bearing, 0);
    EXPECT_NEAR(250 - (left - bearing), right - 250, 0.5);
}

// LEADER: its polyline, with a filled arrowhead at the first vertex when
// its flag says so, $DIMASZ x $DIMSCALE long and a third of that wide.
TEST(Dxf, LeaderArrow) {
    const auto leader = [&](int arrow) {
        return ReadDxfEntities(
                   "0\nSECTION\n2\nHEADER\n9\n$DIMASZ\n40\n5\n9\n$DIMSCALE\n40\n2\n0\nENDSEC\n"
                   "0\nSECTION\n2\nENTITIES\n0\nLEADER\n8\n0\n71\n" +
                       std::to_string(arrow) +
                       "\n76\n3\n10\n10\n20\n150\n10\n60\n20\n150\n10\n60\n20\n180\n"
                       "0\nENDSEC\n0\nEOF\n",
                   AtScale(1))
            .plot;
    };
    const Plot plain = leader(0), arrow = leader(1);
    EXPECT_NEAR(BoxOf(plain).left, 10 * px, 0.5);
    EXPECT_NEAR(BoxOf(plain).top, 180 * px, 0.5);
    EXPECT_FALSE(InkIn(plain, 18, 150.7, 19.5, 151));
    EXPECT_NEAR(BoxOf(arrow).left, BoxOf(plain).left, 0.5);
    EXPECT_NEAR(BoxOf(arrow).bottom, (150 - 10.0 / 6) * px, 0.5);  // 10 mm from its tip
    EXPECT_TRUE(InkIn(arrow, 18, 150.7, 19.5, 151));
    EXPECT_FALSE(InkIn(arrow, 21, 150.7, 58, 151)) << "no wider than its line past the arrow";
}

// MTEXT's inline formatting: \H height (absolute, or relative with x), \C
// colour, \L and \O under- and overline, fonts read past; TEXT's %%u and
// %%o toggle the lines.
TEST(Dxf, TextFormatting) {
    // Bottom left at (100, 100): the baseline is there whatever the height.
    const auto mtext = [&](const std::string& text) {
        return ReadDxfEntities("0\nMTEXT\n8\n0\n10\n100\n20\n100\n40\n10\n71\n7\n1\n" + text + "\n",
                               AtScale(1))
            .plot;
    };
    const InkBox plain = BoxOf(mtext("HHHH"));
    ASSERT_GT(plain.right, plain.left);
    const InkBox absolute = BoxOf(mtext("\\H20;HHHH"));
    EXPECT_NEAR(absolute.Height(), 2 * plain.Height(), 1);
    EXPECT_NEAR(absolute.Width(), 2 * plain.Width(), 2);
    const InkBox relative = BoxOf(mtext("\\H2x;HHHH"));
    EXPECT_NEAR(relative.Height(), absolute.Height(), 0.5);
    EXPECT_NEAR(relative.Width(), absolute.Width(), 0.5);
    const InkBox grouped = BoxOf(mtext("{\\H2x;HH}HH"));  // the group ends the larger height
    EXPECT_NEAR(grouped.Height(), absolute.Height(), 0.5);
    EXPECT_NEAR(grouped.Width(), 1.5 * plain.Width(), 2);
    EXPECT_TRUE(SameSteps(mtext("{\\fArial|b1|i0|c0;HH}HH"), mtext("HHHH")));

    // HH is about 21 mm long: lines under or over the first pair only, 2 mm
    // below the baseline or above the height.
    const auto lines = [&](const Plot& plot, const char* what, bool under) {
        const double y = under ? 98 : 112;
        EXPECT_TRUE(InkIn(plot, 102, y - 0.4, 118, y + 0.4)) << what;
        EXPECT_FALSE(InkIn(plot, 124, y - 0.6, 140, y + 0.6)) << what;
        EXPECT_FALSE(InkIn(plot, 95, under ? 110.5 : 95, 150, under ? 115 : 99.5)) << what;
    };
    lines(mtext("\\LHH\\lHH"), "\\L", true);
    lines(mtext("\\OHH\\oHH"), "\\O", false);
    const auto text = [](const char* t) {
        return ReadDxfEntities(
                   std::string("0\nTEXT\n8\n0\n10\n100\n20\n100\n40\n10\n1\n") + t + "\n",
                   AtScale(1))
            .plot;
    };
    lines(text("%%uHH%%uHH"), "%%u", true);
    lines(text("%%oHH%%oHH"), "%%o", false);

    // \C1; is pen 1 for what follows.
    const Plot coloured = mtext("HH\\C1;HH");
    EXPECT_EQ(FillPenAt(coloured, 103, 105), 7);
    EXPECT_EQ(FillPenAt(coloured, 124.5, 105), 1);
}

// A pattern HATCH draws its line families inside its boundary, even-odd:
// nothing in a hole or outside; dashes where the pattern has them. Boundary
// edges are joined end to end whatever their order; bulges are arcs.
TEST(Dxf, PatternHatch) {
    // Its edges in order, or as a file may list them: out of order, one turned round.
    const auto square = [](double x0, double y0, double x1, double y1, bool scrambled = false) {
        std::string loop = "92\n1\n93\n4\n";
        const double x[] = {x0, x1, x1, x0}, y[] = {y0, y0, y1, y1};
        for (const int i :
             scrambled ? std::vector<int>{0, 2, 1, 3} : std::vector<int>{0, 1, 2, 3}) {
            const int a = scrambled && i == 2 ? 3 : i, b = scrambled && i == 2 ? 2 : (i + 1) % 4;
            loop += "72\n1\n10\n" + std::to_string(x[a]) + "\n20\n" + std::to_string(y[a]) +
                    "\n11\n" + std::to_string(x[b]) + "\n21\n" + std::to_string(y[b]) + "\n";
        }
        return loop + "97\n0\n";
    };
    const auto hatch = [](const std::string& loops, int count, const std::string& pattern) {
        return "0\nHATCH\n8\n0\n10\n0\n20\n0\n30\n0\n2\nUSER\n70\n0\n71\n0\n91\n" +
               std::to_string(count) + "\n" + loops + "75\n0\n76\n1\n52\n0\n41\n1\n78\n1\n" +
               pattern + "98\n0\n";
    };
    // Lines at y = 5, 15, ... 95 in a square with a hole from 40 to 60; upright
    // dashes 5 mm long every 10 mm at x = 205, 215, ... 295.
    const DxfResult r =
        ReadDxfEntities(hatch(square(0, 0, 100, 100) + square(40, 40, 60, 60), 2,
                              "53\n0\n43\n0\n44\n5\n45\n0\n46\n10\n79\n0\n") +
                            hatch(square(200, 0, 300, 100, true), 1,
                                  "53\n90\n43\n205\n44\n0\n45\n-10\n46\n0\n79\n2\n49\n5\n49\n-5\n"),
                        AtScale(1));
    EXPECT_EQ(r.report.skipped, "");
    EXPECT_TRUE(InkIn(r.plot, 1, 34.8, 99, 35.2));
    EXPECT_TRUE(InkIn(r.plot, 1, 44.8, 39, 45.2));
    EXPECT_FALSE(InkIn(r.plot, 41, 41, 59, 59)) << "in the hole";
    EXPECT_FALSE(InkIn(r.plot, 1, 36, 99, 44)) << "between the lines";
    EXPECT_FALSE(InkIn(r.plot, 101, 0, 199, 100)) << "beyond the boundary";
    EXPECT_TRUE(InkIn(r.plot, 224.8, 51, 225.2, 54));
    EXPECT_FALSE(InkIn(r.plot, 224.5, 56, 225.5, 59)) << "the dashes' gaps";
    EXPECT_FALSE(InkIn(r.plot, 226, 1, 234, 99));

    // A polyline loop's bulges are arcs: two half circles make a disc.
    const InkBox disc =
        BoxOf(ReadDxfEntities("0\nHATCH\n8\n0\n10\n0\n20\n0\n30\n0\n2\nSOLID\n70\n1\n71\n0\n91\n1\n"
                              "92\n2\n72\n1\n73\n1\n93\n2\n10\n100\n20\n100\n42\n1\n10\n200\n20\n"
                              "100\n42\n1\n97\n0\n75\n0\n76\n1\n98\n0\n",
                              AtScale(1))
                  .plot);
    EXPECT_NEAR(disc.left, 100 * px, 0.5);
    EXPECT_NEAR(disc.right, 200 * px, 0.5);
    EXPECT_NEAR(disc.bottom, 50 * px, 0.5);
    EXPECT_NEAR(disc.top, 150 * px, 0.5);

    // Lines or dashes a millionth of a millimetre apart are reported, not
    // drawn for ever; the rest of the drawing is.
    for (const char* pattern : {"53\n0\n43\n0\n44\n0\n45\n0\n46\n0.000001\n79\n0\n",
                                "53\n0\n43\n0\n44\n0\n45\n0\n46\n10\n79\n2\n49\n"
                                "0.000001\n49\n-0.000001\n"}) {
        const DxfResult dense = ReadDxfEntities(
            DxfLine("0", 0, 0, 10, 10) + hatch(square(0, 0, 100, 100), 1, pattern), AtScale(1));
        EXPECT_EQ(dense.report.skipped, "1 HATCH (pattern too dense)");
        EXPECT_TRUE(InkIn(dense.plot, 4, 4, 6, 6));
    }
    // So far from the origin that a line's number plus one is the same number:
    // counted to the end all the same, and reported as out of range.
    const DxfResult far = ReadDxfEntities(
        DxfLine("0", 0, 0, 10, 10) + hatch(square(1e17, 0, 1e17 + 100, 100), 1,
                                           "53\n90\n43\n0\n44\n0\n45\n1\n46\n0\n79\n0\n"),
        AtScale(1));
    EXPECT_NE(far.report.skipped.find("beyond 1e12"), std::string::npos) << far.report.skipped;
}

// A STYLE naming a TrueType file the system has draws in that font; one it
// does not have, in the system sans like any other.
TEST(Dxf, StyleFonts) {
    const auto text = [&](const std::string& font, const char* kind) {
        return BoxOf(
            ReadDxfEntities(
                "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nSTYLE\n0\nSTYLE\n2\nNamed\n70\n0\n3\n" + font +
                    "\n0\nENDTAB\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\n" + kind +
                    "\n8\n0\n7\nnamed\n10\n100\n20\n100\n40\n10\n1\nHHHHHHHHHH\n"
                    "0\nENDSEC\n0\nEOF\n",
                AtScale(1))
                .plot);
    };
    if (std::system("fc-list | grep -q DejaVuSerif.ttf") != 0)
        GTEST_SKIP() << "DejaVu Serif is not installed";
    for (const char* kind : {"TEXT", "MTEXT"}) {
        const InkBox sans = text("txt", kind), serif = text("DejaVuSerif.ttf", kind);
        ASSERT_GT(sans.right, sans.left) << kind;
        EXPECT_GT(std::abs(serif.Width() - sans.Width()), sans.Width() / 20) << kind;
        const InkBox missing = text("NoSuchFont.ttf", kind);
        EXPECT_EQ(missing.left, sans.left) << kind;
        EXPECT_EQ(missing.right, sans.right) << kind;
    }
}

TEST(Dxf, WorkAndCoordinatesAreBounded) {
    // 40 levels of 2 x 2 arrays of blocks that draw nothing: 4^16 copies
    // down to the depth limit unless the work itself is bounded.
    std::string nest = "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB0\n10\n0\n20\n0\n0\nENDBLK\n";
    for (int level = 1; level <= 40; ++level)
        nest += "0\nBLOCK\n2\nB" + std::to_string(level) + "\n10\n0\n20\n0\n0\nINSERT\n8\n0\n2\nB" +
                std::to_string(level - 1) +
                "\n10\n0\n20\n0\n70\n2\n71\n2\n44\n1\n45\n1\n0\nENDBLK\n";
    nest +=
        "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nINSERT\n8\n0\n2\nB40\n10\n0\n20\n0\n"
        "0\nLINE\n8\n0\n10\n0\n20\n0\n11\n1\n21\n1\n0\nENDSEC\n0\nEOF\n";
    Plot plot;
    DxfReport report;
    std::string error;
    EXPECT_FALSE(ReadDxfText(nest, "nest.dxf", kSheet, {}, &plot, &report, &error));
    EXPECT_NE(error.find("more than 2 million points or block entities"), std::string::npos)
        << error;

    // dxflib makes room for the points an entity says it has before reading
    // them: a count the file cannot hold is refused, naming its line.
    for (const char* entity : {"LWPOLYLINE\n90", "SPLINE\n73", "LEADER\n76", "HATCH\n91"}) {
        error.clear();
        EXPECT_FALSE(ReadDxfText(std::string("0\nSECTION\n2\nENTITIES\n0\n") + entity +
                                     "\n1000000\n10\n0\n20\n0\n" + DxfLine("0", 0, 0, 1, 1) +
                                     "0\nENDSEC\n0\nEOF\n",
                                 "count.dxf", kSheet, {}, &plot, &report, &error));
        EXPECT_NE(error.find("count.dxf: line 8: "), std::string::npos) << error;
        EXPECT_NE(error.find(" with 1000000 "), std::string::npos) << error;
    }

    // An empty coordinate reads as 0 (dxflib alone leaves it to chance).
    const auto centred = [](const std::string& value) {
        return ReadDxfEntities("0\nCIRCLE\n8\n0\n10\n" + value + "\n20\n5\n40\n5\n" +
                               DxfLine("0", 0, 0, 30, 20))
            .plot;
    };
    EXPECT_TRUE(SameSteps(centred(""), centred("0")));
    EXPECT_TRUE(SameSteps(centred(" \t"), centred("0")));

    // An array beyond 100 x 100 is cut, and the cut reported.
    const DxfResult array = ReadDxfEntities(
        "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n2\nB1\n10\n0\n20\n0\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n1\n"
        "21\n1\n0\nENDBLK\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nINSERT\n8\n0\n2\nB1\n10\n0\n20\n"
        "0\n70\n300\n71\n2\n44\n2\n45\n2\n0\nENDSEC\n0\nEOF\n");
    EXPECT_EQ(array.report.skipped, "1 INSERT array cut to 100 x 100");

    // Coordinates of +-1e308 (and their infinite and NaN results) are
    // dropped with a word, fitted or at a fixed scale.
    const std::string line = "0\nLINE\n8\n0\n10\n0\n20\n0\n11\n100\n21\n50\n";
    for (const char* far :
         {"-1e308\n20\n0\n11\n1e308\n21\n1e308\n", "1e300\n20\n1e300\n11\n1\n21\n1\n"})
        for (const DxfOptions& options : {DxfOptions{}, AtScale(1)}) {
            const DxfResult farRun =
                ReadDxfEntities("0\nLINE\n8\n0\n10\n" + std::string(far) + line, options);
            EXPECT_EQ(farRun.report.skipped,
                      "1 entity with coordinates beyond 1e12 or not numbers");
            EXPECT_TRUE(SameSteps(farRun.plot, ReadDxfEntities(line, options).plot)) << far;
        }
}

int CountOf(const Plot& plot, Step::Kind kind) {
    int n = 0;
    for (const Step& s : plot.steps()) n += s.kind == kind;
    return n;
}

std::string Entities(const std::string& entities, const std::string& tables = "") {
    return (tables.empty() ? "" : "0\nSECTION\n2\nTABLES\n" + tables + "0\nENDSEC\n") +
           "0\nSECTION\n2\nENTITIES\n" + entities + "0\nENDSEC\n0\nEOF\n";
}

// MTEXT longer than 250 characters comes as group-3 pieces before its
// group-1 tail: all of it is drawn, escapes cut by a piece's end included;
// a line too long for dxflib is split into such pieces, or cut.
TEST(Dxf, LongTextWhole) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "Line " + std::to_string(i) + " \\U+043C\\P";
    const auto mtext = [](const std::string& pieces) {
        return ReadDxfEntities(Entities("0\nMTEXT\n8\n0\n10\n10\n20\n200\n40\n2\n" + pieces),
                               AtScale(1));
    };
    const DxfResult whole = mtext("1\n" + text + "\n");
    ASSERT_TRUE(whole.ok) << whole.error;
    EXPECT_EQ(whole.report.skipped, "");
    const std::size_t cut = text.find("\\U+043C") + 2;  // between "\U" and "+043C"
    const DxfResult pieces = mtext("3\n" + text.substr(0, cut) + "\n3\n" + text.substr(cut, 250) +
                                   "\n1\n" + text.substr(cut + 250) + "\n");
    EXPECT_TRUE(SameSteps(pieces.plot, whole.plot));
    const InkBox box = BoxOf(whole.plot);
    EXPECT_NEAR(box.Height(), (39 * 2 * 5.0 / 3 + 2) * px, 3) << "40 lines";

    // 1,100 characters: MTEXT split, TEXT and a comment cut; a number or a
    // group code that long refused. None of them may hang dxflib.
    const std::string longText(1100, 'H');
    EXPECT_TRUE(SameSteps(
        mtext("1\n" + longText + "\n").plot,
        mtext("3\n" + longText.substr(0, 600) + "\n1\n" + longText.substr(600) + "\n").plot));
    const DxfResult cutText =
        ReadDxfEntities("999\n" + longText + "\n" +
                        Entities("0\nTEXT\n8\n0\n10\n0\n20\n0\n40\n2\n1\n" + longText + "\n"));
    EXPECT_EQ(cutText.report.skipped, "1 text cut at 1000 characters");
    const DxfResult font = ReadDxfEntities(Entities(
        "0\nTEXT\n8\n0\n7\nLONG\n10\n0\n20\n0\n40\n2\n1\nH\n",
        "0\nTABLE\n2\nSTYLE\n0\nSTYLE\n2\nLONG\n70\n0\n3\n" + longText + ".ttf\n0\nENDTAB\n"));
    EXPECT_TRUE(font.ok) << font.error;
    for (const std::string& bad : {"0\nLINE\n8\n0\n10\n" + std::string(1100, '1') + "\n",
                                   std::string(1099, ' ') + "0\nLINE\n"}) {
        Plot plot;
        DxfReport report;
        std::string error;
        EXPECT_FALSE(ReadDxfText(Entities(bad), "long.dxf", kSheet, {}, &plot, &report, &error));
        EXPECT_NE(error.find("long.dxf: line "), std::string::npos) << error;
        EXPECT_NE(error.find("1100 characters"), std::string::npos) << error;
    }
}

// A line type is what the LTYPE table says: no dashes, solid; dashes drawn
// at their lengths times $LTSCALE and the entity's scale (48). A name the
// table lacks, or a standard name (CENTER2) it gives no dashes, keeps the
// printer's line type of its name.
TEST(Dxf, LineTypesFromTheTable) {
    const std::string table =
        "0\nTABLE\n2\nLTYPE\n0\nLTYPE\n2\nK5LT32768\n70\n0\n3\n\n72\n65\n73\n0\n40\n0\n"
        "0\nLTYPE\n2\nCENTER2\n70\n0\n3\n\n72\n65\n73\n0\n40\n0\n"
        "0\nLTYPE\n2\nDASH10\n70\n0\n3\n__ "
        "__\n72\n65\n73\n2\n40\n15\n49\n10\n74\n0\n49\n-5\n74\n0\n"
        "0\nENDTAB\n";
    const auto line = [&](const std::string& type, const std::string& header = "",
                          const std::string& scale = "") {
        const std::string dxf =
            (header.empty() ? "" : "0\nSECTION\n2\nHEADER\n" + header + "0\nENDSEC\n") +
            Entities("0\nLINE\n8\n0\n6\n" + type + "\n" + scale + "10\n0\n20\n0\n11\n100\n21\n0\n",
                     table);
        return ReadDxfEntities(dxf, AtScale(1)).plot;
    };
    const auto lineTypes = [](const Plot& plot) {
        std::vector<int> types;
        for (const Step& s : plot.steps())
            if (s.kind == Step::Kind::LineType) types.push_back(s.a);
        return types;
    };
    EXPECT_EQ(lineTypes(line("CENTER2")), std::vector<int>{4});
    const Plot solid = line("K5LT32768");
    EXPECT_EQ(lineTypes(solid), std::vector<int>{0});
    EXPECT_EQ(CountOf(solid, Step::Kind::Move), 1);
    const Plot dashed = line("DASH10");
    EXPECT_EQ(lineTypes(dashed), std::vector<int>{0});
    EXPECT_EQ(CountOf(dashed, Step::Kind::Move), 7);  // 0-10, 15-25, ... 90-100
    EXPECT_TRUE(InkIn(dashed, 1, -0.5, 9, 0.5));
    EXPECT_FALSE(InkIn(dashed, 11, -0.5, 14, 0.5));
    EXPECT_TRUE(InkIn(dashed, 16, -0.5, 24, 0.5));
    EXPECT_EQ(CountOf(line("DASH10", "9\n$LTSCALE\n40\n2\n"), Step::Kind::Move), 4);
    EXPECT_EQ(CountOf(line("DASH10", "", "48\n0.5\n"), Step::Kind::Move), 14);
    // Finer than a host step: the solid line it looks like.
    EXPECT_EQ(CountOf(line("DASH10", "9\n$LTSCALE\n40\n1e-6\n"), Step::Kind::Move), 1);
    EXPECT_EQ(lineTypes(line("DASHED")), std::vector<int>{dxf::LineTypeOf("DASHED")});
    EXPECT_EQ(lineTypes(line("NOT_IN_TABLE")), std::vector<int>{dxf::LineTypeOf("NOT_IN_TABLE")});
}

// Text is held as its runs and outlined when drawn: a drawing of many short
// texts plots, bounded by what its areas take in the plot.
TEST(Dxf, ManyTextsPlot) {
    std::string texts;
    for (int i = 0; i < 8000; ++i)
        texts += "0\nTEXT\n8\n0\n10\n" + std::to_string(i % 100 * 30) + "\n20\n" +
                 std::to_string(i / 100 * 8) + "\n40\n2.5\n1\nT" + std::to_string(10000 + i) +
                 "-AB\n";
    const DxfResult r = ReadDxfEntities(Entities(texts));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(CountOf(r.plot, Step::Kind::Polygon), 8000);
}

// What CAD programs draw that used to be dropped: a SPLINE of fit points
// through them, an MLINE's element lines, LWPOLYLINE widths as areas, a
// loose ATTDEF's tag, TEXT backwards and upside down; a layer marked not to
// plot (290 = 0) is not, unless named.
TEST(Dxf, EntitiesOnceDropped) {
    const DxfResult fit = ReadDxfEntities(
        Entities("0\nSPLINE\n8\n0\n70\n8\n71\n3\n74\n4\n"
                 "11\n10\n21\n10\n11\n40\n21\n50\n11\n70\n21\n10\n11\n100\n21\n50\n"),
        AtScale(1));
    ASSERT_TRUE(fit.ok) << fit.error;
    for (const auto& [x, y] : {std::pair{10, 10}, {40, 50}, {70, 10}, {100, 50}})
        EXPECT_TRUE(InkIn(fit.plot, x - 0.3, y - 0.3, x + 0.3, y + 0.3)) << x << "," << y;
    EXPECT_TRUE(InkIn(fit.plot, 54, 28, 56, 32)) << "between its points";
    EXPECT_FALSE(InkIn(fit.plot, 62, 45, 80, 60));

    // Two elements a vertex, 2.5 mm either side of the path along its miter.
    const DxfResult mline = ReadDxfEntities(
        Entities("0\nLINE\n8\n0\n62\n5\n10\n0\n20\n0\n11\n1\n21\n1\n"
                 "0\nMLINE\n8\n0\n62\n1\n2\nSTANDARD\n40\n5\n70\n0\n71\n0\n72\n2\n73\n2\n"
                 "10\n10\n20\n100\n30\n0\n"
                 "11\n10\n21\n100\n31\n0\n12\n1\n22\n0\n32\n0\n13\n0\n23\n1\n33\n0\n"
                 "74\n2\n41\n2.5\n41\n0\n75\n0\n74\n2\n41\n-2.5\n41\n0\n75\n0\n"
                 "11\n90\n21\n100\n31\n0\n12\n1\n22\n0\n32\n0\n13\n0\n23\n1\n33\n0\n"
                 "74\n2\n41\n2.5\n41\n0\n75\n0\n74\n2\n41\n-2.5\n41\n0\n75\n0\n"),
        AtScale(1));
    ASSERT_TRUE(mline.ok) << mline.error;
    EXPECT_TRUE(InkIn(mline.plot, 20, 102.3, 80, 102.7));
    EXPECT_TRUE(InkIn(mline.plot, 20, 97.3, 80, 97.7));
    EXPECT_FALSE(InkIn(mline.plot, 20, 99, 80, 101));
    std::vector<int> pens;
    for (const Step& s : mline.plot.steps())
        if (s.kind == Step::Kind::Pen) pens.push_back(s.a);
    EXPECT_EQ(pens, (std::vector<int>{5, 1})) << "its own colour, not the entity's before";

    // 4 mm wide, then tapered from 6 mm to nothing.
    const DxfResult wide = ReadDxfEntities(
        Entities(
            "0\nLWPOLYLINE\n8\n0\n90\n2\n70\n0\n43\n4\n10\n10\n20\n50\n10\n90\n20\n50\n"
            "0\nLWPOLYLINE\n8\n0\n90\n2\n70\n0\n10\n10\n20\n20\n40\n6\n41\n0\n10\n90\n20\n20\n"),
        AtScale(1));
    EXPECT_EQ(CountOf(wide.plot, Step::Kind::Draw), 0) << "areas, not hairlines";
    EXPECT_EQ(FillPenAt(wide.plot, 50, 51.8), 7);
    EXPECT_EQ(FillPenAt(wide.plot, 50, 52.2), -1);
    EXPECT_EQ(FillPenAt(wide.plot, 12, 22.8), 7);
    EXPECT_EQ(FillPenAt(wide.plot, 88, 20.5), -1);

    const std::string layers =
        "0\nTABLE\n2\nLAYER\n0\nLAYER\n2\nNOPLOT\n70\n0\n62\n1\n290\n0\n"
        "0\nLAYER\n2\nPLOT\n70\n0\n62\n1\n290\n1\n0\nENDTAB\n";
    const std::string attdef =
        "0\nATTDEF\n8\nPLOT\n10\n10\n20\n150\n40\n5\n1\n\n2\nTAGNAME\n70\n0\n";
    const std::string flipped = "0\nTEXT\n8\nPLOT\n10\n100\n20\n150\n40\n5\n71\n6\n1\nHHHH\n";
    const std::string text = Entities(
        DxfLine("NOPLOT", 10, 10, 90, 10) + DxfLine("PLOT", 10, 30, 90, 30) + attdef + flipped,
        layers);
    const DxfResult plotted = ReadDxfEntities(text, AtScale(1));
    EXPECT_FALSE(InkIn(plotted.plot, 10, 9, 90, 11)) << "a layer not to plot";
    EXPECT_TRUE(InkIn(plotted.plot, 10, 29, 90, 31));
    EXPECT_TRUE(InkIn(plotted.plot, 11, 151, 30, 154)) << "the tag";
    EXPECT_TRUE(InkIn(plotted.plot, 85, 146, 99, 149)) << "backwards and upside down";
    EXPECT_FALSE(InkIn(plotted.plot, 101, 151, 120, 155));
    DxfOptions named = AtScale(1);
    named.layers = {"NOPLOT"};
    EXPECT_TRUE(InkIn(ReadDxfEntities(text, named).plot, 10, 9, 90, 11));
}

// A closed wide LWPOLYLINE is joined at every vertex, its first (where the
// last segment meets the first) too: each outer corner of a square 8 mm
// wide is filled, as far as its bevel reaches.
TEST(Dxf, ClosedWidePolylineJoinedAtEveryVertex) {
    const Plot square =
        ReadDxfEntities(Entities("0\nLWPOLYLINE\n8\n0\n90\n4\n70\n1\n43\n8\n10\n20\n20\n20"
                                 "\n10\n120\n20\n20\n10\n120\n20\n100\n10\n20\n20\n100\n"),
                        AtScale(1))
            .plot;
    for (const auto& [x, y, out] : {std::tuple{20.0, 20.0, -1.0},
                                    {120.0, 20.0, 1.0},
                                    {120.0, 100.0, 1.0},
                                    {20.0, 100.0, -1.0}}) {
        const double up = y < 50 ? -1 : 1;
        EXPECT_EQ(FillPenAt(square, x + out * 1.5, y + up * 1.5), 7) << x << "," << y;
        EXPECT_EQ(FillPenAt(square, x + out * 3.5, y + up * 3.5), -1) << x << "," << y;
    }
}

// Text of a TrueType font is as high as its capitals and as wide as the
// font's own advances and kerning say, as ezdxf draws it: the extents of
// TEXT in DejaVu Sans, 10 mm high, measured from ezdxf 0.18.1's outlines
// (text2path), drawn within 0.1 mm.
TEST(Dxf, TextSizedByTheFontsCapitals) {
    if (std::system("fc-list | grep -q DejaVuSans.ttf") != 0)
        GTEST_SKIP() << "DejaVu Sans is not installed";
    const struct {
        const char* text;
        double left, bottom, right, top;  // from the insertion point
    } cases[] = {
        {"H", 1.3459, 0, 8.9670, 10},
        {"Hello World 0123", 1.3459, -0.1950, 116.5985, 10.4222},
        {"1234567890", 1.5066, -0.1950, 86.3564, 10.1800},
        {"iiiiiiii", 1.2923, 0, 29.2003, 10.4222},
        {"AVAVAV", 0.1072, 0, 51.8123, 10},
    };
    // Named, and the fallback where the system's sans-serif is DejaVu Sans.
    std::vector<std::string> fonts{"DejaVuSans.ttf"};
    if (std::system("fc-match sans-serif | grep -q DejaVuSans.ttf") == 0) fonts.push_back("txt");
    for (const auto& c : cases)
        for (const std::string& font : fonts) {
            const InkBox box = BoxOf(
                ReadDxfEntities("0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nSTYLE\n0\nSTYLE\n2\nS\n70"
                                "\n0\n3\n" +
                                    font +
                                    "\n0\nENDTAB\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nTEXT\n8"
                                    "\n0\n7\nS\n10\n100\n20\n100\n40\n10\n1\n" +
                                    c.text + "\n0\nENDSEC\n0\nEOF\n",
                                AtScale(1))
                    .plot);
            const std::string what = std::string(c.text) + " in " + font;
            EXPECT_NEAR(box.left, (100 + c.left) * px, 0.1 * px) << what;
            EXPECT_NEAR(box.right, (100 + c.right) * px, 0.1 * px) << what;
            EXPECT_NEAR(box.bottom, (100 + c.bottom) * px, 0.1 * px) << what;
            EXPECT_NEAR(box.top, (100 + c.top) * px, 0.1 * px) << what;
        }
}

// The same in a drawing of librecad-data: the title block's fields (layer
// TEXTINFO), centred at their points in its own font, which neither has and
// both draw in DejaVu Sans, span what ezdxf 0.18.1 draws (its Matplotlib
// backend at 20 pixels a drawing unit; drawing units).
TEST(Dxf, TitleBlockTextAsEzdxfDrawsIt) {
    const std::string drawing = "/usr/share/librecad/library/plan/architect/Complete-Lib-V.dxf";
    if (std::system(("test -f " + drawing).c_str()) != 0)
        GTEST_SKIP() << "librecad-data is not installed";
    if (std::system("fc-match sans-serif | grep -q DejaVuSans.ttf") != 0)
        GTEST_SKIP() << "sans-serif is not DejaVu Sans";
    DxfOptions options = AtScale(5);
    options.layers = {"TEXTINFO"};
    Plot plot;
    DxfReport report;
    std::string error;
    ASSERT_TRUE(ReadDxf(drawing, kSheet, options, &plot, &report, &error)) << error;
    const InkBox box = BoxOf(plot);
    const double unit = px / 5;  // pixels a drawing unit
    EXPECT_NEAR(box.left, 191.6 * unit, 0.25 * unit) << "SCALE's left";
    EXPECT_NEAR(box.right, 3481.6 * unit, 0.25 * unit) << "DWG No's right";
    EXPECT_NEAR(box.bottom, 28.95 * unit, 0.25 * unit) << "the round letters of TODAY'S DATE";
    EXPECT_NEAR(box.top, 233.45 * unit, 0.25 * unit) << "the round letters of SCALE";
}

// Hatch patterns are bounded by the work they take, gaps or not; what
// left nothing to draw is named.
TEST(Dxf, HatchOfGapsAndNothingToDraw) {
    const auto hatch = [](const std::string& dashes, const std::string& spacing) {
        return "0\nHATCH\n8\n0\n10\n0\n20\n0\n2\nP\n70\n0\n71\n0\n91\n1\n92\n2\n72\n0\n73\n1\n"
               "93\n4\n10\n0\n20\n0\n10\n0.9\n20\n0\n10\n0.9\n20\n0.9\n10\n0\n20\n0.9\n"
               "97\n0\n75\n0\n76\n1\n78\n1\n53\n0\n43\n0\n44\n0\n45\n0\n46\n" +
               spacing + "\n" + dashes + "98\n0\n";
    };
    Plot plot;
    DxfReport report;
    std::string error;
    EXPECT_FALSE(ReadDxfText(Entities(hatch("79\n1\n49\n-1e-6\n", "1e-6")), "gaps.dxf", kSheet, {},
                             &plot, &report, &error));
    EXPECT_EQ(error, "gaps.dxf: nothing to draw (skipped: 1 HATCH (pattern of gaps alone))");
    EXPECT_FALSE(ReadDxfText(Entities(hatch("79\n2\n49\n1e-9\n49\n-1e-6\n", "1e-4")), "dense.dxf",
                             kSheet, {}, &plot, &report, &error));
    EXPECT_EQ(error, "dense.dxf: nothing to draw (skipped: 1 HATCH (pattern too dense))");
}

// MTEXT's \S stacks (over a bar for '/'), \W widens, \T spreads the letters,
// \A places a lower run in the line's middle or top.
TEST(Dxf, TextStackingWidthTrackingAlignment) {
    const auto mtext = [](const std::string& text) {
        return BoxOf(
            ReadDxfEntities(
                Entities("0\nMTEXT\n8\n0\n10\n10\n20\n100\n40\n10\n71\n7\n1\n" + text + "\n"),
                AtScale(1))
                .plot);
    };
    const InkBox plain = mtext("HH"), wide = mtext("\\W2;HH"), tracked = mtext("\\T3;HH");
    EXPECT_NEAR(wide.Width(), 2 * plain.Width(), 2);
    EXPECT_GT(tracked.Width(), 1.8 * plain.Width());
    EXPECT_NEAR(tracked.Height(), plain.Height(), 0.5);
    const InkBox stacked = mtext("\\S1/2;");
    EXPECT_GT(stacked.Height(), 1.15 * plain.Height()) << "one over the other";
    EXPECT_LT(stacked.Width(), plain.Width()) << "not written out";
    const DxfResult bar = ReadDxfEntities(
        Entities("0\nMTEXT\n8\n0\n10\n10\n20\n100\n40\n10\n71\n7\n1\n\\S1/2;\n"), AtScale(1));
    EXPECT_TRUE(InkIn(bar.plot, 10.5, 104.5, 11, 105)) << "the bar at half the height";
    const InkBox low = mtext("{\\H0.5x;H}H"), top = mtext("{\\H0.5x;\\A2;H}H");
    EXPECT_NEAR(low.top, top.top, 0.5) << "the tall H sets the top either way";
    const auto lowInk = [&](const std::string& text) {
        const Plot p =
            ReadDxfEntities(
                Entities("0\nMTEXT\n8\n0\n10\n10\n20\n100\n40\n10\n71\n7\n1\n" + text + "\n"),
                AtScale(1))
                .plot;
        return InkIn(p, 10.5, 100.2, 12.5, 101.5);
    };
    EXPECT_TRUE(lowInk("{\\H0.5x;H}H"));
    EXPECT_FALSE(lowInk("{\\H0.5x;\\A1;H}H"));
    EXPECT_FALSE(lowInk("{\\H0.5x;\\A2;H}H"));
}

// A DIMENSION whose block the drawing lacks is drawn from its own points
// and its style: extension lines, the dimension line with arrows, and the
// measurement (or its text with "<>" standing for it).
TEST(Dxf, DimensionsWithoutTheirBlock) {
    const std::string style =
        "0\nTABLE\n2\nDIMSTYLE\n0\nDIMSTYLE\n2\nBIG\n70\n0\n40\n1\n41\n3\n42\n1\n44\n2\n140\n5\n"
        "271\n1\n0\nENDTAB\n";
    const auto dimension = [&](const std::string& groups) {
        return ReadDxfEntities(Entities("0\nDIMENSION\n8\n0\n2\n*NONE\n3\nBIG\n" + groups, style),
                               AtScale(1));
    };
    // Linear, horizontal: from (20, 20) and (80, 30), its line at y = 50.
    const DxfResult linear =
        dimension("10\n80\n20\n50\n11\n50\n21\n55\n70\n0\n13\n20\n23\n20\n14\n80\n24\n30\n50\n0\n");
    ASSERT_TRUE(linear.ok) << linear.error;
    EXPECT_EQ(linear.report.skipped, "");
    EXPECT_TRUE(InkIn(linear.plot, 19.9, 22, 20.1, 48)) << "first extension line";
    EXPECT_FALSE(InkIn(linear.plot, 19.9, 20, 20.1, 20.8)) << "its offset from the point";
    EXPECT_TRUE(InkIn(linear.plot, 79.9, 32, 80.1, 51.5)) << "second, past the line";
    EXPECT_TRUE(InkIn(linear.plot, 30, 49.9, 40, 50.1)) << "the dimension line";
    EXPECT_EQ(FillPenAt(linear.plot, 21.5, 50), 7) << "an arrow inside its end";
    EXPECT_TRUE(InkIn(linear.plot, 40, 53, 60, 57)) << "the text at its point";
    const DxfResult text = dimension(
        "10\n80\n20\n50\n11\n50\n21\n55\n70\n0\n1\nL=<>\n13\n20\n23\n20\n14\n80\n24\n30\n50\n0\n");
    EXPECT_GT(BoxOf(text.plot).Width(), BoxOf(linear.plot).Width() * 0.99);
    EXPECT_FALSE(SameSteps(text.plot, linear.plot));

    // Radius from (100, 100) to (130, 100); diameter; angle at a vertex.
    const DxfResult radius =
        dimension("10\n100\n20\n100\n11\n115\n21\n105\n70\n4\n15\n130\n25\n100\n");
    EXPECT_TRUE(InkIn(radius.plot, 105, 99.9, 120, 100.1));
    EXPECT_EQ(FillPenAt(radius.plot, 128.5, 100), 7);
    const DxfResult diameter =
        dimension("10\n70\n20\n100\n11\n100\n21\n105\n70\n3\n15\n130\n25\n100\n");
    EXPECT_EQ(FillPenAt(diameter.plot, 71.5, 100), 7);
    EXPECT_EQ(FillPenAt(diameter.plot, 128.5, 100), 7);
    // A right angle at (100, 100) between +x and +y, its arc 40 mm out.
    const DxfResult angle = dimension(
        "10\n128.28\n20\n128.28\n70\n5\n13\n110\n23\n100\n14\n100\n24\n110\n15\n100\n25\n100\n");
    ASSERT_TRUE(angle.ok) << angle.error;
    EXPECT_TRUE(InkIn(angle.plot, 127.5, 127.5, 129, 129)) << "the arc through its point";
    EXPECT_TRUE(InkIn(angle.plot, 120, 99.9, 135, 100.1)) << "extension line along x";
    EXPECT_FALSE(InkIn(angle.plot, 60, 60, 95, 95)) << "not the other three quarters";
}

// Text outlined glyph by glyph from a cache is the outline cairo draws of
// the whole string, unhinted, point for point, its H as high as the text
// (strings the font kerns no pair of).
TEST(Dxf, GlyphCacheOutlinesAsCairoDoes) {
    for (const std::string text : {"T00017-8B", "Wg Ä%°~ fi", "1. Неуказанные", "WWWWnnnn"}) {
        cairo_surface_t* surface = cairo_recording_surface_create(CAIRO_CONTENT_ALPHA, nullptr);
        cairo_t* cr = cairo_create(surface);
        cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, 100);
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
        cairo_set_font_options(cr, options);
        cairo_font_options_destroy(options);
        cairo_text_extents_t h;
        cairo_text_extents(cr, "H", &h);
        const double k = 25 / -h.y_bearing;
        cairo_move_to(cr, 0, 0);
        cairo_text_path(cr, text.c_str());
        cairo_set_tolerance(cr, 0.5);
        cairo_path_t* path = cairo_copy_path_flat(cr);
        std::vector<Ring> expected;
        for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
            const cairo_path_data_t& h = path->data[i];
            if (h.header.type == CAIRO_PATH_MOVE_TO) expected.emplace_back();
            if (h.header.type != CAIRO_PATH_CLOSE_PATH && !expected.empty())
                expected.back().push_back(
                    {path->data[i + 1].point.x * k, -path->data[i + 1].point.y * k});
        }
        cairo_path_destroy(path);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        std::erase_if(expected, [](const Ring& r) { return r.size() < 3; });
        // Coarser outlines, for drawings of more text than the plot holds:
        // fewer points, the same advance.
        std::size_t fine = 0, coarse = 0;
        const dxf::TextShape coarsest = dxf::TextOutlines(text, 25, true, "", dxf::kCoarsest);
        for (const Ring& r : expected) fine += r.size();
        for (const Ring& r : coarsest.rings) coarse += r.size();
        EXPECT_LE(coarse, fine) << text;
        if (text.find('0') != std::string::npos || text.find('g') != std::string::npos) {
            EXPECT_LT(coarse * 5, fine * 4) << text << ": curves in fewer chords";
        }
        EXPECT_EQ(coarsest.advance, dxf::TextOutlines(text, 25).advance);
        for (int twice = 0; twice < 2; ++twice) {  // outlined, then from the cache
            const dxf::TextShape shape = dxf::TextOutlines(text, 25);
            ASSERT_EQ(shape.rings.size(), expected.size()) << text;
            for (std::size_t r = 0; r < expected.size(); ++r) {
                ASSERT_EQ(shape.rings[r].size(), expected[r].size()) << text;
                for (std::size_t i = 0; i < expected[r].size(); ++i) {
                    EXPECT_EQ(shape.rings[r][i].x, expected[r][i].x) << text;
                    EXPECT_EQ(shape.rings[r][i].y, expected[r][i].y) << text;
                }
            }
        }
    }
}

}  // namespace
}  // namespace varnu::host::testing
