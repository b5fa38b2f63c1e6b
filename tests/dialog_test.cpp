// The configuration dialogs through the headless layer: opening states,
// every command, validation with the German warnings, the options and
// information dialogs, the image-correction dialog and its painted preview,
// and the configuration summary.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/config_record.h"
#include "config/device_tables.h"
#include "config/tone_curve.h"
#include "dialogs/dialog_platform.h"
#include "dialogs/dialogs.h"
#include "interface/output_buffer.h"
#include "plot_session.h"
#include "resource.h"
#include "test_host.h"
#include "varnu/default_tone_curve.h"
#include "varnu/headless_dialogs.h"

namespace varnu::testing {
namespace {

constexpr const char* kDriver = "DRIVERCFG2_GER";
constexpr const char* kDetail = "DETAILCFG2_GER";

UserAction Act(UserActionKind kind, const char* dialog, int control, int value = 0,
               std::string text = {}) {
    UserAction a{kind, dialog, control, value, std::move(text), 0, 0, nullptr};
    return a;
}
void Click(const char* dialog, int control) {
    QueueUserAction(Act(UserActionKind::Click, dialog, control));
}
void Select(const char* dialog, int control, int position) {
    QueueUserAction(Act(UserActionKind::Select, dialog, control, position));
}
void Type(const char* dialog, int control, std::string text) {
    QueueUserAction(Act(UserActionKind::Type, dialog, control, 0, std::move(text)));
}
void Inspect(const char* dialog, std::function<void(const HeadlessDialog&)> fn) {
    UserAction a = Act(UserActionKind::Inspect, dialog, 0);
    a.inspect = std::move(fn);
    QueueUserAction(std::move(a));
}
void Answer(int value) {
    QueueUserAction(Act(UserActionKind::Answer, "", 0, value));
}
void Mouse(UserActionKind kind, int x, int y) {
    UserAction a = Act(kind, "IDD_COLOR_GER", 0);
    a.x = x;
    a.y = y;
    QueueUserAction(std::move(a));
}

class DialogTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        ResetHeadlessDialogs();
    }
    void TearDown() override { EXPECT_TRUE(HeadlessErrors().empty()) << HeadlessErrors().front(); }

    // Plot request 46 after a plot opening with the given stored record.
    void PlotConfigure(const SessionOptions& options = {}) {
        OpenPlotSession(options);
        Packet p(46);
        SendPlot(p);
        EXPECT_EQ(PendingUserActions(), 0u);
    }
    // Driver request 21 with a stored record (defaults changed by `configure`).
    void DetailConfigure(std::function<void(ConfigRecord&)> configure = {}) {
        applyConfigDefaults(0);
        Configuration.Config.modelIndex = 0;
        if (configure) configure(Configuration.Config);
        EncodeConfigRecord(Configuration.Config, host().storedConfig.data());
        host().hasStoredConfig = true;
        Packet p(21);
        SendDriver(p);
        EXPECT_EQ(PendingUserActions(), 0u);
    }
    ConfigRecord Stored() {
        ConfigRecord r{};
        DecodeConfigRecord(host().storedConfig.data(), &r);
        return r;
    }
    const HeadlessDialog& Closed(const char* name) {
        for (const auto& d : HeadlessDialogLog())
            if (d.templateName == name) return d;
        static HeadlessDialog none;
        ADD_FAILURE() << name << " was not shown";
        return none;
    }
};

