// Pens, line types, widths, vectors and polygons: exact bytes in both data
// modes, the pen state machine cell by cell, and the edge cases around it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "config/config_record.h"
#include "config/page_geometry.h"
#include "interface/output_buffer.h"
#include "modes/data_mode.h"
#include "plot_session.h"
#include "test_host.h"
#include "varnu/adi_abi.h"
#include "varnu/packet_layouts.h"
#include "vector/pens.h"

namespace varnu::testing {
namespace {

const SessionOptions kRtl = {.configure = {}, .extentX = 40.0, .extentY = 30.0};
const SessionOptions kVcgl = {
    .configure = [](ConfigRecord& c) { c.modeFlags = kModeVcgl | kResolution400; },
    .extentX = 30.0,
    .extentY = 20.0,
    .hostResolution = 800.0,
};

class VectorTest : public DriverTest {
  protected:
    // Opens a job; ScaleFactor 1 makes host steps device units.
    void Start(const SessionOptions& options, double scale = 1.0) {
        OpenPlotSession(options);
        ASSERT_EQ(StartJob(), 0);
        Configuration.PageGeometry.ScaleFactor = scale;
        Mark();
    }
    void Mark() { mark_ = Waiting().size(); }
    // What the requests since the last mark appended.
    std::string Sent() {
        const std::string all = Waiting();
        std::string out = all.substr(mark_);
        mark_ = all.size();
        return out;
    }

    std::int16_t Move(std::uint16_t x, std::uint16_t y) { return Point(3, x, y); }
    std::int16_t Draw(std::uint16_t x, std::uint16_t y) { return Point(4, x, y); }
    std::int16_t Point(std::int16_t code, std::uint16_t x, std::uint16_t y) {
        Packet p(code);
        p.Set<std::uint16_t>(layout::point::kX, x).Set<std::uint16_t>(layout::point::kY, y);
        return SendPlot(p).result();
    }
    std::int16_t Simple(std::int16_t code) {
        Packet p(code);
        return SendPlot(p).result();
    }
    std::int16_t Pen(std::uint16_t pen) {
        Packet p(5);
        p.Set<std::uint16_t>(layout::pen::kPen, pen);
        return SendPlot(p).result();
    }
    std::int16_t LineType(std::uint16_t type) {
        Packet p(7);
        p.Set<std::uint16_t>(layout::pen::kLineType, type);
        return SendPlot(p).result();
    }
    std::int16_t Width(double inches) {
        Packet p(41);
        p.Set<double>(layout::pen::kWidth, inches);
        return SendPlot(p).result();
    }
    void LineTypeCountRequest(std::int16_t count) {
        Packet p(36);
        p.Set<std::int16_t>(layout::pen::kLineTypeCount, count);
        SendPlot(p);
    }
    std::int16_t Polygon(std::int16_t pen,
                         const std::vector<std::pair<std::uint16_t, std::uint16_t>>& pts) {
        Packet p(33);
        p.Set<std::int16_t>(layout::polygon::kFill, pen)
            .Set<std::int16_t>(layout::polygon::kCount, static_cast<std::int16_t>(pts.size()));
        for (std::size_t i = 0; i < pts.size(); ++i)
            p.Set<std::uint16_t>(layout::polygon::kVertices + 4 * i, pts[i].first)
                .Set<std::uint16_t>(layout::polygon::kVertices + 4 * i + 2, pts[i].second);
        return SendPlot(p).result();
    }

