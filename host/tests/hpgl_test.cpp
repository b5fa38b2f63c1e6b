// HP-GL/2, HP-GL and HP-RTL plot files read in process: where each command
// draws, in host steps of the driver's default sheet (48 x 36 inches at
// 1016 steps an inch, one step a plotter unit), and how hostile files end.
#include "readers/hpgl.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "hpgl_samples.h"
#include "model/clip.h"
#include "support.h"
#include "varnu/pen_palette.h"

namespace varnu::host::testing {
namespace {

const std::string kPjl = "\x1b%-12345X@PJL\r\n@PJL ENTER LANGUAGE=HPGL2\r\n";
// A page the size of the sheet.
const std::string kPage = "IN;PS48768,36576;";

std::string Job(const std::string& body) {
    return kPjl + kPage + body + ";PG;\x1b%-12345X";
}

struct Segment {
    Point2 a, b;
};

std::vector<Segment> Segments(const Plot& plot) {
    std::vector<Segment> out;
    Point2 at{0, 0};
    for (const Step& s : plot.steps()) {
        const Point2 p{double(s.a), double(s.b)};
        if (s.kind == Step::Kind::Move) at = p;
        if (s.kind == Step::Kind::Draw) out.push_back({at, p}), at = p;
    }
    return out;
}

std::vector<const Step*> StepsOf(const Plot& plot, Step::Kind kind) {
    std::vector<const Step*> out;
    for (const Step& s : plot.steps())
        if (s.kind == kind) out.push_back(&s);
    return out;
}

HpglOptions Quiet() {
    HpglOptions o;
    o.progress = false;
    return o;
}

class Hpgl : public HostTest {
  protected:
    // `bytes` as a plot file, page `page` on `sheet`; false with `error_`.
    bool Load(const std::string& bytes, Plot* plot, const HpglOptions& o = Quiet(), int page = 0,
              const Sheet& sheet = kSheet) {
        Write("drawing.plt", bytes);
        error_.clear();
        return document_.Open(Path("drawing.plt"), &error_) &&
               document_.PagePlot(page, sheet, 600, o, plot, &error_);
    }
    Plot Read(const std::string& bytes, const HpglOptions& o = Quiet()) {
        Plot plot;
        EXPECT_TRUE(Load(bytes, &plot, o)) << error_;
        return plot;
    }
    // The refusal of `bytes`, read whole.
    std::string Refusal(const std::string& bytes) {
        Plot plot;
        if (Load(bytes, &plot)) return "";
        return error_;
    }