TEST_F(DialogTest, DriverDialogOpensWithTheRecordAndTheModelsCapabilities) {
    std::strcpy(Configuration.LabelText, "");
    bool inspected = false;
    Inspect(kDriver, [&](const HeadlessDialog& d) {
        inspected = true;
        const auto& c = d.controls;
        EXPECT_EQ(c.at(IDC_PAPER).items.size(), 41u);
        EXPECT_EQ(c.at(IDC_PAPER).selection, 0);
        EXPECT_EQ(c.at(IDC_MEDIA).items.size(), 4u);
        EXPECT_EQ(c.at(IDC_MEDIA).items[2], "Plotter-Einstellungen verwenden ");
        EXPECT_TRUE(c.at(IDC_FILL_HALFTONE).checked);
        EXPECT_FALSE(c.at(IDC_FILL_SOLID).checked);
        EXPECT_TRUE(c.at(IDC_DPI600).checked);
        EXPECT_TRUE(c.count(IDC_DPI600) && c.at(IDC_DPI600).enabled);
        for (int id : {IDC_COLOUR_GROUP, IDC_RED_GROUP, IDC_RED_ON, IDC_RED_OFF, IDC_DATA_GROUP,
                       IDC_DATA_RTL, IDC_DATA_VCGL, IDC_RED_PEN_LABEL, IDC_RED_PEN,
                       IDC_LENGTH_LABEL, IDC_LENGTH})
            EXPECT_FALSE(c.at(id).enabled) << id;
        EXPECT_TRUE(c.at(IDC_DATA_RTL).checked);
        EXPECT_EQ(c.at(IDC_COPIES).text, "1");
        EXPECT_EQ(c.at(IDC_COPIES).limit, 2);
        EXPECT_EQ(c.at(IDC_COPIES_SPIN).spinLow, 1);
        EXPECT_EQ(c.at(IDC_COPIES_SPIN).spinHigh, 99);
        EXPECT_EQ(c.at(IDC_MARGIN).text, "0");
        EXPECT_EQ(c.at(IDC_MARGIN_SPIN).spinHigh, 10);
        EXPECT_EQ(c.at(IDC_LABEL).limit, 64);
    });
    PlotConfigure();
    EXPECT_TRUE(inspected);
    EXPECT_EQ(Closed(kDriver).result, 5);  // empty queue: "Abbrechen"
}

TEST_F(DialogTest, CopiesValidationAndCommit) {
    Type(kDriver, IDC_COPIES, "0");
    Type(kDriver, IDC_COPIES, "");
    Type(kDriver, IDC_COPIES, "12");
    Click(kDriver, IDC_OK);
    PlotConfigure();
    ASSERT_EQ(HeadlessMessageBoxes().size(), 1u);
    EXPECT_EQ(HeadlessMessageBoxes()[0].text,
              "Legen Sie die Zahl der Kopien im Bereich von 1 bis 99 fest.");
    EXPECT_EQ(HeadlessMessageBoxes()[0].caption, "Anzahl an Kopien");
    EXPECT_EQ(HeadlessMessageBoxes()[0].style, 0x30u);
    EXPECT_EQ(HeadlessMessageBoxes()[0].ownerDialog, kDriver);
    EXPECT_EQ(Closed(kDriver).result, 0);
    EXPECT_EQ(Configuration.Config.copies, 12);
    EXPECT_EQ(Configuration.JobCopies, 12);
    EXPECT_EQ(Stored().copies, 12);
    EXPECT_EQ(Closed(kDriver).controls.at(IDC_COPIES_SPIN).spinPosition, 12);
}

TEST_F(DialogTest, AbbrechenLeavesTheRecordUnchanged) {
    PlotConfigure();
    const auto before = host().storedConfig;
    Type(kDriver, IDC_COPIES, "7");
    Click(kDriver, IDC_FILL_SOLID);
    Click(kDriver, IDC_DPI200);
    Click(kDriver, IDC_CANCEL);
    Packet p(46);
    SendPlot(p);
    EXPECT_EQ(host().storedConfig, before);
    EXPECT_EQ(Configuration.Config.copies, 1);
}

TEST_F(DialogTest, SpinsWriteTheirEdits) {
    QueueUserAction(Act(UserActionKind::Spin, kDriver, IDC_COPIES_SPIN, 3));
    QueueUserAction(Act(UserActionKind::Spin, kDriver, IDC_MARGIN_SPIN, 50));
    Inspect(kDriver, [](const HeadlessDialog& d) {
        EXPECT_EQ(d.controls.at(IDC_COPIES).text, "4");
        EXPECT_EQ(d.controls.at(IDC_MARGIN).text, "10");
    });
    Click(kDriver, IDC_OK);
    PlotConfigure();
    EXPECT_EQ(Configuration.Config.copies, 4);
    EXPECT_EQ(Configuration.Config.marginMm, 10);
    EXPECT_TRUE(HeadlessMessageBoxes().empty());
}

