// The sheet's geometry: the one fit-on-sheet policy, where an image lands
// and what of it is cut, clipping at the sheet's edge, and the DXF reader's
// flattening, boundary chaining and pattern lines.
#include "readers/dxf/geometry.h"

#include <cmath>

#include "model/clip.h"
#include "model/fit.h"
#include "model/image_placement.h"
#include "support.h"

namespace varnu::host::testing {
namespace {

TEST(Fit, ScaleAndCentre) {
    EXPECT_EQ(FitScale({100, 50}, {48, 36}), 0.48);  // the narrower way limits
    EXPECT_EQ(FitScale({50, 100}, {48, 36}), 0.36);
    EXPECT_EQ(FitScale({100, 50}, {48, 36}, 0.02), 48 * 0.96 / 100);
    EXPECT_EQ(Centred(10, 30), 10);
    EXPECT_EQ(Centred(30, 30), 0);
}

TEST(Fit, PagesAtTheirOwnSizeFitWithTheSlackAndTurnWhenOnlyThen) {
    // A4 portrait at its own size: centred, upright.
    const auto a4 = FitPage({8.27, 11.69}, kSheet, {false, 1, true});
    ASSERT_TRUE(a4);
    EXPECT_FALSE(a4->turned);
    EXPECT_EQ(a4->size.width, 8.27);
    EXPECT_EQ(a4->placement.x0, std::lround((48 - 8.27) / 2 * 1016));
    EXPECT_EQ(a4->placement.x1, std::lround((48 - 8.27) / 2 * 1016 + 8.27 * 1016));
    EXPECT_EQ(a4->placement.y0, std::lround((36 - 11.69) / 2 * 1016));
    // A page rounded a little past the sheet still fits, inside it.
    const auto slack = FitPage({48.045, 36}, kSheet, {false, 1, false});
    ASSERT_TRUE(slack);
    EXPECT_EQ(slack->size.width, 48);
    EXPECT_EQ(slack->placement.x0, 0);
    EXPECT_EQ(slack->placement.x1, 48 * 1016);
    EXPECT_FALSE(FitPage({48.06, 36}, kSheet, {false, 1, false}));
    // Taller than the sheet: turned only when turning is allowed.
    EXPECT_FALSE(FitPage({36, 48}, kSheet, {false, 1, false}));
    const auto turned = FitPage({36, 48}, kSheet, {false, 1, true});
    ASSERT_TRUE(turned);
    EXPECT_TRUE(turned->turned);
    EXPECT_EQ(turned->size.width, 48);
    // Fitted: turned when that draws it larger; scaled to touch the sheet.
    const auto fitted = FitPage({10, 20}, kSheet, {true, 1, true});
    ASSERT_TRUE(fitted);
    EXPECT_TRUE(fitted->turned);
    EXPECT_EQ(fitted->scale, std::min(48.0 / 20, 36.0 / 10));
    EXPECT_FALSE(FitPage({10, 20}, kSheet, {true, 1, false})->turned);
}

Image Pattern(int width, int height) {
    Image image;
    image.width = width, image.height = height;
    for (int i = 0; i < width * height * 3; ++i)
        image.pixels.push_back(static_cast<std::uint8_t>(i * 7));
    return image;
}

TEST(ImagePlacement, FittedAtOrCutAtTheSheetsEdge) {
    Image image = Pattern(64, 32);
    Placement at;
    bool cut = true;
    std::string error;
    ASSERT_TRUE(PlaceImage(kSheet, std::nullopt, &image, &at, &cut, &error)) << error;
    EXPECT_FALSE(cut);
    // 762 steps a pixel: the full width, centred in height.
    EXPECT_EQ(at.x0, 0);
    EXPECT_EQ(at.x1, 48768);
    EXPECT_EQ(at.y0, 6096);
    EXPECT_EQ(at.y1, 30480);

    // 10 mm a pixel from (900, 700) mm: 32 of 64 columns and 22 of 32 rows
    // (the bottom ones) lie on the 1219.2 x 914.4 mm sheet.
    const Image whole = Pattern(64, 32);
    image = whole;
    ASSERT_TRUE(PlaceImage(kSheet, Corners{900, 700, 1540, 1020}, &image, &at, &cut, &error));
    EXPECT_TRUE(cut);
    ASSERT_EQ(image.width, 32);
    ASSERT_EQ(image.height, 22);
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 32 * 3; ++x)
            ASSERT_EQ(image.pixels[y * 32 * 3 + x], whole.pixels[(y + 10) * 64 * 3 + x]);
    EXPECT_NEAR(at.x1 - at.x0, 32 * 400, 1);
    EXPECT_NEAR(at.y1 - at.y0, 22 * 400, 1);