    HpglDocument document_;
    std::string error_;
};

void ExpectSegment(const Segment& s, Point2 a, Point2 b, double tolerance = 1) {
    EXPECT_NEAR(s.a.x, a.x, tolerance);
    EXPECT_NEAR(s.a.y, a.y, tolerance);
    EXPECT_NEAR(s.b.x, b.x, tolerance);
    EXPECT_NEAR(s.b.y, b.y, tolerance);
}

TEST_F(Hpgl, PenMotionLandsOnThePlotterUnitsOfItsPage) {
    const Plot plot =
        Read(Job("SP1;PU1000,2000;PD3000,2000,3000,5000;PR;PU100,100;PD-1100,0;PA;"
                 "PD1900,2100;PU;"));
    const auto s = Segments(plot);
    ASSERT_EQ(s.size(), 4u);
    ExpectSegment(s[0], {1000, 2000}, {3000, 2000});
    ExpectSegment(s[1], {3000, 2000}, {3000, 5000});
    ExpectSegment(s[2], {3100, 5100}, {2000, 5100});
    ExpectSegment(s[3], {2000, 5100}, {1900, 2100});
    // HP-GL as older programs write it: no PJL, no page size (the origin at
    // the sheet's corner), lower case, blanks and no semicolons.
    const auto old = Segments(Read(
        "in;bp1,\"name\",2,1;co\"a;comment\";sp1 pu 1000 2000 pd 3000 2000\r\npa4000,4000 pu"));
    ASSERT_EQ(old.size(), 2u);
    EXPECT_EQ(document_.Skipped(), "");  // BP's name and the comment read as strings
    ExpectSegment(old[1], {3000, 2000}, {4000, 4000});
}

TEST_F(Hpgl, ScalingPointsTurnsAndWindowsPlaceUserUnits) {
    // Anisotropic: user (0,0)-(100,100) on P1 (1000,1000) to P2 (21000,11000).
    auto s = Segments(Read(Job("IP1000,1000,21000,11000;SC0,100,0,100;PU0,0;PD100,100;")));
    ASSERT_EQ(s.size(), 1u);
    ExpectSegment(s[0], {1000, 1000}, {21000, 11000});
    // Isotropic, the spare width shared 0% left: 100 units = 10000 steps.
    s = Segments(Read(Job("IP1000,1000,21000,11000;SC0,100,0,100,1,0,50;PU0,0;PD100,100;")));
    ExpectSegment(s[0], {1000, 1000}, {11000, 11000});
    // Point factor: 20 steps a unit from (-10,-10) at P1.
    s = Segments(Read(Job("IP1000,1000;SC-10,20,-10,20,2;PU-10,-10;PD40,0;")));
    ExpectSegment(s[0], {1000, 1000}, {2000, 1200});
    // IR: percent of the page.
    s = Segments(Read(Job("IR10,10,20,20;SC0,1,0,1;PU0,0;PD1,1;")));
    ExpectSegment(s[0], {4876.8, 3657.6}, {9753.6, 7315.2});
    // RO 90: the origin at the lower right, x up the sheet; P1 and P2 keep
    // their values until IP puts them at the turned page's corners.
    s = Segments(Read(Job("RO90;IP;PU0,0;PD1000,0;PU0,0;PD0,500;")));
    ASSERT_EQ(s.size(), 2u);
    ExpectSegment(s[0], {48768, 0}, {48768, 1000});
    ExpectSegment(s[1], {48768, 0}, {48268, 0});
    s = Segments(Read(Job("RO90;SC0,1,0,1;PU0,0;PD1,1;RO;RO90;IP;PU0,0;PD1,1;")));
    ASSERT_EQ(s.size(), 2u);
    ExpectSegment(s[0], {48768, 0}, {21336, 36576});  // towards P2 off the page, cut
    ExpectSegment(s[1], {48768, 0}, {0, 36576});
    // IW cuts what is drawn; it stays on the sheet when scaling changes.
    s = Segments(Read(Job("IW1000,1000,5000,5000;SC0,1,0,1;SC;PU0,3000;PD9000,3000;")));
    ASSERT_EQ(s.size(), 1u);
    ExpectSegment(s[0], {1000, 3000}, {5000, 3000});
}

TEST_F(Hpgl, PolylineEncodedInBothBases) {
    // The driver's own example: move to (100, 200), draw to (150, 200),
    // lift, then draw a dot-free way up to (150, 300).
    auto s = Segments(Read(Job("SP1;PE7<GeOkCb_<___Ge;")));
    ASSERT_EQ(s.size(), 2u);
    ExpectSegment(s[0], {100, 200}, {150, 200});
    ExpectSegment(s[1], {150, 200}, {150, 300});
    // The same in base 64 (8-bit digits: 191..254 end a number), absolute,
    // with a pen selected and coordinates in halves.
    // Move to (4, 8); one fractional bit; draw 100 halves right (200 = 8 + 3 * 64).
    s = Segments(Read(Job("SP1;PE:\xc1=<\xc7\xcf>\xc1G\xc2\xbf;")));
    ASSERT_EQ(s.size(), 1u);
    ExpectSegment(s[0], {4, 8}, {54, 8});
}

TEST_F(Hpgl, ArcsCirclesAndWedgesFollowTheirChords) {
    // A circle of 1000 around (10000, 10000) in 5 degree chords; the pen
    // goes back to its centre.
    Plot plot = Read(Job("SP1;PU10000,10000;CI1000;PD11000,10000;"));
    auto s = Segments(plot);
    ASSERT_EQ(s.size(), 73u);
    ExpectSegment(s.back(), {10000, 10000}, {11000, 10000});
    // A quarter arc counter-clockwise around (5000, 5000) from (6000, 5000).
    s = Segments(Read(Job("SP1;PU6000,5000;PD;AA5000,5000,90,10;")));
    ASSERT_EQ(s.size(), 9u);
    ExpectSegment(s.back(), s.back().a, {5000, 6000});
    // Through three points: from (0+2000, 2000) over (3000, 3000) to (4000, 2000).
    s = Segments(Read(Job("SP1;PU2000,2000;PD;AT3000,3000,4000,2000;")));
    ASSERT_FALSE(s.empty());
    double top = 0;
    for (const Segment& g : s) top = std::max(top, g.b.y);
    EXPECT_NEAR(top, 3000, 5);
    ExpectSegment(s.back(), s.back().a, {4000, 2000});
    // A filled wedge is one polygon: the centre and the arc.
    plot = Read(Job("SP1;PU5000,5000;WG1000,0,90;"));
    const auto areas = StepsOf(plot, Step::Kind::Polygon);
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_EQ(areas[0]->vertices.front(), (Vertex{5000, 5000}));
}

TEST_F(Hpgl, PolygonBufferFillsSubpolygonsAndEdgesWhatWasDrawn) {
    // Two subpolygons filled even-odd: one outline, the second joined by a
    // bridge; a pen-up move first only moves the start.
    Plot plot =
        Read(Job("SP1;PU100,100;PM0;PU1000,1000;PD5000,1000,5000,5000,1000,5000;PM1;"
                 "PU2000,2000;PD3000,2000,3000,3000,2000,3000;PM2;FP;"));
    auto areas = StepsOf(plot, Step::Kind::Polygon);
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_EQ(areas[0]->vertices.front(), (Vertex{1000, 1000}));
    EXPECT_NE(FillPenAt(plot, 1200 / 40.0, 1200 / 40.0), -1);  // in the outer square
    EXPECT_EQ(FillPenAt(plot, 2500 / 40.0, 2500 / 40.0), -1);  // in the hole
    // By the winding rule, rings turning the same way are each filled.
    plot =
        Read(Job("SP1;PU1000,1000;PM0;PD5000,1000,5000,5000,1000,5000;PM1;"
                 "PU2000,2000;PD3000,2000,3000,3000,2000,3000;PM2;FP1;"));
    EXPECT_EQ(StepsOf(plot, Step::Kind::Polygon).size(), 2u);
    EXPECT_NE(FillPenAt(plot, 2500 / 40.0, 2500 / 40.0), -1);
    // EP strokes the edges drawn with the pen down; an open outline stays open.
    const auto s =
        Segments(Read(Job("SP1;PU1000,1000;PM0;PD2000,1000;PU2000,2000;PD1000,2000;PM2;EP;")));
    ASSERT_EQ(s.size(), 2u);
    ExpectSegment(s[1], {2000, 2000}, {1000, 2000});
}

TEST_F(Hpgl, FillTypesHatchShadeAndFillSolid) {
    // FT3: lines 500 apart at 0 degrees across a 4000 high rectangle.
    Plot plot = Read(Job("SP1;FT3,500,0;PU1000,1000;RA9000,5000;"));
    EXPECT_EQ(StepsOf(plot, Step::Kind::Polygon).size(), 0u);
    EXPECT_EQ(Segments(plot).size(), 8u);
    // FT4: crossed.
    plot = Read(Job("SP1;FT4,500,0;PU1000,1000;RA9000,5000;"));
    EXPECT_NEAR(Segments(plot).size(), 8u + 16u, 1);
    // FT10: the pen's colour thinned to 30%: a pen of the driver of that grey.
    plot = Read(Job("SP1;FT10,30;PU1000,1000;RA9000,5000;"));
    const auto areas = StepsOf(plot, Step::Kind::Polygon);
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_NEAR(varnu::PenGrey(areas[0]->a), 255 * 0.7, 6);
    // Solid, pen 1 black: the driver's black pen.
    plot = Read(Job("SP1;FT1;PU1000,1000;RR8000,4000;"));
    EXPECT_EQ(StepsOf(plot, Step::Kind::Polygon)[0]->a, 7);
}

TEST_F(Hpgl, LineTypesAreTheDriversWhereTheyMatchAndDashesElse) {
    // The driver's type 3 on this sheet: 2% of its diagonal, adaptive.
    Plot plot = Read(Job("SP1;LT-3,2;PU1000,1000;PD20000,1000;"));
    auto types = StepsOf(plot, Step::Kind::LineType);
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types.back()->a, 3);
    EXPECT_EQ(Segments(plot).size(), 1u);
    // A fixed type 2 of 1 cm: 10 mm patterns, half dash, half gap.
    plot = Read(Job("SP1;LT2,10,1;PU0,1000;PD4000,1000;"));
    auto s = Segments(plot);
    ASSERT_EQ(s.size(), 10u);
    ExpectSegment(s[0], {0, 1000}, {200, 1000});
    ExpectSegment(s[1], {400, 1000}, {600, 1000});
    // LT0: a dot at each point.
    s = Segments(Read(Job("SP1;LT0;PU0,0;PD1000,0,1000,1000;")));
    ASSERT_EQ(s.size(), 3u);
    ExpectSegment(s[2], {1000, 1000}, {1000, 1000});
    // A pattern of its own (UL): 1 cm, 80% dash.
    s = Segments(Read(Job("SP1;UL1,80,20;LT1,10,1;PU0,0;PD800,0;")));
    ASSERT_EQ(s.size(), 2u);
    ExpectSegment(s[0], {0, 0}, {320, 0});
    // LT99 goes back to the type before LT.
    s = Segments(Read(Job("SP1;LT2,10,1;LT;LT99;PU0,0;PD800,0;")));
    EXPECT_EQ(s.size(), 2u);
}

TEST_F(Hpgl, PensAreTheDriversPensOfTheirColourOrGrey) {
    auto fillPen = [&](const std::string& pens) {
        const Plot plot = Read(Job(pens + "PU1000,1000;RA2000,2000;"));
        const auto areas = StepsOf(plot, Step::Kind::Polygon);
        return areas.empty() ? -1 : static_cast<int>(areas[0]->a);
    };
    EXPECT_EQ(fillPen("SP2;"), 1);  // red by default: the driver's red pen
    EXPECT_EQ(varnu::PenGrey(fillPen("PC3,128,128,128;SP3;")), 127);  // the nearest grey
    EXPECT_EQ(fillPen("NP4;PC2,0,0,255;SP5;"), 5);  // past the palette: 5 is 2, blue
    EXPECT_EQ(fillPen("CR0,100,0,100,0,100;PC3,100,0,0;SP3;"), 1);  // CR's range
    // White draws nothing on the printer; pen 0 is white.
    Plot plot;
    EXPECT_FALSE(Load(Job("SP0;PU0,0;PD1000,1000;"), &plot));
    EXPECT_NE(error_.find("nothing"), std::string::npos) << error_;
    EXPECT_FALSE(document_.PagePlot(0, kSheet, 600, Quiet(), &plot, &error_));  // again
    EXPECT_EQ(document_.Skipped(), "1 white lines");
    // Widths: millimetres, or percent of the P1-P2 diagonal (60 inches here).
    plot = Read(Job("SP1;PW0.7;PU0,0;PD10,10;WU1;PW1;PD20,20;"));
    const auto widths = StepsOf(plot, Step::Kind::Width);
    ASSERT_EQ(widths.size(), 2u);
    EXPECT_NEAR(widths[0]->inches, 0.7 / 25.4, 1e-9);
    EXPECT_NEAR(widths[1]->inches, 0.6, 1e-6);
}

TEST_F(Hpgl, LabelsFollowTheirSizeDirectionAndOrigin) {
    // The default font: a cap height of 0.71 of 11.5 points, 9 characters
    // an inch; the pen ends after the label.
    Plot plot = Read(Job("SP1;PU10160,10160;LBHHHH\x03PD12000,12000;"));
    InkBox box = BoxOf(plot);
    EXPECT_NEAR(box.bottom, 1000, 0.5);
    EXPECT_NEAR(box.left, 1000, 3);
    auto s = Segments(plot);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_NEAR(s[0].a.x, 10160 + 4 * 1016 / 9.0, 1);
    EXPECT_NEAR(s[0].a.y, 10160, 1);
    const double cap = 0.71 * 11.5 / 72 * 100;  // pixels of the box
    plot = Read(Job("SP1;PU10160,10160;LBHHHH\x03"));
    box = BoxOf(plot);
    EXPECT_NEAR(box.top - box.bottom, cap, 0.5);
    // SI 1 x 2 cm, running up (DI 0,1), centred on the pen (LO 5), with its
    // own terminator (DT).
    plot = Read(Job("SP1;SI1,2;DI0,1;LO5;DT#;PU20000,10000;LBHHH#"));
    box = BoxOf(plot);
    EXPECT_NEAR((box.left + box.right) / 2, 20000 / 10.16, 2);
    EXPECT_NEAR((box.bottom + box.top) / 2, 10000 / 10.16, 2);
    EXPECT_NEAR(box.right - box.left, 2 * 400 / 10.16, 2);  // the cap height across
    EXPECT_GT(box.top - box.bottom, 2 * 1.25 * 400 / 10.16);
    // CP: two spaces on, a line down.
    s = Segments(Read(Job("SP1;SI0.4,0.5;PU10000,10000;CP2,-1;PD;PR0,0;")));
    ASSERT_EQ(s.size(), 1u);
    EXPECT_NEAR(s[0].a.x, 10000 + 2 * 1.25 * 160, 1);
    EXPECT_NEAR(s[0].a.y, 10000 + 1.9 * 200, 1);
}

TEST_F(Hpgl, PagesEndAtPageAdvanceNewSizeAndReset) {
    const std::string file =
        kPjl +
        "IN;PS48768,36576;SP1;PU0,0;PD100,100;PG;PG;PD200,200;PS20000,10000;PD300,300;"
        "\x1b%-12345X" +
        kPjl + "IN;SP1;PD400,400;";
    Plot plot;
    ASSERT_TRUE(Load(file, &plot)) << error_;
    EXPECT_EQ(document_.pages(), 4);
    // The third page is sized 20000 x 10000: not the sheet, it is centred.
    ASSERT_TRUE(Load(file, &plot, Quiet(), 2)) << error_;
    const auto s = Segments(plot);
    ASSERT_FALSE(s.empty());
    EXPECT_NEAR(s.back().b.x, (48768 - 20000) / 2.0 + 300, 1);
}

TEST_F(Hpgl, FittedScaledAndTurnedByTheOneFitPolicy) {
    HpglOptions fit = Quiet();
    fit.fit = true;
    // Without PS, what is drawn is fitted: a 1000 x 500 line box to 48 x 24 in.
    Plot plot = Read("IN;SP1;PU1000,1000;PD2000,1500;", fit);
    InkBox box = BoxOf(plot);
    EXPECT_NEAR(box.Width(), 4800, 100);
    EXPECT_NEAR(box.Height(), 2400, 60);
    // A PS page is fitted whole: a quarter-size page, scaled up 4 times.
    plot = Read(kPjl + "IN;PS12192,9144;SP1;PU0,0;PD12192,9144;", fit);
    box = BoxOf(plot);
    EXPECT_NEAR(box.Width(), 4800, 1);
    // At half scale, and refused where it does not fit.
    HpglOptions half = Quiet();
    half.scale = 0.5;
    plot = Read(kPjl + "IN;PS12192,9144;SP1;PU0,0;PD12192,9144;", half);
    EXPECT_NEAR(BoxOf(plot).Width(), 600, 1);
    EXPECT_NE(Refusal(kPjl + "IN;PS60000,20000;SP1;PD1,1;").find("does not fit the sheet"),
              std::string::npos);
}

TEST_F(Hpgl, HostileFilesEndWithAClearError) {
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        out.reserve(s.size() * static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    const std::string start = kPjl + kPage + "SP1;";
    const struct {
        const char* name;
        std::string file;
        const char* says;
    } cases[] = {
        {"a page of 10^9 units", kPjl + "IN;PS1000000000,1000000000;SP1;PD1,1;",
         "larger than any paper"},
        {"a PE number that never ends", start + "PE" + std::string(1000, '?'),
         "more than 8 digits"},
        {"a PE run of more points than a page holds", start + "PE7" + repeat("_", 2 * 20000002),
         "more than 20000000 points"},
        {"a circle repeated past a page's points", start + "PU5000,5000;" + repeat("CI1;", 280000),
         "more than 20000000 points"},
        {"a polygon buffer never closed", start + "PM0;PD100,0,100,100;", "never closed"},
        {"a polygon buffer past a million points", start + "PM0;" + repeat("CI1,0.5;", 1500),
         "more than 1000000 points"},
        {"a label of a million characters", start + "LB" + std::string(1000000, 'A'),
         "longer than 16384 characters"},
        {"raster data past the file's end", start + "\x1b%1A\x1b*r100S\x1b*b500000Wabc",
         "ends after 3"},
        {"a raster row wider than any", start + "\x1b%1A\x1b*r1000000S", "at most 262144"},
        {"MMR rows the data cannot hold are not read",
         start + "\x1b%1A\x1b*r64S\x1b*r1000000T\x1b*b8M\x1b*b10W" + std::string(10, '\0'),
         "nothing to draw"},
        {"empty rows repeated past an image's rows",
         start + "\x1b%1A\x1b*r64S\x1b*b3M\x1b*r1A\x1b*b1W\x01" + repeat("\x1b*b0W", 1048577),
         "more than 1048576 rows"},
        {"pages past a thousand", start + repeat("PD1,1;PG;", 1001), "more than 1000 pages"},
        {"bytes that are no command", start + std::string(70000, '\x01'), "not a plot file"},
        {"no plot file at all", "\x89PNG\r\n\x1a\n", "not an HP-GL/2, HP-GL or HP-RTL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string why = Refusal(c.file);
        EXPECT_NE(why.find(c.says), std::string::npos) << why;
    }
}

// Each sample cut short, with bytes changed, dropped or repeated: read, or
// refused saying why; every line of what it draws can be served.
TEST_F(Hpgl, DamagedFilesAreReadOrRefusedWithAReason) {
    std::mt19937 random(35);
    int read = 0, refused = 0;
    for (const PlotSample& sample : PlotSamples())
        for (int k = 0; k < 16; ++k) {
            std::string bytes = sample.bytes;
            auto at = [&] { return random() % bytes.size(); };
            switch (k % 4) {
                case 0:
                    bytes.resize(at());
                    break;
                case 1:
                    for (int n = 0; n < 8; ++n) bytes[at()] = static_cast<char>(random());
                    break;
                case 2:
                    bytes.erase(at(), 1 + random() % 64);
                    break;
                default:
                    bytes.insert(at(), bytes.substr(at(), 1 + random() % 64));
            }
            Plot plot;
            if (!Load(bytes, &plot)) {
                EXPECT_FALSE(error_.empty()) << sample.name << " damaged " << k;
                ++refused;
                continue;
            }
            ++read;
            for (const Picture& p : plot.pictures())
                for (std::int32_t line = 0; line < p.height; ++line) {
                    Band band;
                    std::string why;
                    ASSERT_TRUE(p.hold(false, line, &band, &why)) << why;
                }
        }
    EXPECT_GT(read, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace varnu::host::testing