TEST_F(DialogTest, MarginWarningCaptionsDifferBetweenTheDialogs) {
    Type(kDriver, IDC_MARGIN, "11");
    PlotConfigure();
    Type(kDetail, IDC_MARGIN, "25");
    DetailConfigure();
    ASSERT_EQ(HeadlessMessageBoxes().size(), 2u);
    EXPECT_EQ(HeadlessMessageBoxes()[0].text,
              "Legen Sie den Rand in einem Bereich von 0 und 10 fest.");
    EXPECT_EQ(HeadlessMessageBoxes()[0].caption, "Stellen Sie den Rand ein");
    EXPECT_EQ(HeadlessMessageBoxes()[1].caption, "Stellen Sie den Rand ein.");
    EXPECT_EQ(Closed(kDetail).controls.at(IDC_MARGIN).text, "0");
    EXPECT_EQ(Closed(kDetail).controls.count(IDC_LABEL), 0u);  // no label row in the setup
}

TEST_F(DialogTest, CustomLengthFollowsThePaperRow) {
    Select(kDriver, IDC_PAPER, 32);  // "Benutzerdef. Format mit A0-Breite "
    Inspect(kDriver, [](const HeadlessDialog& d) {
        EXPECT_TRUE(d.controls.at(IDC_LENGTH).enabled);
        EXPECT_EQ(d.controls.at(IDC_LENGTH).text, "1189");
        EXPECT_EQ(d.controls.at(IDC_LENGTH).limit, 5);
    });
    Type(kDriver, IDC_LENGTH, "2000");
    Type(kDriver, IDC_LENGTH, "16000");
    Inspect(kDriver,
            [](const HeadlessDialog& d) { EXPECT_EQ(d.controls.at(IDC_LENGTH).text, "2000"); });
    Select(kDriver, IDC_PAPER, 32);  // any later notification sets it back
    Inspect(kDriver,
            [](const HeadlessDialog& d) { EXPECT_EQ(d.controls.at(IDC_LENGTH).text, "1189"); });
    Type(kDriver, IDC_LENGTH, "3000");
    Click(kDriver, IDC_OK);
    PlotConfigure();
    ASSERT_EQ(HeadlessMessageBoxes().size(), 1u);
    EXPECT_EQ(HeadlessMessageBoxes()[0].text,
              "Stellen Sie die L\xe4nge auf 15000 oder weniger ein.");
    EXPECT_EQ(HeadlessMessageBoxes()[0].caption, "L\xe4nge des Sonderformats");
    EXPECT_EQ(Configuration.Config.paperIndex, 33);
    EXPECT_EQ(Configuration.Config.customLengthMm, 3000);

    // Back to a fixed format: the length controls go grey.
    ResetHeadlessDialogs();
    Select(kDriver, IDC_PAPER, 0);
    Inspect(kDriver,
            [](const HeadlessDialog& d) { EXPECT_FALSE(d.controls.at(IDC_LENGTH).enabled); });
    Packet p(46);
    SendPlot(p);
}

TEST_F(DialogTest, LabelAcceptsAsciiOnly) {
    Type(kDriver, IDC_LABEL, "Plan 7, Rev. B/2");
    QueueUserAction(Act(UserActionKind::LoseFocus, kDriver, IDC_LABEL));
    Click(kDriver, IDC_CANCEL);
    PlotConfigure();
    EXPECT_STREQ(Configuration.LabelText, "Plan 7, Rev. B/2");  // "Abbrechen" does not undo it

    for (const char* bad : {"Gr\xfc\xdf"
                            "e",
                            "A\tB", "A\x1b%-12345XB", "A\r\nPG;"}) {
        ResetHeadlessDialogs();
        Type(kDriver, IDC_LABEL, bad);
        QueueUserAction(Act(UserActionKind::LoseFocus, kDriver, IDC_LABEL));
        Inspect(kDriver, [](const HeadlessDialog& d) {
            EXPECT_EQ(d.controls.at(IDC_LABEL).text, "");
            EXPECT_EQ(d.focus, IDC_LABEL);
        });
        Packet p(46);
        SendPlot(p);
        ASSERT_EQ(HeadlessMessageBoxes().size(), 1u) << bad;
        EXPECT_EQ(HeadlessMessageBoxes()[0].caption, "Etikett");
        EXPECT_EQ(HeadlessMessageBoxes()[0].text,
                  "Geben Sie eine Nachricht unter Verwendung von ASCII-Zeichen ein.");
        EXPECT_STREQ(Configuration.LabelText, "Plan 7, Rev. B/2");
    }
    // A label longer than 64 characters is cut by the edit's limit.
    ResetHeadlessDialogs();
    Type(kDriver, IDC_LABEL, std::string(100, 'x'));
    QueueUserAction(Act(UserActionKind::LoseFocus, kDriver, IDC_LABEL));
    Packet p(46);
    SendPlot(p);
    EXPECT_EQ(std::strlen(Configuration.LabelText), 64u);
}

