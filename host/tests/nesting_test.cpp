// Pages nested across a roll: side by side where they fit, turned where
// that saves roll, never over each other or the roll's edges.
#include "model/nesting.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    ASSERT_TRUE(NestPages(pages, kRoll, kGap, true, &nest, &error)) << error;
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
        ASSERT_TRUE(NestPages(pages, kRoll, kGap, mayTurn, &nest, &error)) << error;
        ExpectApart(nest, kRoll, kGap);
        const double alone = LengthOneAfterAnother(pages, kRoll, kGap);
        std::printf("%zu pages, %s: %.0f mm nested against %.0f mm one after another (%.0f %%)\n",
                    pages.size(), mayTurn ? "turned where it saves roll" : "never turned",
                    nest.length / kMm, alone / kMm, 100 * nest.length / alone);
        EXPECT_LT(nest.length, 0.8 * alone);
        for (const NestPlace& p : nest.places) EXPECT_TRUE(mayTurn || !p.turned);
    }
}

TEST(Nesting, APageWiderThanTheRollEitherWayIsRefused) {
    Nest nest;
    std::string error;
    EXPECT_FALSE(NestPages({Mm(210, 297), Mm(1000, 1200)}, kRoll, kGap, true, &nest, &error));
    EXPECT_NE(error.find("page 2 (1000 x 1200 mm) is wider than the roll"), std::string::npos)
        << error;
    // An A0 landscape page fits a 36-inch roll only turned.
    ASSERT_TRUE(NestPages({Mm(1189, 841)}, kRoll, kGap, true, &nest, &error)) << error;
    EXPECT_TRUE(nest.places[0].turned);
    EXPECT_FALSE(NestPages({Mm(1189, 841)}, kRoll, kGap, false, &nest, &error));
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
    ASSERT_TRUE(NestPages(std::vector<Area>(3, Mm(297, 420)), kRoll, kGap, true, &nest, &error));
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
