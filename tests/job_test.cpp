// Job start and job end: whole byte streams in both data modes, and each way
// a job can fail.
#include "job/job.h"

#include <gtest/gtest.h>

#include <string>

#include "config/config_record.h"
#include "interface/memory.h"
#include "interface/output_buffer.h"
#include "modes/data_mode.h"
#include "plot_session.h"
#include "test_host.h"
#include "varnu/pen_palette.h"

namespace varnu::testing {
namespace {

using JobTest = DriverTest;

std::string RtlPalette() {
    std::string s;
    for (int p = 1; p < 256; ++p) {
        const int g = PenGrey(p);
        s += "PC" + std::to_string(p) + "," + std::to_string(g) + "," + std::to_string(g) + "," +
             std::to_string(g);
    }
    return s;
}

TEST_F(JobTest, PenGreys) {
    const int expected[] = {0, 76, 226, 150, 178, 28, 104, 0, 191, 127};
    for (int p = 0; p < 10; ++p) EXPECT_EQ(PenGrey(p), expected[p]) << p;
    EXPECT_EQ(PenGrey(250), 84);
    EXPECT_EQ(PenGrey(255), 0);
}

TEST_F(JobTest, RtlJobStartStream) {
    OpenPlotSession({.configure = {}, .extentX = 40.0, .extentY = 30.0});
    ASSERT_EQ(StartJob(), 0);
    const std::string palette = RtlPalette();
    EXPECT_EQ(palette.substr(0, 48), "PC1,76,76,76PC2,226,226,226PC3,150,150,150PC4,17");
    EXPECT_EQ(palette.substr(palette.size() - 11), "PC255,0,0,0");
    const std::string expected =
        "\x1b%-12345X@PJL\r\n@PJL DEFAULT FINISHPROGID=BYPASS\r\n@PJL ENTER LANGUAGE=HPGL2\r\n"
        "\x1b%0B;BP2,1;IN;MT0;PS40640,30480IP0,0,40640,30480SC0,40640,0,30480IW0,0,40640,30480;"
        "XF4,0;LA1,4,2,4SP7RFNP256CR0,255,0,255,0,255" +
        palette + "PUPA0,0PR;TR0;";
    EXPECT_EQ(Waiting(), expected);
    EXPECT_STREQ(Module.SavedWindowCommand, "IW0,0,40640,30480;");
    EXPECT_STREQ(Module.PeOpener, "PE7");
    EXPECT_EQ(JobState.BlackPen, 7);  // the shipped model has no red printing: unchanged
    EXPECT_TRUE(host().CallsOf(CallKind::WriteOutput).empty());
    const auto notes = host().CallsOf(CallKind::NotifyHost);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].a, 30);
    EXPECT_EQ(notes[0].b, 1);
}

TEST_F(JobTest, FinishingProgramAddsMarginAndBinLines) {
    OpenPlotSession({.configure = [](ConfigRecord& c) {
        c.finishProgramIndex = 3;
        c.finishMarginIndex = 1;
        c.outputBinIndex = 14;
        c.mediaIndex = 3;
        c.copies = 12;
        c.modeFlags |= kModeManualOutput;
        c.optionFlags |= kOptionPe8Bit;
    }});
    ASSERT_EQ(StartJob(), 0);
    const std::string head =
        "\x1b%-12345X@PJL\r\n@PJL DEFAULT FINISHPROGID=PROGRAM3\r\n"
        "@PJL DEFAULT FINISHMARGINS=MARGINSOFF\r\n@PJL DEFAULT FINISHBIN=BIN_13\r\n"
        "@PJL ENTER LANGUAGE=HPGL2\r\n\x1b%0B;BP2,12;IN;MT4;PS";
    EXPECT_EQ(Waiting().substr(0, head.size()), head);
    EXPECT_NE(Waiting().find("XF4,1;LA1"), std::string::npos);
    EXPECT_STREQ(Module.PeOpener, "PE");
}

TEST_F(JobTest, MarginsAndALabel) {
    OpenPlotSession(
        {.configure = [](ConfigRecord& c) { c.marginMm = 10; }, .extentX = 40.0, .extentY = 30.0});
    std::strcpy(Configuration.LabelText, "Plan 7");
    ASSERT_EQ(StartJob(), 0);
    // 10 mm is 399.99999999999994 steps at 1016 per inch: floor gives 399.
    EXPECT_NE(Waiting().find(
                  "BP1,\"Plan 7\",2,1;IN;MT0;PS41438,31278IP399,399,41039,30879SC0,40640,0,30480"),
              std::string::npos);
}