TEST_F(DialogTest, FillAndResolutionButtons) {
    Click(kDriver, IDC_FILL_SOLID);
    Click(kDriver, IDC_DPI300);
    Select(kDriver, IDC_MEDIA, 3);
    Click(kDriver, IDC_OK);
    PlotConfigure();
    EXPECT_EQ(Configuration.Config.optionFlags & kOptionHalftoneFill, 0);
    EXPECT_EQ(Configuration.Config.modeFlags & kModeResolutionMask, kResolution300);
    EXPECT_EQ(Configuration.Config.mediaIndex, 3);
    EXPECT_TRUE(Closed(kDriver).controls.at(IDC_DPI300).checked);
    EXPECT_FALSE(Closed(kDriver).controls.at(IDC_DPI600).checked);
}

TEST_F(DialogTest, DisabledControlsCannotBeUsed) {
    Click(kDriver, IDC_DATA_VCGL);
    Click(kDriver, IDC_OK);
    PlotConfigure();
    ASSERT_EQ(HeadlessErrors().size(), 1u);
    HeadlessErrors().clear();
    EXPECT_EQ(Configuration.Config.modeFlags & kModeVcgl, 0);
}

TEST_F(DialogTest, OptionsDialogWithTheBypass) {
    Click(kDriver, IDC_OPTIONS);
    Inspect("OPTIONCFG2_GER", [](const HeadlessDialog& d) {
        EXPECT_EQ(d.controls.at(IDC_PROGRAM).items.size(), 21u);
        EXPECT_EQ(d.controls.at(IDC_FINISH_MARGIN).items.size(), 2u);
        EXPECT_EQ(d.controls.at(IDC_BIN).items.size(), 15u);
        for (int id : {IDC_MARGIN_LABEL, IDC_FINISH_MARGIN, IDC_BIN_LABEL, IDC_BIN})
            EXPECT_FALSE(d.controls.at(id).enabled);
        EXPECT_TRUE(d.controls.at(IDC_MANUAL_OFF).checked);
    });
    Select("OPTIONCFG2_GER", IDC_PROGRAM, 1);
    Inspect("OPTIONCFG2_GER",
            [](const HeadlessDialog& d) { EXPECT_TRUE(d.controls.at(IDC_BIN).enabled); });
    Select("OPTIONCFG2_GER", IDC_FINISH_MARGIN, 1);
    Select("OPTIONCFG2_GER", IDC_BIN, 5);
    Click("OPTIONCFG2_GER", IDC_MANUAL_ON);
    Click("OPTIONCFG2_GER", IDC_OK);
    Click(kDriver, IDC_OK);
    PlotConfigure();
    EXPECT_EQ(Configuration.Config.finishProgramIndex, 1);
    EXPECT_EQ(Configuration.Config.finishMarginIndex, 1);
    EXPECT_EQ(Configuration.Config.outputBinIndex, 5);
    EXPECT_NE(Configuration.Config.modeFlags & kModeManualOutput, 0);

    // Options "OK", then "Abbrechen" in the configuration: nothing kept.
    ResetHeadlessDialogs();
    const auto before = host().storedConfig;
    Click(kDriver, IDC_OPTIONS);
    Select("OPTIONCFG2_GER", IDC_PROGRAM, 0);
    Click("OPTIONCFG2_GER", IDC_OK);
    Click(kDriver, IDC_CANCEL);
    Packet p(46);
    SendPlot(p);
    EXPECT_EQ(host().storedConfig, before);

    // The setup dialog opens the other template.
    ResetHeadlessDialogs();
    Click(kDetail, IDC_OPTIONS);
    Click("OPTIONCFG1_GER", IDC_CANCEL);
    DetailConfigure();
    EXPECT_EQ(Closed("OPTIONCFG1_GER").result, 5);
}

TEST_F(DialogTest, DriverInformationShowsTheIdentity) {
    Click(kDetail, IDC_VERSION);
    Click("DRV_VER_GER", IDC_OK);
    DetailConfigure();
    EXPECT_EQ(Closed("DRV_VER_GER").controls.at(IDC_IDENTITY).text,
              "Varnu 4820/4810 Wide Format [Ver. 3.0.0] ADI 4.3 ");
    EXPECT_EQ(Closed("DRV_VER_GER").result, 0);
}