    std::size_t mark_ = 0;
};

TEST_F(VectorTest, WorkedExampleRtl) {
    Start(kRtl);
    EXPECT_EQ(Move(100, 200), 3);
    EXPECT_EQ(Sent(), "PE7<GeOk");
    EXPECT_EQ(Draw(150, 200), 4);
    EXPECT_EQ(Sent(), "Cb_");
    EXPECT_EQ(Simple(8), 8);
    EXPECT_EQ(Sent(), "<");
    EXPECT_EQ(Draw(150, 300), 4);
    EXPECT_EQ(Sent(), "___Ge");
    EXPECT_EQ(PageState.PageHasContent, 1);
    EndJob();
    const std::string out = host().Output();
    EXPECT_EQ(out.substr(out.size() - 26), "___Ge;PUSP0;PG;\x1b%-12345X\r\n");
}

TEST_F(VectorTest, WorkedExampleVcgl) {
    Start(kVcgl);
    ASSERT_EQ(Configuration.VcglShortCoordinates, 1);
    Move(100, 200);
    EXPECT_EQ(Sent(), "");
    Draw(150, 200);
    EXPECT_EQ(Hex(Sent()), "64 04 00 64 00 C8 00 32 00 00");
    Simple(8);
    EXPECT_EQ(Sent(), "");
    Draw(150, 300);
    EXPECT_EQ(Hex(Sent()), "64 04 00 96 00 C8 00 00 00 64");
}

TEST_F(VectorTest, VcglLongCoordinatesAndTheRealScale) {
    Start({.configure = kVcgl.configure, .extentX = 50.0, .extentY = 30.0, .hostResolution = 800.0},
          0.5);
    ASSERT_EQ(Configuration.VcglShortCoordinates, 0);
    Move(101, 201);
    Draw(301, 201);
    // 0.5 device units per host step, truncated: (50, 100) by (100, 0).
    EXPECT_EQ(Hex(Sent()), "6B 08 00 00 00 32 00 00 00 64 00 00 00 64 00 00 00 00");
}

TEST_F(VectorTest, RtlStateTransitionsCellByCell) {
    // Output before the coordinate pair, by request and starting state.
    struct Cell {
        int from;
        std::int16_t request;
        const char* output;
        std::int16_t to;
    };
    const Cell cells[] = {
        {1, 3, "PE7<", 8}, {2, 3, "", 8},   {4, 3, "<", 8}, {8, 3, "<", 8},
        {1, 4, "PE7", 4},  {2, 4, "__", 8}, {4, 4, "", 4},  {8, 4, "", 4},
        {1, 8, "", 1},     {2, 8, "", 2},   {4, 8, "<", 2}, {8, 8, "<", 2},
    };
    for (const Cell& c : cells) {
        Start(kRtl);
        switch (c.from) {  // reach the state with points far from (9, 9)
            case 2:
                Draw(500, 500);
                Simple(8);
                break;
            case 4:
                Draw(500, 500);
                break;
            case 8:
                Move(500, 500);
                break;
            default:
                break;
        }
        ASSERT_EQ(PageState.PenState, c.from);
        Sent();
        if (c.request == 8) {
            Simple(8);
            EXPECT_EQ(Sent(), c.output) << "pen up from " << c.from;
        } else {
            Point(c.request, 9, 9);
            // 9, 9 from the origin is "qq"; -491, -491 from (500, 500) is "V}V}".
            const std::string pair = c.from == 1 ? "qq" : "V}V}";
            EXPECT_EQ(Sent(), c.output + pair) << "request " << c.request << " from " << c.from;
        }
        EXPECT_EQ(PageState.PenState, c.to) << "request " << c.request << " from " << c.from;
        EndJob();
    }
}

TEST_F(VectorTest, RepeatedPoints) {
    Start(kRtl);
    Draw(10, 10);  // 1 -> 4
    Draw(20, 20);  // 4 -> 4
    Sent();
    Draw(20, 20);  // same point, same state: ignored
    EXPECT_EQ(Sent(), "");
    Move(30, 30);
    Draw(30, 30);  // a dot after a move is sent
    EXPECT_EQ(Sent(), "<ss__");
    Move(40, 40);
    Move(50, 50);
    Draw(50, 50);  // the state went from 8 to 8: ignored
    EXPECT_EQ(Sent(), "<ss<ss");
    Draw(60, 60);
    Draw(70, 70);
    Draw(70, 70);  // 4 to 4 at the same point: ignored
    EXPECT_EQ(Sent(), "ssss");

    // The first move after job start is always sent, even to (65535, 65535) = (-1, -1)'s bits.
    EndJob();
    Start(kRtl);
    Draw(0, 0);
    EXPECT_EQ(Sent(), "PE7__");
}

TEST_F(VectorTest, PenUpSequences) {
    Start(kRtl);
    Draw(10, 10);
    Simple(8);
    Simple(8);  // the second does nothing
    EXPECT_EQ(Sent(), "PE7ss<");
    Move(20, 20);  // only one "<"
    EXPECT_EQ(Sent(), "ss");
    Simple(8);
    Draw(30, 30);
    EXPECT_EQ(Sent(), "<__ss");

    EndJob();
    Start({.configure = [](ConfigRecord& c) { c.optionFlags |= kOptionPe8Bit; },
           .extentX = 40.0,
           .extentY = 30.0});
    Draw(10, 10);
    Simple(8);
    Draw(20, 20);
    EXPECT_EQ(Sent(), "PE\xd3\xd3<\xbf\xbf\xd3\xd3");
}

TEST_F(VectorTest, AbortLatchesAndLaterRequestsFail) {
    Start(kRtl);
    Draw(10, 10);
    Simple(8);  // state 2
    Configuration.JobCopies = 4;
    EXPECT_EQ(Simple(9), 9);
    EXPECT_EQ(JobState.ErrorLatch, 255);
    EXPECT_EQ(Configuration.JobCopies, 1);
    EXPECT_EQ(PageState.PageHasContent, 0);
    EXPECT_EQ(Simple(8), 8);  // from state 2: nothing to send, success
    EXPECT_EQ(Draw(20, 20), -1);
    EXPECT_EQ(PageState.PenState, kPenLifted);  // the send failed before the state changed
    EXPECT_EQ(PageState.LastHostPoint.x, 10);   // nothing converted
    EXPECT_EQ(Move(30, 30), -1);  // from 2 nothing goes before the point, whose conversion fails
    EXPECT_EQ(PageState.PenState, kPenMoved);
    EXPECT_EQ(PageState.LastHostPoint.x, 10);
    EXPECT_EQ(Simple(8), -1);  // from state 8 the "<" fails
    host().ClearCalls();
    EndJob();
    EXPECT_TRUE(host().CallsOf(CallKind::WriteOutput).empty());
    EXPECT_EQ(StartJob(), -1);

    // A request 49 and a new job give the same bytes as a clean run.
    OpenPlotSession(kRtl);
    ASSERT_EQ(StartJob(), 0);
}

TEST_F(VectorTest, PenSelectionAndReplay) {
    Start(kRtl);
    EXPECT_EQ(Pen(3), 5);
    EXPECT_EQ(Sent(), "SP7");
    Draw(10, 10);
    Sent();
    Pen(3);
    EXPECT_EQ(Sent(), ";SP7");
    EXPECT_EQ(PageState.PenState, kPenClosed);
    Pen(3);
    EXPECT_EQ(Sent(), "SP7");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Module.GraphicsStateReplay.pen.bytes),
                          Module.GraphicsStateReplay.pen.length),
              "SP7");

    // Red printing on, with a model that cannot print red: still BlackPen.
    Configuration.Config.modeFlags |= kModeRedPrinting;
    Configuration.Config.redPen = 3;
    Pen(3);
    EXPECT_EQ(Sent(), "SP7");

    EndJob();
    Start(kVcgl);
    Pen(3);
    EXPECT_EQ(Hex(Sent()), "41 01 00 FF 47 01 00 03");  // BlackPen 255 after the VCGL palette
    EXPECT_EQ(Module.GraphicsStateReplay.hostPen.length, 4);
}