TEST_F(JobTest, QuoteInALabelStaysInsideItsString) {
    OpenPlotSession();
    std::strcpy(Configuration.LabelText, "a\";PG;IN;BP1,\"b");
    ASSERT_EQ(StartJob(), 0);
    EXPECT_NE(Waiting().find("BP1,\"a\"\";PG;IN;BP1,\"\"b\",2,1;IN;"), std::string::npos);
    EXPECT_EQ(Waiting().find(";PG;IN;BP1,\"b\""), std::string::npos);
}

TEST_F(JobTest, SerialHandshakeGoesStraightToTheDevice) {
    OpenPlotSession({.configure = [](ConfigRecord& c) {
        c.optionFlags |= kOptionSerial | kHandshakeHardware;
    }});
    ASSERT_EQ(StartJob(), 0);
    const auto strings = host().CallsOf(CallKind::SendDeviceString);
    ASSERT_EQ(strings.size(), 2u);
    EXPECT_EQ(strings[0].bytes, "\x1b.R");
    EXPECT_EQ(strings[1].bytes, "\x1b.@;1:");
    EndJob();

    OpenPlotSession({.configure = [](ConfigRecord& c) { c.optionFlags |= kOptionSerial; }});
    host().ClearCalls();
    ASSERT_EQ(StartJob(), 0);
    const auto xon = host().CallsOf(CallKind::SendDeviceString);
    ASSERT_EQ(xon.size(), 4u);
    EXPECT_EQ(xon[1].bytes, "\x1b.I81;0;17:");
    EXPECT_EQ(xon[2].bytes, "\x1b.N10;19:");
    EXPECT_EQ(xon[3].bytes, "\x1b.@;0:");
    EndJob();

    // The host drives the line itself.
    OpenPlotSession({.configure = [](ConfigRecord& c) { c.optionFlags |= kOptionSerial; }});
    Packet bits(47);
    bits.Set<double>(layout::page::kExtentX, 40.0)
        .Set<double>(layout::page::kExtentY, 30.0)
        .Set<std::uint32_t>(layout::page::kOptionBits, 0x40);
    SendPlot(bits);
    host().ClearCalls();
    ASSERT_EQ(StartJob(), 0);
    EXPECT_TRUE(host().CallsOf(CallKind::SendDeviceString).empty());
}

const SessionOptions kVcglSession = {
    .configure = [](ConfigRecord& c) { c.modeFlags = kModeVcgl | kResolution400; },
    .extentX = 30.0,
    .extentY = 20.0,
    .hostResolution = 800.0,
};