    image = whole;
    EXPECT_FALSE(PlaceImage(kSheet, Corners{1300, 10, 1400, 60}, &image, &at, &cut, &error));
    EXPECT_EQ(error, "the image lies outside the sheet (1219 x 914 mm)");
    EXPECT_FALSE(PlaceImage(kSheet, Corners{0, 0, 1e9, 1e9}, &image, &at, &cut, &error));
    EXPECT_EQ(error, "the image area is too large");
}

TEST(Clip, PolylinesAndAreasAreCutAtTheEdge) {
    // In, out through the right edge, back in: two runs ending on the edge.
    const std::vector<Ring> runs =
        ClipPolyline({{50, 50}, {150, 50}, {150, 80}, {50, 80}}, 100, 100);
    ASSERT_EQ(runs.size(), 2u);
    ASSERT_EQ(runs[0].size(), 2u);
    EXPECT_EQ(runs[0][1].x, 100);
    EXPECT_EQ(runs[0][1].y, 50);
    EXPECT_EQ(runs[1][0].x, 100);
    EXPECT_EQ(runs[1][0].y, 80);
    EXPECT_EQ(runs[1][1].x, 50);
    EXPECT_TRUE(ClipPolyline({{-10, -10}, {-5, 200}}, 100, 100).empty());
    EXPECT_EQ(ClipPolyline({{5, 5}}, 100, 100).size(), 1u);
    EXPECT_TRUE(ClipPolyline({{105, 5}}, 100, 100).empty());
    // A square half beyond the left edge keeps its right half.
    const Ring half = ClipArea({{-50, 0}, {50, 0}, {50, 100}, {-50, 100}}, 100, 100);
    double area = 0;
    for (std::size_t i = 0; i < half.size(); ++i) {
        const Point2 a = half[i], b = half[(i + 1) % half.size()];
        area += a.x * b.y - b.x * a.y;
    }
    EXPECT_EQ(std::fabs(area) / 2, 5000);
    for (const Point2& p : half) EXPECT_GE(p.x, 0);
    EXPECT_TRUE(ClipArea({{200, 0}, {300, 0}, {300, 50}}, 100, 100).empty());
}

TEST(DxfGeometry, ArcsBulgesAndSplines) {
    const Ring arc = dxf::ArcPoints({10, 20}, 5, 5, 0, 0, M_PI / 2, 0.01);
    EXPECT_NEAR(arc.front().x, 15, 1e-12);
    EXPECT_NEAR(arc.back().y, 25, 1e-12);
    for (const Point2& p : arc) EXPECT_NEAR(std::hypot(p.x - 10, p.y - 20), 5, 1e-9);
    // Chords within the tolerance: the middle of each lies that near the arc.
    for (std::size_t i = 1; i < arc.size(); ++i) {
        const double mx = (arc[i].x + arc[i - 1].x) / 2, my = (arc[i].y + arc[i - 1].y) / 2;
        EXPECT_LT(5 - std::hypot(mx - 10, my - 20), 0.01);
    }
    // Bulge 1 from (0, 0) to (2, 0): the half circle below, counter-clockwise.
    const Ring half = dxf::BulgedPolyline({{0, 0, 1}, {2, 0, 0}}, false, 0.001);
    double lowest = 0;
    for (const Point2& p : half) {
        EXPECT_NEAR(std::hypot(p.x - 1, p.y), 1, 1e-9);
        lowest = std::min(lowest, p.y);
    }
    EXPECT_NEAR(lowest, -1, 1e-3);
    EXPECT_EQ(half.back().x, 2);
    // A degree-1 spline is its control polygon.
    const Ring line = dxf::SplinePoints({{0, 0}, {10, 0}}, {0, 0, 1, 1}, 1, 4);
    ASSERT_EQ(line.size(), 5u);
    EXPECT_NEAR(line[2].x, 5, 1e-9);
    // Knots that do not fit: the control polygon.
    EXPECT_EQ(dxf::SplinePoints({{0, 0}, {1, 1}, {2, 0}}, {0, 1}, 2, 8).size(), 3u);
}

TEST(DxfGeometry, BoundaryEdgesChainEndToEnd) {
    // The third edge listed is the second of the loop, turned round.
    const Ring ring = dxf::Chained({{{0, 0}, {1, 0}}, {{1, 1}, {0, 1}}, {{1, 1}, {1, 0}}});
    const Ring expected = {{0, 0}, {1, 0}, {1, 0}, {1, 1}, {1, 1}, {0, 1}};
    ASSERT_EQ(ring.size(), expected.size());
    for (std::size_t i = 0; i < ring.size(); ++i) {
        EXPECT_EQ(ring[i].x, expected[i].x) << i;
        EXPECT_EQ(ring[i].y, expected[i].y) << i;
    }
}

TEST(DxfGeometry, PatternLinesStayInsideAndWithinTheirBudget) {
    // Lines at y = 1, 3, 5, 7, 9 across a 10 x 10 square, none in its hole.
    const std::vector<Ring> square = {{{0, 0}, {10, 0}, {10, 10}, {0, 10}},
                                      {{4, 4}, {6, 4}, {6, 6}, {4, 6}}};
    dxf::PatternBudget budget;
    std::vector<Ring> lines;
    ASSERT_TRUE(dxf::PatternLines(square, {{0, {0, 1}, {0, 2}, {}}}, &lines, &budget));
    ASSERT_EQ(lines.size(), 6u);  // y = 5 is cut in two by the hole
    for (const Ring& r : lines) {
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[0].y, r[1].y);
        EXPECT_EQ(std::fmod(r[0].y, 2), 1);
        EXPECT_FALSE(r[0].y == 5 && r[0].x < 6 && r[1].x > 4);
    }
    // Dashes 1 on, 1 off along the line y = 1: five dashes.
    lines.clear();
    ASSERT_TRUE(dxf::PatternLines({square[0]}, {{0, {0, 1}, {0, 100}, {1, -1}}}, &lines, &budget));
    EXPECT_EQ(lines.size(), 5u);
    // A millionth apart is more than the budget allows.
    lines.clear();
    EXPECT_FALSE(dxf::PatternLines({square[0]}, {{0, {0, 0}, {0, 1e-6}, {}}}, &lines, &budget));
}

}  // namespace
}  // namespace varnu::host::testing