// Image correction --------------------------------------------------------------

constexpr const char* kCurve = "IDD_COLOR_GER";

void ScrollLine(int control, bool up) {
    QueueUserAction(Act(UserActionKind::Scroll, kCurve, control, up ? 0 : 1));
}

TEST_F(DialogTest, ShiftAndContrastSteps) {
    Click(kDriver, IDC_IMAGE_CORRECTION);
    ScrollLine(IDC_SHIFT, false);  // all five down by one: P0 is 0, so nothing
    ScrollLine(IDC_SHIFT, true);   // P4 is 255: nothing
    ScrollLine(IDC_CONTRAST, false);
    QueueUserAction(Act(UserActionKind::Escape, kCurve, 0));  // does not close it
    Inspect(kCurve, [](const HeadlessDialog& d) { EXPECT_FALSE(d.ended); });
    Click(kCurve, IDC_CURVE_OK);
    Click(kDriver, IDC_OK);
    PlotConfigure();
    const std::uint8_t expected[5] = {2, 124, 187, 227, 253};
    EXPECT_EQ(std::memcmp(Configuration.Config.curvePoints, expected, 5), 0);
    // The table is the curve of the committed values.
    const auto table = Configuration.ToneCurve;
    rebuildToneCurveFromConfig();
    EXPECT_EQ(table, Configuration.ToneCurve);
}

TEST_F(DialogTest, GammaStepsStayWithinByteValues) {
    Click(kDriver, IDC_IMAGE_CORRECTION);
    for (int i = 0; i < 7; ++i) ScrollLine(IDC_GAMMA, true);
    Click(kCurve, IDC_CURVE_OK);
    Click(kDriver, IDC_OK);
    PlotConfigure();
    // Six steps fit (P3 228 -> 252); the seventh would take P3 to 256 and is refused.
    const std::uint8_t expected[5] = {0, 147, 217, 252, 255};
    EXPECT_EQ(std::memcmp(Configuration.Config.curvePoints, expected, 5), 0);
    const auto table = Configuration.ToneCurve;
    rebuildToneCurveFromConfig();
    EXPECT_EQ(table, Configuration.ToneCurve);

    // Lowering from a low curve never goes below zero either.
    ResetHeadlessDialogs();
    Click(kDriver, IDC_IMAGE_CORRECTION);
    for (int i = 0; i < 60; ++i) ScrollLine(IDC_GAMMA, false);
    Click(kCurve, IDC_CURVE_OK);
    Click(kDriver, IDC_OK);
    Packet p(46);
    SendPlot(p);
    for (int k = 0; k < 5; ++k) EXPECT_GE(Configuration.ToneCurveEditPoints[k], 0);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(Configuration.Config.curvePoints[k], Configuration.ToneCurveEditPoints[k]);
}

TEST_F(DialogTest, VoreinstellungAsksAndResets) {
    Click(kDriver, IDC_IMAGE_CORRECTION);
    ScrollLine(IDC_GAMMA, true);
    Click(kCurve, IDC_DEFAULT_CURVE);
    Answer(kAnswerNo);
    Inspect(kCurve, [](const HeadlessDialog&) {
        EXPECT_EQ(Configuration.ToneCurveEditPoints[1], 104);
    });  // 100 + 4
    Click(kCurve, IDC_DEFAULT_CURVE);
    Answer(kAnswerYes);
    Inspect(kCurve,
            [](const HeadlessDialog&) { EXPECT_EQ(Configuration.ToneCurveEditPoints[1], 123); });
    Click(kCurve, IDC_CURVE_OK);
    Click(kDriver, IDC_OK);
    PlotConfigure({.configure = [](ConfigRecord& c) { c.curvePoints[1] = 100; }});
    ASSERT_EQ(HeadlessMessageBoxes().size(), 2u);
    EXPECT_EQ(HeadlessMessageBoxes()[0].text,
              "R\xfc"
              "cksetzen auf Originalwert?");
    EXPECT_EQ(HeadlessMessageBoxes()[0].caption, "Bildkorrektur");
    EXPECT_EQ(HeadlessMessageBoxes()[0].style, 0x4u | 0x20u | 0x10000u);
    EXPECT_EQ(Configuration.Config.curvePoints[1], 123);
}