TEST_F(JobTest, VcglJobStartStream) {
    OpenPlotSession(kVcglSession);
    ASSERT_EQ(StartJob(), 0);
    const std::string s = Waiting();
    const std::string preamble =
        "18 01 00 00 18 02 00 00 18 02 FF FF 18 01 00 00 18 02 00 00 18 02 FF FE "
        "18 01 00 00 18 02 00 00 18 02 FF FD 18 01 00 00 18 02 00 00 18 02 FF FC "
        "18 01 00 00 18 02 00 00 18 02 FF FB 18 01 00 00 18 02 00 00 18 02";
    const std::string head = "9B 5E 00 02 00 02 9B 4E 00 02 30 31 " + preamble +
                             " F2 04 08 02 56 4C 34 38 32 30 20 00 23 00";
    std::size_t at = 6 + 6 + 70 + 10 + 4;
    EXPECT_EQ(Hex(s.substr(0, at)), head);

    // 256 halftone cells of 40 bytes; grey g goes through the remap three times.
    ASSERT_GE(s.size(), at + 256 * 40);
    EXPECT_EQ(Hex(s.substr(at, 40)),
              "32 13 00 00 00 10 00 10 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF "
              "FF FF FF FF FF FF FF FF FF FF FF FF");
    // Grey 255 maps to 255: the empty cell.
    EXPECT_EQ(Hex(s.substr(at + 255 * 40, 8)), "32 13 00 FF 00 10 00 10");
    EXPECT_EQ(s.substr(at + 255 * 40 + 8, 32), std::string(32, '\0'));
    at += 256 * 40;

    // Palette: 30 05 pen grey -1 -1 -1.
    EXPECT_EQ(Hex(s.substr(at, 12)), "30 05 00 00 00 00 FF FF FF FF FF FF");
    EXPECT_EQ(Hex(s.substr(at + 12, 12)), "30 05 00 01 00 4C FF FF FF FF FF FF");
    EXPECT_EQ(Hex(s.substr(at + 255 * 12, 12)), "30 05 00 FF 00 00 FF FF FF FF FF FF");
    at += 256 * 12;
    EXPECT_EQ(JobState.BlackPen, 255);

    const std::string tail =
        "41 01 00 07 47 01 00 07 "
        "36 04 00 01 00 00 00 64 00 00 36 04 00 02 00 19 00 32 00 19 36 04 00 03 00 23 00 1E 00 23 "
        "36 06 00 04 00 28 00 0A 00 00 00 0A 00 28 36 06 00 05 00 23 00 0A 00 0A 00 0A 00 23 "
        "36 08 00 06 00 19 00 0A 00 0A 00 0A 00 0A 00 0A 00 19 "
        "36 08 00 07 00 23 00 0A 00 00 00 0A 00 00 00 0A 00 23 "
        "36 0A 00 08 00 19 00 0A 00 00 00 0A 00 0A 00 0A 00 00 00 0A 00 19 "
        "42 01 00 01 44 01 00 02 45 01 00 03 39 01 00 00 48 01 00 02 50 01 00 01 "
        "40 01 00 00 "
        // Page rectangle: W = 800 x 30 x 0.5 = 12000, H = 8000, sent scaled again.
        "64 04 00 00 00 00 00 00 00 00 64 04 17 70 0F A0 00 00 00 00 "
        "40 01 00 01";
    EXPECT_EQ(Hex(s.substr(at)), tail);
}

TEST_F(JobTest, HalftoneCellsOfTheDocumentedLevels) {
    auto rows = [](int level) {
        std::string out;
        for (std::uint16_t r : HalftonePatternTable[level]) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%s%04X", out.empty() ? "" : " ", r);
            out += buf;
        }
        return out;
    };
    EXPECT_EQ(rows(0),
              "FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF");
    EXPECT_EQ(rows(1),
              "FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FF7F FFFF FFFF");
    EXPECT_EQ(rows(2),
              "7FFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FFFF FF7F FFFF FFFF");
    EXPECT_EQ(rows(64),
              "5F5F FAFA AFAF F5F5 F5F5 AFAF FAFA 5F5F 5F5F FAFA AFAF F5F5 F5F5 AF2F FAFA 5FDF");
    EXPECT_EQ(rows(128),
              "5555 AAAA AAAA 5555 5555 AAAA AAAA 5555 5555 AAAA AAAA 5555 5555 AA2A AAEA 5555");
    EXPECT_EQ(rows(255),
              "0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000");
}

TEST_F(JobTest, VcglLabelIsPaddedToWholeWords) {
    OpenPlotSession(kVcglSession);
    std::strcpy(Configuration.LabelText, "ABC");
    ASSERT_EQ(StartJob(), 0);
    EXPECT_EQ(Hex(Waiting().substr(96, 8)), "14 03 00 03 41 42 43 00");
    EndJob();

    OpenPlotSession(kVcglSession);
    std::strcpy(Configuration.LabelText, "AB");
    ASSERT_EQ(StartJob(), 0);
    EXPECT_EQ(Hex(Waiting().substr(96, 8)), "14 02 00 02 41 42 32 13");
}

TEST_F(JobTest, JobWithoutDrawingSendsNothingButNotifiesTwice) {
    OpenPlotSession();
    host().ClearCalls();
    host().notifyResult = 12;
    ASSERT_EQ(StartJob(), 0);
    EndJob();
    EXPECT_TRUE(host().CallsOf(CallKind::WriteOutput).empty());
    const auto notes = host().CallsOf(CallKind::NotifyHost);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].a, 12);
    EXPECT_EQ(notes[1].b, 1);
    EXPECT_EQ(PageState.CommandBuffer, nullptr);

    // A second job end: nothing sent, the same handle again.
    EndJob();
    EXPECT_EQ(host().CallsOf(CallKind::NotifyHost).size(), 3u);
    EXPECT_EQ(host().CallsOf(CallKind::NotifyHost)[2].a, 12);

    // A negative handle is not handed back.
    host().notifyResult = -1;
    ASSERT_EQ(StartJob(), 0);
    EndJob();
    EXPECT_EQ(host().CallsOf(CallKind::NotifyHost).size(), 4u);
}