TEST_F(VectorTest, LineTypesAndTheirCount) {
    Start(kRtl);
    LineType(3);
    EXPECT_EQ(Sent(), "LT");  // no count yet: solid
    LineTypeCountRequest(8);
    LineType(3);
    EXPECT_EQ(Sent(), "LT-3,2.0");
    LineType(1);
    EXPECT_EQ(Sent(), "LT-1,1.0");
    LineType(0);
    EXPECT_EQ(Sent(), "LT");
    LineType(9);
    EXPECT_EQ(Sent(), "LT");
    LineTypeCountRequest(-1);  // low 16 bits unsigned: everything patterned
    LineType(8);
    EXPECT_EQ(Sent(), "LT-8,2.0");
    LineType(200);  // passes the count test, has no pattern: solid
    EXPECT_EQ(Sent(), "LT");
    Draw(5, 5);
    Sent();
    LineType(2);
    EXPECT_EQ(Sent(), ";LT-2,1.0");

    Packet refresh(43);
    refresh.Set<std::uint8_t>(layout::pen::kLineTypeCount8, 4);
    SendPlot(refresh);
    EXPECT_EQ(Module.LineTypeCount, 4);
    LineType(5);
    EXPECT_EQ(Sent(), "LT");

    EndJob();
    Start(kVcgl);
    LineType(4);
    EXPECT_EQ(Hex(Sent()), "43 01 00 04");
    LineType(0);
    EXPECT_EQ(Hex(Sent()), "43 01 00 00");
}

