// The printer's tables and the threshold matrix, row by row.
#include "config/device_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "test_host.h"
#include "varnu/default_tone_curve.h"
#include "varnu/threshold_matrix.h"

namespace varnu::testing {
namespace {

using TablesTest = DriverTest;

TEST_F(TablesTest, ModelRow) {
    const ModelRecord* m = Model(0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(std::string(m->name, 32),
              std::string("4820/4810 Wide Format") + std::string(11, '\0'));
    EXPECT_EQ(m->finisher, 1);
    EXPECT_EQ(m->media, 1);
    EXPECT_EQ(m->label, 1);
    EXPECT_EQ(m->redPrinting, 0);
    EXPECT_EQ(m->manualOutput, 1);
    EXPECT_EQ(m->dpi600, 1);
    EXPECT_EQ(m->vcglAllowed, 0);
    EXPECT_EQ(Model(1), nullptr);
    EXPECT_EQ(Model(-1), nullptr);
}

TEST_F(TablesTest, PaperRowsAndTheirDefaultLengths) {
    struct Row {
        int row;
        const char* name;
        double length, width;
        int custom, defaultMm;
    };
    const Row rows[] = {
        {1, "E-Arch(36Zoll)   ", 48.0, 36.0, 0, 396},
        {3, "C-Arch(18Zoll)   ", 24.0, 17.973, 0, 396},
        {15, "A4               ", 11.68, 8.266, 0, 396},
        {16, "Sp. A0 880 x 1230", 48.426, 34.613, 0, 396},
        {22, "Sp. A3 310 x 435 ", 17.12, 12.16, 0, 396},
        {23, "Benutzerdef. Format von E-Arch(36Zoll) Breite ", 118.11, 36.0, 1, 1219},
        {27, "Benutzerdef. Format von A-Arch(9Zoll) Breite  ", 118.11, 8.96, 1, 304},
        {32, "Benutzerdef. Format von A-ANSI(8.5Zoll) Breite", 118.11, 8.5, 1, 279},
        {33, "Benutzerdef. Format mit A0-Breite ", 118.11, 33.12, 1, 1189},
        {36, "Benutzerdef. Format mit A3-Breite ", 118.11, 11.68, 1, 420},
        {37, "Benutzerdef. Format von Sp. A0 880mm Breite", 118.11, 34.613, 1, 1230},
        {41, "Benutzerdef. Format von Sp. A2 435mm Breite", 118.11, 17.12, 1, 620},
    };
    for (const auto& r : rows) {
        const PaperFormatRecord* p = PaperFormat(0, r.row);
        ASSERT_NE(p, nullptr) << r.row;
        EXPECT_STREQ(p->name, r.name) << r.row;
        EXPECT_EQ(p->length, r.length) << r.row;
        EXPECT_EQ(p->width, r.width) << r.row;
        EXPECT_EQ(p->custom, r.custom) << r.row;
        EXPECT_EQ(p->maxLengthMm, r.custom ? 15000 : 0) << r.row;
        EXPECT_EQ(defaultCustomLength(0, r.row), r.defaultMm) << r.row;
    }
    // Every custom row has a length from the prefix list, every fixed row 396.
    const int expectedCustom[] = {1219, 914, 609, 457, 304,  1117, 863, 558, 431, 279,
                                  1189, 841, 594, 420, 1230, 880,  871, 625, 620};
    for (int row = 23; row <= 41; ++row)
        EXPECT_EQ(defaultCustomLength(0, row), expectedCustom[row - 23]);
    for (int row = 1; row <= 22; ++row) EXPECT_EQ(defaultCustomLength(0, row), 396);

    EXPECT_EQ(PaperRowCount(0), 41);
    EXPECT_EQ(PaperFormat(0, 0), nullptr);
    EXPECT_EQ(PaperFormat(0, 42), nullptr);
    EXPECT_EQ(PaperFormat(1, 1), nullptr);
    EXPECT_EQ(defaultCustomLength(0, 999), 396);
}

TEST_F(TablesTest, PaperNameListHoldsTheRowNamesInOrder) {
    RebuildPaperNameList(0);
    EXPECT_EQ(Configuration.PaperNameList.count, 41);
    EXPECT_STREQ(Configuration.PaperNameList.names[0], "E-Arch(36Zoll)   ");
    EXPECT_STREQ(Configuration.PaperNameList.names[22],
                 "Benutzerdef. Format von E-Arch(36Zoll) Breite ");
    EXPECT_STREQ(Configuration.PaperNameList.names[40],
                 "Benutzerdef. Format von Sp. A2 435mm Breite");
}

TEST_F(TablesTest, MediaRows) {
    const char* names[] = {"Postpapier                      ", "Film                            ",
                           "Plotter-Einstellungen verwenden ", "Vellum-Papier                   "};
    const char* commands[] = {"MT0;", "MT1;", "MT2;", "MT4;"};
    ASSERT_EQ(MediaRowCount(0), 4);
    for (int i = 0; i < 4; ++i) {
        const MediaRecord* m = Media(0, i);
        ASSERT_NE(m, nullptr);
        EXPECT_STREQ(m->name, names[i]);
        EXPECT_EQ(std::strlen(m->name), 32u);
        EXPECT_STREQ(m->hpglCommand, commands[i]);
        EXPECT_EQ(m->vcglName[0], '\0');
        EXPECT_EQ(m->vcglCommand[0], 0);
    }
    EXPECT_EQ(Media(0, 4), nullptr);
    EXPECT_EQ(Media(0, 9), nullptr);
    EXPECT_EQ(Media(0, -1), nullptr);
}

TEST_F(TablesTest, FinishingRows) {
    ASSERT_EQ(FinishProgramRowCount(0), 21);
    EXPECT_STREQ(FinishProgram(0, 0)->name, "Falter-Bypass ");
    EXPECT_TRUE(IsBypassProgram(*FinishProgram(0, 0)));
    for (int n = 1; n <= 20; ++n) {
        char name[32], line[64];
        std::snprintf(name, sizeof name, "Programm %-5d", n);
        std::snprintf(line, sizeof line, "@PJL DEFAULT FINISHPROGID=PROGRAM%d\r\n", n);
        EXPECT_STREQ(FinishProgram(0, n)->name, name);
        EXPECT_EQ(std::strlen(FinishProgram(0, n)->name), 14u);
        EXPECT_STREQ(FinishProgram(0, n)->pjlLine, line);
        EXPECT_FALSE(IsBypassProgram(*FinishProgram(0, n)));
    }
    EXPECT_EQ(FinishProgram(0, 21), nullptr);

    ASSERT_EQ(FinishMarginRowCount(0), 2);
    EXPECT_STREQ(FinishMargin(0, 0)->name, "Programm-Einstell. verwenden ");
    EXPECT_STREQ(FinishMargin(0, 0)->pjlLine, "@PJL DEFAULT FINISHMARGINS=USEPROGRAM\r\n");
    EXPECT_STREQ(FinishMargin(0, 1)->name, "Immer ein                    ");
    EXPECT_STREQ(FinishMargin(0, 1)->pjlLine, "@PJL DEFAULT FINISHMARGINS=MARGINSOFF\r\n");

    ASSERT_EQ(OutputBinRowCount(0), 15);
    EXPECT_STREQ(OutputBin(0, 0)->name, "Egal      ");
    EXPECT_STREQ(OutputBin(0, 0)->pjlLine, "@PJL DEFAULT FINISHBIN=DONTCARE\r\n");
    EXPECT_STREQ(OutputBin(0, 1)->name, "Zickzack-Ausgabe ");
    EXPECT_STREQ(OutputBin(0, 1)->pjlLine, "@PJL DEFAULT FINISHBIN=FANFOLD\r\n");
    for (int n = 1; n <= 13; ++n) {
        char name[32], line[64];
        std::snprintf(name, sizeof name, "Fach %-12d", n);
        std::snprintf(line, sizeof line, "@PJL DEFAULT FINISHBIN=BIN_%d\r\n", n);
        EXPECT_STREQ(OutputBin(0, n + 1)->name, name);
        EXPECT_STREQ(OutputBin(0, n + 1)->pjlLine, line);
    }
}

TEST_F(TablesTest, DefaultToneTableRisesFromZeroTo255) {
    EXPECT_EQ(DefaultToneCurve[0], 0);
    EXPECT_EQ(DefaultToneCurve[3], 12);
    EXPECT_EQ(DefaultToneCurve[64], 123);
    EXPECT_EQ(DefaultToneCurve[128], 187);
    EXPECT_EQ(DefaultToneCurve[192], 228);
    EXPECT_EQ(DefaultToneCurve[255], 255);
    EXPECT_TRUE(std::is_sorted(DefaultToneCurve.begin(), DefaultToneCurve.end()));
}

TEST(ThresholdMatrixTest, IsAPermutationWithTheDocumentedCorners) {
    std::set<int> seen;
    for (const auto& row : ThresholdMatrix) seen.insert(row.begin(), row.end());
    EXPECT_EQ(seen.size(), 256u);
    EXPECT_EQ(*seen.begin(), 1);
    EXPECT_EQ(*seen.rbegin(), 256);
    EXPECT_EQ(ThresholdMatrix[13][0], 256);
    EXPECT_EQ(ThresholdMatrix[0][8], 1);
    EXPECT_EQ(ThresholdMatrixStored[13][8], 256);
    EXPECT_EQ(ThresholdMatrixStored[0][0], 1);
    const int storedRow0[] = {1, 209, 33, 241, 73, 153, 105, 185,
                              2, 210, 34, 242, 74, 154, 106, 186};
    EXPECT_TRUE(
        std::equal(std::begin(storedRow0), std::end(storedRow0), ThresholdMatrixStored[0].begin()));
}

TEST(ThresholdMatrixTest, LevelLBlackensExactlyLCells) {
    for (int level = 1; level <= 255; ++level) {
        int black = 0;
        for (const auto& row : ThresholdMatrix)
            black += static_cast<int>(
                std::count_if(row.begin(), row.end(), [&](int t) { return t <= level; }));
        ASSERT_EQ(black, level);
    }
}

}  // namespace
}  // namespace varnu::testing