TEST_F(JobTest, JobEndsWithContentInBothModes) {
    OpenPlotSession();
    ASSERT_EQ(StartJob(), 0);
    const std::string start = Waiting();
    PageState.PageHasContent = 1;
    Configuration.JobCopies = 3;
    EndJob();
    EXPECT_EQ(host().Output(), start + ";PUSP0;PG;\x1b%-12345X\r\n");
    EXPECT_EQ(Configuration.JobCopies, 1);
    EXPECT_EQ(PageState.PageHasContent, 0);
    EXPECT_EQ(PageState.PenState, kPenClosed);
    for (const auto& call : host().CallsOf(CallKind::WriteOutput))
        ASSERT_LE(call.bytes.size(), 128u);

    host().ClearCalls();
    OpenPlotSession(kVcglSession);
    ASSERT_EQ(StartJob(), 0);
    const std::string vcglStart = Waiting();
    PageState.PageHasContent = 1;
    EndJob();
    const std::string out = host().Output();
    ASSERT_EQ(out.substr(0, vcglStart.size()), vcglStart);
    EXPECT_EQ(Hex(out.substr(vcglStart.size() + 70)), "F3 01 00 01 9B 5E 00 02 00 00");
    EXPECT_EQ(out.substr(vcglStart.size(), 70), out.substr(12, 70));  // the preamble again
}

TEST_F(JobTest, AllocationFailureAtJobStart) {
    OpenPlotSession();
    FailAllocationsAfterForTesting(0);
    EXPECT_EQ(StartJob(), -1);
    FailAllocationsAfterForTesting(-1);
    EXPECT_EQ(JobState.ErrorLatch, 255);
    EXPECT_EQ(
        host().Messages().back(),
        "\nF\xfcr den Vorgang erforderlicher Arbeitsspeicher kann nicht bereitgestellt werden.");
    EXPECT_TRUE(host().CallsOf(CallKind::NotifyHost).empty());
    EXPECT_EQ(StartJob(), -1);  // latched until request 49
    EndJob();

    OpenPlotSession();  // its request 49 recovers
    EXPECT_EQ(StartJob(), 0);
}

TEST_F(JobTest, WriteFailureDuringTheFinalFlush) {
    OpenPlotSession();
    ASSERT_EQ(StartJob(), 0);
    PageState.PageHasContent = 1;
    host().writesBeforeFailure = 3;
    EndJob();
    EXPECT_EQ(JobState.ErrorLatch, 255);
    EXPECT_EQ(host().CallsOf(CallKind::WriteOutput).size(), 3u);
    EXPECT_EQ(host().Messages().back(), "\nFehler bei der Plotter-Ausgabe. \n");
    EXPECT_EQ(PageState.CommandBuffer, nullptr);
    EXPECT_EQ(host().CallsOf(CallKind::NotifyHost).size(), 2u);

    // The next job start refuses until a request 49; after it, the same bytes.
    EXPECT_EQ(StartJob(), -1);
    host().ClearCalls();
    host().writesBeforeFailure = -1;
    OpenPlotSession();
    ASSERT_EQ(StartJob(), 0);
    PageState.PageHasContent = 1;
    const std::string start = Waiting();
    EndJob();
    EXPECT_EQ(host().Output(), start + ";PUSP0;PG;\x1b%-12345X\r\n");
}

TEST_F(JobTest, WriteFailureInsideJobStartWhenTheBufferFills) {
    // A job start never fills 2 MB by itself; a failed flush during the
    // palette is reached by a buffer already near the brim.
    OpenPlotSession();
    ASSERT_EQ(StartJob(), 0);
    EndJob();
    ASSERT_TRUE(AllocateCommandBuffer());
    PageState.CommandFill = kCommandBufferCapacity - 10;
    host().writesBeforeFailure = 0;
    EXPECT_EQ(AppendText("PC1,76,76,76PC2"), -1);
    EXPECT_EQ(JobState.ErrorLatch, 255);
    ReleaseCommandBuffer();
}

}  // namespace
}  // namespace varnu::testing