TEST_F(VectorTest, Widths) {
    struct Case {
        double inches;
        const char* rtl;
        const char* vcgl;
    };
    const Case cases[] = {
        {0.0, "PW0.000", "40 01 00 01"},    {-0.01, "PW297.000", "40 01 01 FF"},
        {12.0, "PW297.000", "40 01 01 FF"}, {0.35 / 25.4, "PW0.350", "40 01 00 05"},
        {0.0125, "PW0.318", "40 01 00 05"}, {1.0, "PW25.400", "40 01 01 90"},
        {0.001, "PW0.025", "40 01 00 01"},  {std::nan(""), "PW297.000", "40 01 01 FF"},
    };
    Start(kRtl);
    for (const Case& c : cases) {
        EXPECT_EQ(Width(c.inches), 0);
        EXPECT_EQ(Sent(), c.rtl) << c.inches;
    }
    EndJob();
    Start(kVcgl);
    for (const Case& c : cases) {
        EXPECT_EQ(Width(c.inches), 0);
        EXPECT_EQ(Hex(Sent()), c.vcgl) << c.inches;
    }
}

TEST_F(VectorTest, LineTypeCatalogue) {
    Start(kRtl);
    host().ClearCalls();
    EXPECT_EQ(Simple(15), 15);
    const std::vector<std::string> expected = {
        "\nLinienart Nr. 0 = Solide Linie",
        "\n                1 = ................................",
        "\n                2 = ----    ----    ----    ----    ",
        "\n                3 = -----   -----   -----   -----   ",
        "\n                4 = ------. ------. ------. ------. ",
        "\n                5 = ---- -  ---- -  ---- -  ---- -  ",
        "\n                6 = --- - - --- - - --- - - --- - - ",
        "\n                7 = ------ . . ------ . . ------ . .",
        "\n",
    };
    EXPECT_EQ(host().Messages(), expected);
    EXPECT_EQ(Sent(), "");
}

TEST_F(VectorTest, TrianglesInBothModes) {
    Start({.configure = [](ConfigRecord& c) { c.optionFlags &= ~kOptionHalftoneFill; },
           .extentX = 40.0,
           .extentY = 30.0});
    EXPECT_EQ(Polygon(3, {{0, 0}, {100, 0}, {100, 100}}), 0);
    EXPECT_EQ(Sent(), "SP7PE7<__;PM0PE7Ge__GeHeHe;PM2FPSP3");
    EXPECT_EQ(JobState.PendingPenReselect, 1);
    EXPECT_EQ(PageState.PenState, kPenClosed);
    EXPECT_EQ(PageState.DevicePosition.x, 0);

    // The next move selects the line pen again.
    Move(10, 10);
    EXPECT_EQ(Sent(), ";SP1PE7<ss");
    EXPECT_EQ(JobState.PendingPenReselect, 0);

    EndJob();
    Start({.configure =
               [](ConfigRecord& c) {
                   c.modeFlags = kModeVcgl | kResolution400;
                   c.optionFlags &= ~kOptionHalftoneFill;
               },
           .extentX = 30.0,
           .extentY = 20.0,
           .hostResolution = 800.0});
    JobState.BlackPen = 7;
    EXPECT_EQ(Polygon(3, {{0, 0}, {100, 0}, {100, 100}}), 0);
    EXPECT_EQ(Hex(Sent()),
              "47 01 00 07 FF 7C 00 06 00 00 00 00 00 64 00 00 00 00 00 64 47 01 00 03");
    EXPECT_EQ(PageState.DevicePosition.x, 100);
    EXPECT_EQ(PageState.DevicePosition.y, 100);
    Move(10, 10);
    EXPECT_EQ(Hex(Sent()), "41 01 00 01");
}

