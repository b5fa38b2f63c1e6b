// Pages nested across a roll: side by side where they fit, turned where
// that saves roll, never over each other or the roll's edges.
#include "model/nesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/roll_sheet.h"

namespace varnu::host::testing {
namespace {

constexpr double kMm = 1 / 25.4;
constexpr double kRoll = 36;  // inches
constexpr double kGap = 5 * kMm;

Area Mm(double w, double h) {
    return {w * kMm, h * kMm};
}

// No page over another (with the gap between them) or past the roll.
void ExpectApart(const Nest& nest, double roll, double gap) {
    for (std::size_t i = 0; i < nest.places.size(); ++i) {
        const NestPlace& a = nest.places[i];
        EXPECT_GE(a.x, -1e-9);
        EXPECT_LE(a.x + a.size.width, roll + 1e-6) << "page " << i;
        EXPECT_LE(a.y + a.size.height, nest.length + 1e-6) << "page " << i;
        for (std::size_t j = i + 1; j < nest.places.size(); ++j) {
            const NestPlace& b = nest.places[j];
            const bool apart =
                a.x + a.size.width + gap <= b.x + 1e-6 || b.x + b.size.width + gap <= a.x + 1e-6 ||
                a.y + a.size.height + gap <= b.y + 1e-6 || b.y + b.size.height + gap <= a.y + 1e-6;
            EXPECT_TRUE(apart) << "pages " << i << " and " << j << " meet";
        }
    }
}

TEST(Nesting, ThreeA3PortraitPagesGoSideBySide) {
    const std::vector<Area> pages(3, Mm(297, 420));
    Nest nest;
    std::string error;
    ASSERT_TRUE(NestPages(pages, {kRoll, kGap, true}, &nest, &error)) << error;
    EXPECT_NEAR(nest.length, 420 * kMm, 1e-9);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(nest.places[i].turned);
        EXPECT_NEAR(nest.places[i].y, 0, 1e-9);
    }
    ExpectApart(nest, kRoll, kGap);
    // One after another they take three times as long.
    EXPECT_NEAR(LengthOneAfterAnother(pages, kRoll, kGap), 3 * 420 * kMm + 2 * kGap, 1e-9);
}

// A4 to A0 both ways round, 20 pages: the nest takes measurably less roll.
TEST(Nesting, AMixOfPagesTakesLessRollThanOneAfterAnother) {
    const Area formats[] = {Mm(210, 297), Mm(297, 420), Mm(420, 594), Mm(594, 841), Mm(841, 1189)};
    std::vector<Area> pages;
    for (int i = 0; i < 20; ++i) {
        const Area f = formats[(i * 7) % 5];
        pages.push_back(i % 3 == 0 ? Area{f.height, f.width} : f);
    }
    for (const bool mayTurn : {true, false}) {
        if (!mayTurn)  // never turned, the pages that fit as they come
            pages.erase(std::remove_if(pages.begin(), pages.end(),
                                       [](const Area& a) { return a.width > kRoll; }),
                        pages.end());
        Nest nest;
        std::string error;
        ASSERT_TRUE(NestPages(pages, {kRoll, kGap, mayTurn}, &nest, &error)) << error;
        ExpectApart(nest, kRoll, kGap);
        const double alone = LengthOneAfterAnother(pages, kRoll, kGap);
        std::printf("%zu pages, %s: %.0f mm nested against %.0f mm one after another (%.0f %%)\n",
                    pages.size(), mayTurn ? "turned where it saves roll" : "never turned",
                    nest.length / kMm, alone / kMm, 100 * nest.length / alone);
        EXPECT_LT(nest.length, 0.8 * alone);
        for (const NestPlace& p : nest.places) EXPECT_TRUE(mayTurn || !p.turned);
    }
}

// Mixes of pages on a 36-inch roll, each nested measurably shorter than
// one after another (the figures printed are the README's).
TEST(Nesting, EachMixOfPagesTakesLessRoll) {
    const Area a4 = Mm(210, 297), a3 = Mm(297, 420), a2 = Mm(420, 594), a1 = Mm(594, 841);
    const auto turned = [](Area a) { return Area{a.height, a.width}; };
    const struct {
        const char* name;
        std::vector<Area> pages;
        double most;  // of the length one after another
    } mixes[] = {
        {"20 A4 portrait", std::vector<Area>(20, a4), 0.30},
        {"20 A3 portrait", std::vector<Area>(20, a3), 0.40},
        {"10 A4 and 10 A3, both ways",
         {a4, a3, turned(a4), turned(a3), a4, a3, turned(a4), turned(a3), a4, a3,
          a4, a3, turned(a4), turned(a3), a4, a3, turned(a4), turned(a3), a4, a3},
         0.40},
        {"A1 landscape and A2 portrait", {turned(a1), a2, turned(a1), a2, a2, turned(a1)}, 0.90},
    };
    for (const auto& mix : mixes) {
        Nest nest;
        std::string error;
        ASSERT_TRUE(NestPages(mix.pages, {kRoll, kGap, true}, &nest, &error)) << error;
        ExpectApart(nest, kRoll, kGap);
        const double alone = LengthOneAfterAnother(mix.pages, kRoll, kGap);
        std::printf("%s: %.0f mm nested against %.0f mm one after another (%.0f %%)\n", mix.name,
                    nest.length / kMm, alone / kMm, 100 * nest.length / alone);
        EXPECT_LT(nest.length, mix.most * alone) << mix.name;
    }
}

TEST(Nesting, APageWiderThanTheRollEitherWayIsRefused) {
    Nest nest;
    std::string error;
    EXPECT_FALSE(NestPages({Mm(210, 297), Mm(1000, 1200)}, {kRoll, kGap, true}, &nest, &error));
    EXPECT_NE(error.find("page 2 (1000 x 1200 mm) is wider than the roll"), std::string::npos)
        << error;
    // An A0 landscape page fits a 36-inch roll only turned.
    ASSERT_TRUE(NestPages({Mm(1189, 841)}, {kRoll, kGap, true}, &nest, &error)) << error;
    EXPECT_TRUE(nest.places[0].turned);
    EXPECT_FALSE(NestPages({Mm(1189, 841)}, {kRoll, kGap, false}, &nest, &error));
}

// Pages of a size of their own, each a filled box over all of it, with a
// note of the document's.
class Boxes : public Document {
  public:
    Boxes(std::vector<Area> sizes, std::string note) : sizes_(std::move(sizes)), note_(note) {}
    int pages() const override { return static_cast<int>(sizes_.size()); }
    bool Plan(int, const Sheet&, int, std::string*) override { return true; }
    bool Draw(int, const Sheet& sheet, int, Plot* plot, std::string*) override {
        const auto w = static_cast<std::uint16_t>(std::lround(sheet.extentX * sheet.resolution));
        const auto h = static_cast<std::uint16_t>(std::lround(sheet.extentY * sheet.resolution));
        plot->Polygon(7, {{0, 0}, {w, 0}, {w, h}, {0, h}});
        return true;
    }
    std::optional<Area> PageSize(int index) const override { return sizes_.at(index); }
    std::vector<std::string> notes() const override { return {note_}; }

