// DIMENSIONs drawn without their block: where their text goes when the file
// leaves it unset, the zeros their numbers drop, and the ticks some styles
// end their lines with. Distances in millimetres, the drawings at 1:1.
#include <string>

#include "support.h"

namespace varnu::host::testing {
namespace {

// A drawing of `entities` with header variables and a dimension style BIG
// (arrows 3, text 5, extension lines 1 off and 2 beyond) with `style`'s
// groups added; `tables` follow it, as the block records do in a file.
std::string Drawing(const std::string& entities, const std::string& header = "",
                    const std::string& style = "", const std::string& tables = "") {
    return "0\nSECTION\n2\nHEADER\n" + header +
           "0\nENDSEC\n0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nDIMSTYLE\n0\nDIMSTYLE\n2\nBIG\n70\n0\n40"
           "\n1\n41\n3\n42\n1\n44\n2\n140\n5\n" +
           style + "0\nENDTAB\n" + tables + "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n" + entities +
           "0\nENDSEC\n0\nEOF\n";
}

// Of style BIG unless `groups` name another (3) first.
std::string Dimension(const std::string& groups) {
    return "0\nDIMENSION\n8\n0\n2\n*NONE\n" +
           (groups.rfind("3\n", 0) == 0 ? groups : "3\nBIG\n" + groups);
}

Plot Read(const std::string& drawing) {
    return ReadDxfEntities(drawing, AtScale(1)).plot;
}

// Programs that leave the text where the dimension puts it write its point
// (11) as the origin or not at all, and no flag 128: the text goes on the
// dimension line (above it, a text height from it), not to the origin. A
// text the file places at the origin (flag 128) stays there.
TEST(DxfDimensions, TextLeftUnsetSitsOnItsLine) {
    const struct {
        const char* what;
        std::string groups;     // 70 and the points, 11 added at the origin
        double x0, y0, x1, y1;  // where the text goes
    } cases[] = {
        // Radius from (100, 100) to (130, 100): "R30.0" above its middle.
        {"radius", "70\n4\n10\n100\n20\n100\n15\n130\n25\n100\n", 105, 102, 125, 108},
        // Linear from (20, 20) to (80, 30), its line at y = 50.
        {"linear", "70\n0\n10\n80\n20\n50\n13\n20\n23\n20\n14\n80\n24\n30\n50\n0\n", 40, 52, 60,
         58},
        // A right angle at (100, 100), its arc 40 out: the text outside its middle.
        {"angle at a vertex",
         "70\n5\n10\n128.28\n20\n128.28\n13\n110\n23\n100\n14\n100\n24\n110\n15\n100\n25\n100\n",
         128, 128, 138, 138},
        {"angle of two lines",
         "70\n2\n10\n100\n20\n110\n13\n100\n23\n100\n14\n110\n24\n100\n15\n100\n25\n100\n16\n"
         "128.28\n26\n128.28\n",
         128, 128, 138, 138},
    };
    for (const auto& c : cases) {
        for (const bool written : {true, false}) {
            const Plot plot =
                Read(Drawing(Dimension((written ? "11\n0\n21\n0\n" : "") + c.groups)));
            const std::string what = std::string(c.what) + (written ? ", 11 at the origin" : "");
            EXPECT_FALSE(InkIn(plot, -10, -10, 10, 10)) << what;
            EXPECT_TRUE(InkIn(plot, c.x0, c.y0, c.x1, c.y1)) << what;
        }
        std::string flagged = c.groups;
        flagged.replace(3, flagged.find('\n', 3) - 3,
                        std::to_string(std::stoi(c.groups.substr(3)) + 128));
        EXPECT_TRUE(InkIn(Read(Drawing(Dimension("11\n0\n21\n0\n" + flagged))), -10, -10, 10, 10))
            << c.what << ", placed at the origin";
    }
    // The radius's text beside its line, not across it.
    const Plot radius = Read(Drawing(Dimension("70\n4\n10\n100\n20\n100\n15\n130\n25\n100\n")));
    EXPECT_FALSE(InkIn(radius, 105, 100.5, 125, 102)) << "between the line and the text";
    EXPECT_FALSE(InkIn(radius, 105, 92, 125, 99.5)) << "below the line";
}

// DIMZIN 8 and DIMAZIN 2 drop trailing zeros, and the point with them, but
// never a zero of the whole number; DIMZIN 4 and DIMAZIN 1 drop a leading
// zero. Each is drawn as the dimension whose text is written out so. The
// style's (78, 79) are its own; the header's ($DIMZIN, $DIMAZIN) are those
// of a style the table lacks.
TEST(DxfDimensions, ZerosSuppressed) {
    // Along x from (0, 0) to (`length`, 0), its line at y = 20; or (0 for
    // `length`) the right angle at (0, 0) between +x and +y. Text at 11.
    const auto dimension = [](double length, const std::string& text, const std::string& style) {
        const std::string groups = "3\n" + style + "\n" + (text.empty() ? "" : "1\n" + text + "\n");
        if (length == 0)
            return Dimension(groups +
                             "70\n133\n10\n14.14\n20\n14.14\n11\n25\n21\n25\n13\n20\n23\n0\n"
                             "14\n0\n24\n20\n15\n0\n25\n0\n");
        return Dimension(groups + "70\n128\n10\n0\n20\n20\n11\n" + std::to_string(length / 2) +
                         "\n21\n25\n13\n0\n23\n0\n14\n" + std::to_string(length) +
                         "\n24\n0\n50\n0\n");
    };
    // DIMDEC 4, DIMADEC 2; DIMLFAC 100, so that 100 long measures 10000.
    const std::string places = "271\n4\n179\n2\n", hundredfold = places + "144\n100\n";
    const std::string header = "9\n$DIMDEC\n70\n4\n9\n$DIMADEC\n70\n2\n9\n$DIMLFAC\n40\n100\n";
    const struct {
        const char* what;
        double length;
        std::string zeros, shown;
        std::string style = "";  // the style's groups; the header's variables when empty
    } cases[] = {
        {"10000 without its zero decimals", 100, "78\n8\n", "10000", hundredfold},
        {"12.5 without trailing zeros", 12.5, "78\n8\n", "12.5", places},
        {"0.5 without the leading zero", 0.5, "78\n4\n", ".5000", places},
        {"0.5 without either", 0.5, "78\n12\n", ".5", places},
        {"all zeros shown", 100, "78\n0\n", "10000.0000", hundredfold},
        {"the header's $DIMZIN", 100, "9\n$DIMZIN\n70\n8\n", "10000"},
        {"90 degrees without its zero decimals", 0, "79\n2\n", "90%%d", places},
        {"the header's $DIMAZIN", 0, "9\n$DIMAZIN\n70\n3\n", "90%%d"},
        {"all of an angle's zeros shown", 0, "79\n0\n", "90.00%%d", places},
    };
    for (const auto& c : cases) {
        const bool own = !c.style.empty();
        const std::string name = own ? "BIG" : "UNLISTED";
        const Plot drawn = Read(own ? Drawing(dimension(c.length, "", name), "", c.style + c.zeros)
                                    : Drawing(dimension(c.length, "", name), header + c.zeros));
        const Plot shown = Read(own ? Drawing(dimension(c.length, c.shown, name), "", c.style)
                                    : Drawing(dimension(c.length, c.shown, name), header));
        ASSERT_GT(BoxOf(drawn).Width(), 0) << c.what;
        EXPECT_TRUE(SameSteps(drawn, shown)) << c.what;
    }
    // A style's zeros are its own, whatever the header says.
    EXPECT_TRUE(
        SameSteps(Read(Drawing(dimension(100, "", "BIG"), "9\n$DIMZIN\n70\n8\n", hundredfold)),
                  Read(Drawing(dimension(100, "10000.0000", "BIG"), "", hundredfold))));
}

// DIMBLK "_ARCHTICK" ends the dimension line with architectural ticks:
// thick strokes at 45 degrees through its ends, as long as the arrow's
// size across the diagonal, both ends parallel. Named by the style's name
// (5), by its handle of a block record (342), or by the header for a style
// the table lacks; a style's arrows are its own.
TEST(DxfDimensions, ArchitecturalTicks) {
    // Linear from (20, 20) to (80, 20), its line at y = 50.
    const auto linear = [](const std::string& style) {
        return Dimension("3\n" + style +
                         "\n10\n80\n20\n50\n11\n50\n21\n55\n70\n128\n13\n20\n23\n20\n14\n80\n24\n"
                         "20\n50\n0\n");
    };
    const std::string records =
        "0\nTABLE\n2\nBLOCK_RECORD\n0\nBLOCK_RECORD\n5\n1F\n100\nAcDbSymbolTableRecord\n100\n"
        "AcDbBlockTableRecord\n2\n_ArchTick\n0\nBLOCK_RECORD\n5\n20\n100\nAcDbSymbolTableRecord\n"
        "100\nAcDbBlockTableRecord\n2\n_Dot\n0\nENDTAB\n";
    // BIG's sizes for the style the table lacks.
    const std::string sizes =
        "9\n$DIMASZ\n40\n3\n9\n$DIMTXT\n40\n5\n9\n$DIMEXO\n40\n1\n9\n$DIMEXE\n40\n2\n";
    const std::string ticks = sizes + "9\n$DIMBLK\n1\n_ARCHTICK\n";
    const Plot arrows = Read(Drawing(linear("BIG"), "", "", records));
    EXPECT_EQ(FillPenAt(arrows, 22.5, 50), 7) << "a closed filled arrow inside the end";
    EXPECT_EQ(FillPenAt(arrows, 19, 49), -1);
    EXPECT_TRUE(SameSteps(Read(Drawing(linear("UNLISTED"), sizes)), arrows));
    const struct {
        const char* what;
        std::string drawing;
    } cases[] = {
        {"the style's name", Drawing(linear("BIG"), "", "5\nARCHTICK\n", records)},
        {"the style's block record", Drawing(linear("BIG"), "", "342\n1F\n", records)},
        {"the header", Drawing(linear("UNLISTED"), ticks)},
    };
    for (const auto& c : cases) {
        const Plot plot = Read(c.drawing);
        for (const double x : {20.0, 80.0}) {
            EXPECT_EQ(FillPenAt(plot, x - 1, 49), 7) << c.what << ": the tick below the end";
            EXPECT_EQ(FillPenAt(plot, x + 1, 51), 7) << c.what << ": the tick above the end";
            EXPECT_EQ(FillPenAt(plot, x + 1.4, 51.4), 7) << c.what << ": near its end";
            EXPECT_EQ(FillPenAt(plot, x + 0.5, 50.35), 7) << c.what << ": a stroke's width";
            EXPECT_EQ(FillPenAt(plot, x + 0.5, 50.1), -1) << c.what << ": and no wider";
            EXPECT_EQ(FillPenAt(plot, x + 1, 49), -1) << c.what << ": parallel ends";
        }
        EXPECT_EQ(FillPenAt(plot, 22.5, 50), -1) << c.what << ": no arrow";
        EXPECT_FALSE(InkIn(plot, 21.7, 51.7, 22, 52)) << c.what << ": the arrow's size across";
    }
    // Another block record, none, or the header's ticks beside a style of its own.
    for (const auto& [header, style] :
         {std::pair<std::string, std::string>{"", "342\n20\n"}, {"", "5\n\n"}, {ticks, ""}})
        EXPECT_TRUE(SameSteps(Read(Drawing(linear("BIG"), header, style, records)), arrows))
            << header << style;
}

}  // namespace
}  // namespace varnu::host::testing