// The handle positions of the preview, as the dialog paints them.
struct Handles {
    int x[5], y[5];
};
Handles ExpectedHandles(const std::int32_t p[5]) {
    Handles h{};
    const int l = 0, r = kPreviewWidth, b = kPreviewHeight;
    const int xs[5] = {l, (l + r) / 4, (l + r) / 2, 3 * (l + r) / 4, r};
    for (int k = 0; k < 5; ++k) {
        h.x[k] = xs[k];
        h.y[k] = b - (b * p[k]) / 255;
    }
    return h;
}

// A 16-colour BMP file, enough to read the driver's own bitmaps.
struct Bmp4 {
    int width = 0, height = 0;
    std::vector<Rgb24> palette;
    std::vector<std::uint8_t> indices;  // rows top to bottom
    Rgb24 At(int x, int y) const {
        return palette.at(indices.at(static_cast<std::size_t>(y) * width + x));
    }
};
Bmp4 ReadBmp4(const char* path) {
    Bmp4 bmp;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return bmp;
    std::vector<std::uint8_t> b(1 << 16);
    b.resize(std::fread(b.data(), 1, b.size(), f));
    std::fclose(f);
    auto u32 = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, &b[at], 4);
        return v;
    };
    const std::uint32_t offset = u32(10);
    bmp.width = static_cast<int>(u32(18));
    bmp.height = static_cast<int>(u32(22));
    for (int i = 0; i < 16; ++i)
        bmp.palette.push_back({b[54 + 4 * i + 2], b[54 + 4 * i + 1], b[54 + 4 * i]});
    const int rowBytes = ((bmp.width + 1) / 2 + 3) / 4 * 4;
    bmp.indices.resize(static_cast<std::size_t>(bmp.width) * bmp.height);
    for (int y = 0; y < bmp.height; ++y)
        for (int x = 0; x < bmp.width; ++x) {
            const std::uint8_t byte =
                b[offset + static_cast<std::size_t>(bmp.height - 1 - y) * rowBytes + x / 2];
            bmp.indices[static_cast<std::size_t>(y) * bmp.width + x] =
                x % 2 == 0 ? byte >> 4 : byte & 15;
        }
    return bmp;
}

bool IsColour(const HeadlessPicture& pic, int x, int y, int r, int g, int b) {
    const std::uint8_t* px = &pic.rgb[(static_cast<std::size_t>(y) * pic.width + x) * 3];
    return px[0] == r && px[1] == g && px[2] == b;
}

TEST_F(DialogTest, PaintedPreviewMatchesTheCurve) {
    Click(kDriver, IDC_IMAGE_CORRECTION);
    Inspect(kCurve, [](const HeadlessDialog&) {
        const HeadlessPicture& pic = HeadlessPreview();
        ASSERT_EQ(pic.width, kPreviewWidth);
        const std::int32_t p[5] = {0, 123, 187, 228, 255};
        const Handles h = ExpectedHandles(p);
        // Curve points from the Bernstein form of the handle coordinates.
        int blue = 0, checked = 0;
        for (int i = 0; i < 255; ++i) {
            const double t = i / 255.0, u = 1 - t;
            const double w[5] = {u * u * u * u, 4 * t * u * u * u, 6 * t * t * u * u,
                                 4 * t * t * t * u, t * t * t * t};
            double x = 0, y = 0;
            for (int k = 0; k < 5; ++k) {
                x += w[k] * h.x[k];
                y += w[k] * h.y[k];
            }
            const int px = static_cast<int>(x), py = static_cast<int>(y);
            if (px < 0 || py < 0 || px >= pic.width || py >= pic.height) continue;
            ++checked;
            blue += IsColour(pic, px, py, 0, 0, 255);
        }
        EXPECT_GE(blue, checked - 2);  // rounding of t may move a point by one pixel
        // The inner handles are red squares off the curve's line.
        for (int k = 1; k <= 3; ++k) {
            int red = 0;
            for (int dy = -2; dy < 2; ++dy)
                for (int dx = -2; dx < 2; ++dx)
                    red += IsColour(pic, h.x[k] + dx, h.y[k] + dy, 255, 0, 0);
            EXPECT_GE(red, 10) << "handle " << k;
        }
        // Behind them, bitmap 3032 as the resource file holds it, stretched.
        const Bmp4 grid = ReadBmp4(VARNU_RESOURCE_DIR "/curve_grid.bmp");
        ASSERT_EQ(grid.width, 63);
        ASSERT_EQ(grid.height, 52);
        int same = 0, background = 0;
        for (int y = 0; y < pic.height; ++y)
            for (int x = 0; x < pic.width; ++x) {
                if (IsColour(pic, x, y, 255, 0, 0) || IsColour(pic, x, y, 0, 0, 255)) continue;
                ++background;
                const Rgb24 c = grid.At(x * 63 / pic.width, y * 52 / pic.height);
                same += IsColour(pic, x, y, c.red, c.green, c.blue);
            }
        EXPECT_EQ(same, background);
        EXPECT_GT(background, pic.width * pic.height * 9 / 10);
    });
    Click(kCurve, IDC_CURVE_OK);
    PlotConfigure();
}