TEST_F(VectorTest, PolygonEdgeCases) {
    Start(kRtl);  // halftone fill by default
    EXPECT_EQ(Polygon(3, {{5, 5}}), 33);
    EXPECT_EQ(Polygon(3, {}), 33);
    EXPECT_EQ(Sent(), "");
    // Two vertices: first, second, first again.
    EXPECT_EQ(Polygon(4, {{0, 0}, {10, 0}}), 0);
    EXPECT_EQ(Sent(), "SP4PE7<__;PM0PE7s_t_;PM2FP");
    // Open sequence first.
    Draw(20, 20);
    Sent();
    EXPECT_EQ(Polygon(4, {{0, 0}, {10, 0}}), 0);
    EXPECT_EQ(Sent().substr(0, 4), ";SP4");
    // A negative count.
    Packet p(33);
    p.Set<std::int16_t>(layout::polygon::kCount, -5);
    EXPECT_EQ(SendPlot(p).result(), 33);
    // While latched: 0 and nothing sent.
    Simple(9);
    EXPECT_EQ(Polygon(4, {{0, 0}, {10, 0}}), 0);
}

TEST_F(VectorTest, PolygonThroughAHostAddress) {
    Start(kRtl);
    auto* vertices = static_cast<std::uint16_t*>(host().arena().Allocate(12));
    const std::uint16_t coords[] = {0, 0, 100, 0, 100, 100};
    std::memcpy(vertices, coords, sizeof coords);
    HostAddress address = 0;
    ASSERT_TRUE(ToHostAddress(vertices, &address));
    Packet p(54);
    p.Set<std::int16_t>(layout::polygon_by_address::kFill, 3)
        .Set<std::int16_t>(layout::polygon_by_address::kCount, 3)
        .Set<HostAddress>(layout::polygon_by_address::kVertices, address);
    EXPECT_EQ(SendPlot(p).result(), 0);
    EXPECT_EQ(Sent(), "SP3PE7<__;PM0PE7Ge__GeHeHe;PM2FP");

    Packet null(54);
    null.Set<std::int16_t>(layout::polygon_by_address::kFill, 3)
        .Set<std::int16_t>(layout::polygon_by_address::kCount, 3)
        .Set<HostAddress>(layout::polygon_by_address::kVertices, 0);
    EXPECT_EQ(SendPlot(null).result(), -1);
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(JobState.ErrorLatch, 0);
}

TEST_F(VectorTest, LargeVcglPolygons) {
    // 16-bit form: any count fits.
    Start(kVcgl);
    auto* vertices = static_cast<std::uint16_t*>(host().arena().Allocate(4 * 32767));
    for (int i = 0; i < 32767; ++i) {
        vertices[2 * i] = static_cast<std::uint16_t>(i % 3000);
        vertices[2 * i + 1] = static_cast<std::uint16_t>(i % 7);
    }
    HostAddress address = 0;
    ASSERT_TRUE(ToHostAddress(vertices, &address));
    Packet p(54);
    p.Set<std::int16_t>(layout::polygon_by_address::kFill, 3)
        .Set<std::int16_t>(layout::polygon_by_address::kCount, 32767)
        .Set<HostAddress>(layout::polygon_by_address::kVertices, address);
    EXPECT_EQ(SendPlot(p).result(), 0);
    const std::string s = Sent();
    EXPECT_EQ(Hex(s.substr(4, 4)), "FF 7C FF FE");  // 2 x 32767 words
    EXPECT_EQ(s.size(), 4u + 4u + 4u * 32767u);
    EndJob();

    // 32-bit form: 16383 vertices fit its word count, 16384 do not.
    Start(
        {.configure = kVcgl.configure, .extentX = 50.0, .extentY = 30.0, .hostResolution = 800.0});
    Packet fits(54);
    fits.Set<std::int16_t>(layout::polygon_by_address::kFill, 3)
        .Set<std::int16_t>(layout::polygon_by_address::kCount, 16383)
        .Set<HostAddress>(layout::polygon_by_address::kVertices, address);
    EXPECT_EQ(SendPlot(fits).result(), 0);
    EXPECT_EQ(Hex(Sent().substr(4, 4)), "FF 83 FF FC");
    Packet tooMany(54);
    tooMany.Set<std::int16_t>(layout::polygon_by_address::kFill, 3)
        .Set<std::int16_t>(layout::polygon_by_address::kCount, 16384)
        .Set<HostAddress>(layout::polygon_by_address::kVertices, address);
    EXPECT_EQ(SendPlot(tooMany).result(), -1);
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(JobState.ErrorLatch, 0);  // refused, the job goes on
    EXPECT_EQ(Draw(10, 10), 4);
}

}  // namespace
}  // namespace varnu::testing