  private:
    std::vector<Area> sizes_;
    std::string note_;
};

// Pages of two documents on one sheet, each where the nest put it; with
// cut marks, a gap's room around the pages, and the marks in the gaps, on
// the pages' edges, within the nest, touching no page.
TEST(Nesting, PagesOfTwoDocumentsWithCutMarks) {
    Boxes a({Mm(297, 420), Mm(297, 420)}, "a"), b({Mm(210, 297)}, "b");
    const std::vector<Area> sizes = {Mm(297, 420), Mm(297, 420), Mm(210, 297)};
    Nest nest, bareNest;
    std::string error;
    ASSERT_TRUE(NestPages(sizes, {kRoll, kGap, false, true}, &nest, &error));
    ASSERT_TRUE(NestPages(sizes, {kRoll, kGap, false}, &bareNest, &error));
    ExpectApart(nest, kRoll, kGap);
    EXPECT_NEAR(nest.length, bareNest.length + 2 * kGap, 1e-9);
    EXPECT_NEAR(nest.places[2].x, bareNest.places[2].x + kGap, 1e-9);
    EXPECT_NEAR(NestArea(nest).width, (297 + 5 + 297 + 5 + 210 + 2 * 5) * kMm, 1e-9);
    const Nest placed = nest;
    NestedPages sheet({{&a, 0}, {&a, 1}, {&b, 0}}, nest, {kRoll, kGap, false, true});
    EXPECT_EQ(sheet.notes(), (std::vector<std::string>{"a", "b"}));
    const Area area = *sheet.PageSize(0);
    Plot plot;
    constexpr double kSteps = 400;  // an inch
    constexpr double kStep = 1 / kSteps;
    ASSERT_TRUE(sheet.Draw(0, {area.width, area.height, kSteps}, 200, &plot, &error)) << error;
    int boxes = 0, marks = 0;
    std::vector<Vertex> line;
    for (const Step& step : plot.steps()) {
        if (step.kind == Step::Kind::Polygon) {
            const NestPlace& p = placed.places[boxes++];
            EXPECT_EQ(step.vertices[0],
                      Vertex(std::lround(p.x * kSteps), std::lround(p.y * kSteps)));
        }
        if (step.kind == Step::Kind::Move) line = {{step.a, step.b}};
        if (step.kind != Step::Kind::Draw) continue;
        ++marks;
        const double x0 = line[0].first / kSteps, y0 = line[0].second / kSteps;
        const double x1 = step.a / kSteps, y1 = step.b / kSteps;
        EXPECT_TRUE(x0 == x1 || y0 == y1) << "along an edge";
        EXPECT_LE(std::hypot(x1 - x0, y1 - y0), kGap + kStep);
        EXPECT_LE(std::max(x0, x1), area.width + kStep);
        EXPECT_LE(std::max(y0, y1), area.height + kStep);
        bool onEdge = false;
        for (const NestPlace& p : placed.places) {
            const double mx = (x0 + x1) / 2, my = (y0 + y1) / 2;
            EXPECT_FALSE(mx > p.x - 1e-9 && mx < p.x + p.size.width + 1e-9 && my > p.y - 1e-9 &&
                         my < p.y + p.size.height + 1e-9)
                << "a mark on a page at " << mx / kMm << ", " << my / kMm << " mm";
            onEdge = onEdge || std::fabs(x0 - p.x) < kStep ||
                     std::fabs(x0 - p.x - p.size.width) < kStep || std::fabs(y0 - p.y) < kStep ||
                     std::fabs(y0 - p.y - p.size.height) < kStep;
        }
        EXPECT_TRUE(onEdge);
    }
    EXPECT_EQ(boxes, 3);
    EXPECT_EQ(marks, 3 * 8);  // two at each corner
    // On a sheet whose X runs along the roll the nest lies transposed:
    // each page at (along, across), in a cell turned a quarter.
    Plot along;
    ASSERT_TRUE(sheet.Draw(0, {area.height, area.width, kSteps}, 200, &along, &error)) << error;
    boxes = 0;
    for (const Step& step : along.steps()) {
        if (step.kind != Step::Kind::Polygon) continue;
        const NestPlace& p = placed.places[boxes++];
        EXPECT_EQ(step.vertices[0], Vertex(std::lround(p.y * kSteps), std::lround(p.x * kSteps)));
        EXPECT_EQ(step.vertices[2], Vertex(std::lround((p.y + p.size.height) * kSteps),
                                           std::lround((p.x + p.size.width) * kSteps)));
    }
    EXPECT_EQ(boxes, 3);
    // A sheet the nest fits neither way is refused.
    EXPECT_FALSE(sheet.Plan(0, {area.width / 2, area.height, kSteps}, 200, &error));
    EXPECT_NE(error.find("does not fit the sheet"), std::string::npos) << error;
    // Without cut marks, the pages alone.
    Plot bare;
    ASSERT_TRUE(NestedPages({{&a, 0}, {&a, 1}, {&b, 0}}, bareNest, {kRoll, kGap, false})
                    .Draw(0, {area.width, area.height, kSteps}, 200, &bare, &error));
    EXPECT_EQ(bare.steps().size(), 3u);
}

// The sheet cut from the roll for a page or a nest: the roll's width, the
// page's length the way round it lies and the margins at both ends.
TEST(RollSheet, APageTakesItsLengthAndTheMarginsOfTheRoll) {
    RollCut cut;
    std::string error;
    ASSERT_TRUE(CutFromRoll(Mm(297, 420), kRoll, 0, true, 15000, &cut, &error)) << error;
    EXPECT_TRUE(cut.turned);  // 297 mm of roll rather than 420
    EXPECT_EQ(cut.width, 91440);
    EXPECT_EQ(CutLengthMm(cut), 297);
    ASSERT_TRUE(CutFromRoll(Mm(297, 420), kRoll, 5, false, 15000, &cut, &error)) << error;
    EXPECT_FALSE(cut.turned);
    EXPECT_NEAR(cut.length, 43000, 1);
    EXPECT_EQ(CutLengthMm(cut), 430);
    // Three A3 pages nested side by side lie as the nest has them.
    Nest nest;
    ASSERT_TRUE(NestPages(std::vector<Area>(3, Mm(297, 420)), {kRoll, kGap, true}, &nest, &error));
    ASSERT_TRUE(CutFromRoll(NestArea(nest), kRoll, 0, false, 15000, &cut, &error)) << error;
    EXPECT_EQ(CutLengthMm(cut), 420);
    // Never longer than the roll's longest sheet.
    ASSERT_TRUE(CutFromRoll(Mm(900, 20000), kRoll, 0, true, 15000, &cut, &error)) << error;
    EXPECT_EQ(cut.length, 1500000);
    // The margins narrow the roll: 910 mm fits 914.4 mm, not with 5 mm a side.
    EXPECT_TRUE(CutFromRoll(Mm(910, 2000), kRoll, 0, false, 15000, &cut, &error));
    EXPECT_FALSE(CutFromRoll(Mm(910, 2000), kRoll, 5, false, 15000, &cut, &error));
    EXPECT_EQ(error, "the page (910 x 2000 mm) is wider than the roll (914 mm)");
}

}  // namespace
}  // namespace varnu::host::testing