TEST_F(DialogTest, DraggingAHandleStopsShortOfItsNeighbour) {
    const std::int32_t p[5] = {0, 123, 187, 228, 255};
    const Handles h = ExpectedHandles(p);
    Click(kDriver, IDC_IMAGE_CORRECTION);
    Mouse(UserActionKind::Press, h.x[2] + 1, h.y[2] - 1);
    Mouse(UserActionKind::Move, h.x[2], 0);  // far above handle 3
    Inspect(kCurve, [&](const HeadlessDialog& d) {
        EXPECT_EQ(d.capture, IDC_PREVIEW);
        const int y = h.y[3] + 4;  // stops 4 pixels below handle 3
        EXPECT_EQ(Configuration.ToneCurveEditPoints[2],
                  (kPreviewHeight - y) * 255 / kPreviewHeight);
    });
    Mouse(UserActionKind::Move, h.x[2], 0xFFF0);  // above the control: as negative
    Mouse(UserActionKind::Release, h.x[2], 0);
    Inspect(kCurve, [](const HeadlessDialog& d) { EXPECT_EQ(d.capture, 0); });
    Click(kCurve, IDC_CURVE_OK);
    Click(kDriver, IDC_OK);
    PlotConfigure();
    EXPECT_LT(Configuration.Config.curvePoints[2], Configuration.Config.curvePoints[3]);
    EXPECT_GT(Configuration.Config.curvePoints[2], 187);
}

// Summary ------------------------------------------------------------------------

TEST_F(DialogTest, SummaryOfTheDefaults) {
    OpenPlotSession();
    host().ClearCalls();
    Packet p(31);
    EXPECT_EQ(SendPlot(p).result(), 31);
    const std::vector<std::string> expected = {
        " Plotter: ",
        "4820/4810 Wide Format",
        "\n Materialart ausw\xe4hlen: Postpapier                       ",
        "\n Format: E-Arch(36Zoll)    ",
        "\n Erstellte Daten w\xe4hlen:  HP-RTL/GL2 ",
        "\n Programm: Falter-Bypass  ",
        "\n Keine manuelle Ausgabe ",
        "\n Polygon ausf\xfcllen. (Halbton) ",
        "\n Bildaufl\xf6sung: ",
        "600dpi ",
        "\n Anzahl an Kopien:  1 ",
        "\n Plotter-Port: ",
        "Parallel ",
        "\n",
    };
    EXPECT_EQ(host().Messages(), expected);
    EXPECT_TRUE(host().CallsOf(CallKind::WriteOutput).empty());
}

TEST_F(DialogTest, SummaryWithFinishingAndOddValues) {
    OpenPlotSession({.configure = [](ConfigRecord& c) {
        c.finishProgramIndex = 2;
        c.copies = 12;
        c.modeFlags = static_cast<std::uint16_t>((c.modeFlags & ~kModeResolutionMask) | 0x0300);
        c.optionFlags = 0;
    }});
    host().ClearCalls();
    Packet p(31);
    SendPlot(p);
    const auto m = host().Messages();
    ASSERT_EQ(m.size(), 16u);
    EXPECT_EQ(m[5], "\n Programm: Programm 2     ");
    EXPECT_EQ(m[6], "\n Rand: Programm-Einstell. verwenden  ");
    EXPECT_EQ(m[7], "\n Ausgabe -Fach: Egal       ");
    EXPECT_EQ(m[9], "\n Polygon ausf\xfcllen. (Voll) ");
    EXPECT_EQ(m[11], "200dpi ");
    EXPECT_EQ(m[12], "\n Anzahl an Kopien: 12 ");
}

}  // namespace
}  // namespace varnu::testing
