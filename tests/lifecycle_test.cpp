// Configuration-time and plot-time requests: host checks, identity, tables,
// the configuration record's load and store, and the page data.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "config/config_record.h"
#include "config/device_tables.h"
#include "config/page_geometry.h"
#include "config/tone_curve.h"
#include "interface/host_services.h"
#include "interface/output_buffer.h"
#include "job/requests.h"
#include "plot_session.h"
#include "test_host.h"
#include "varnu/default_tone_curve.h"

namespace varnu::testing {
namespace {

const std::string kBadVersion =
    "\nUng\xfcltige Version von Auto CAD. Verwenden Sie Versionen ab R14.\n";
const std::string kForeignHost =
    "\nVersuch des Abrufens eines Bilds von einer anderen Anwendung als Auto CAD.\n";
const std::string kNotStored = "\nKonfig-Infos konnten nicht gespeichert werden. \n";
const std::string kNotLoaded = "\nKonfig-Infos konnten nicht abgerufen werden. \n";

class LifecycleTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        Packet messages(50);
        SendDriver(messages);
    }

    // Plot request 49 as the CAD host sends it; ends with the latch clear.
    void PlotReset() {
        Packet reset(49);
        reset.Set<std::int16_t>(4, 1).Set<std::uint8_t>(7, 2);
        SendPlot(reset);
        ASSERT_EQ(reset.Get<std::int16_t>(10), 0);
        ASSERT_EQ(JobState.ErrorLatch, 0);
    }

    void StoreWithHost(const ConfigRecord& record) {
        EncodeConfigRecord(record, host().storedConfig.data());
        host().hasStoredConfig = true;
    }
};

TEST_F(LifecycleTest, CodesWithoutAHandlerLeaveThePacketUntouched) {
    for (std::int16_t code : {0, 1, 3, 12, 30, 31, 51, 55, 200, -1}) {
        Packet p(code);
        std::memset(p.data() + 2, 0xA5, Packet::kSize - 2);
        const std::string before(reinterpret_cast<char*>(p.data()), Packet::kSize);
        SendDriver(p);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(p.data()), Packet::kSize), before) << code;
    }
    for (std::int16_t code : {0, 1, 10, 28, 51, 53, 55, 1000, -5}) {
        Packet p(code);
        std::memset(p.data() + 2, 0x5A, Packet::kSize - 2);
        const std::string before(reinterpret_cast<char*>(p.data()), Packet::kSize);
        SendPlot(p);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(p.data()), Packet::kSize), before) << code;
    }
    EXPECT_TRUE(host().Calls().empty());
}

TEST_F(LifecycleTest, VersionCheck) {
    Packet ok(11);
    ok.Set<std::int16_t>(4, 14).Set<std::int16_t>(6, 9).Set<std::uint32_t>(11, 0xCAFE);
    SendDriver(ok);
    EXPECT_EQ(ok.result(), 0);
    EXPECT_EQ(ok.Get<std::int16_t>(4), 3);
    EXPECT_EQ(ok.Get<std::int16_t>(6), 0);
    EXPECT_EQ(Module.HostWindow, 0xCAFEu);

    Packet old(11);
    old.Set<std::int16_t>(4, 2);
    SendDriver(old);
    EXPECT_EQ(old.result(), -1);
    EXPECT_EQ(JobState.ErrorLatch, 137);
    EXPECT_EQ(host().Messages(), std::vector<std::string>{kBadVersion});

    // Gated requests refuse until a request 49 clears the latch.
    Packet again(11);
    again.Set<std::int16_t>(4, 3);
    EXPECT_EQ(SendDriver(again).result(), -1);
    Packet reset(49);
    reset.Set<std::int16_t>(4, 1).Set<std::uint8_t>(7, 2);
    SendDriver(reset);
    EXPECT_EQ(JobState.ErrorLatch, 0);
    Packet recovered(11);
    recovered.Set<std::int16_t>(4, 3);
    EXPECT_EQ(SendDriver(recovered).result(), 0);
}

TEST_F(LifecycleTest, IdentityReplyAndItsFailures) {
    Packet good(49);
    good.Set<std::int16_t>(4, 1).Set<std::uint8_t>(7, 2);
    SendPlot(good);
    EXPECT_EQ(good.result(), 49);  // the reply does not write the result word
    EXPECT_EQ(good.Get<std::int16_t>(10), 0);
    EXPECT_EQ(good.Get<std::int16_t>(12), 0);
    std::string identity(81, '\0');
    identity.replace(0, 49, "Varnu 4820/4810 Wide Format [Ver. 3.0.0] ADI 4.3 ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(good.data() + 86), 81), identity);

    Packet foreign(49);
    foreign.Set<std::int16_t>(4, 2).Set<std::uint8_t>(7, 2);
    SendPlot(foreign);
    EXPECT_EQ(foreign.Get<std::int16_t>(10), -3);
    EXPECT_EQ(JobState.ErrorLatch, 137);

    Packet old(49);
    old.Set<std::int16_t>(4, 1).Set<std::uint8_t>(7, 1);
    SendDriver(old);
    EXPECT_EQ(old.Get<std::int16_t>(10), -5);
    EXPECT_EQ(JobState.ErrorLatch, 137);
    EXPECT_EQ(host().Messages(), (std::vector<std::string>{kForeignHost, kBadVersion}));

    PlotReset();
}

TEST_F(LifecycleTest, ModelDescriptionAndHostTables) {
    Packet model(20);
    SendDriver(model);
    EXPECT_EQ(model.result(), 0);
    EXPECT_EQ(model.Get<std::int16_t>(2), 40);
    EXPECT_EQ(model.Get<std::int16_t>(4), 1);
    EXPECT_EQ(model.Get<std::int16_t>(6), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(model.data() + 8), 32),
              std::string("4820/4810 Wide Format") + std::string(11, '\0'));
    EXPECT_EQ(host().CallsOf(CallKind::LoadConfig).size(), 1u);

    struct Table {
        std::int16_t code, tag;
    };
    for (Table t : {Table{22, 7}, Table{23, 255}, Table{25, 255}}) {
        Packet p(t.code);
        std::memset(p.data() + 2, 0xEE, Packet::kSize - 2);
        SendDriver(p);
        EXPECT_EQ(p.result(), 0);
        EXPECT_EQ(p.Get<std::int16_t>(2), 262);
        EXPECT_EQ(p.Get<std::int16_t>(4), t.tag);
        for (int i = 0; i < 256; ++i) {
            const int want = t.code == 22 ? 0 : t.code == 23 ? 1 : (i == 0 ? 1 : i);
            ASSERT_EQ(p.data()[6 + i], want) << t.code << " " << i;
        }
        EXPECT_EQ(p.data()[262], 0xEE);
    }

    Packet doubles(44);
    std::memset(doubles.data() + 2, 0xEE, Packet::kSize - 2);
    doubles.Set<std::int32_t>(8, 70000).Set<std::int16_t>(12, -4);
    SendDriver(doubles);
    EXPECT_EQ(doubles.result(), 0);
    EXPECT_EQ(doubles.Get<std::uint16_t>(2), static_cast<std::uint16_t>(69996));
    EXPECT_EQ(doubles.Get<std::int32_t>(4), 255);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(doubles.Get<std::uint64_t>(16 + 8 * i), 0x3F66C61522A6F3F5u) << i;
    }
    EXPECT_EQ(doubles.data()[2064], 0xEE);

    Packet caps(40);
    caps.Set<std::uint32_t>(5, 0x12);
    SendDriver(caps);
    EXPECT_EQ(caps.result(), 0);
    EXPECT_EQ(caps.data()[4], 1);
    EXPECT_EQ(caps.Get<std::uint32_t>(5), 0x80012u);
    EXPECT_EQ(caps.data()[139], 2);
    EXPECT_EQ(caps.data()[140], 0);
}

TEST_F(LifecycleTest, ConfigureWithDefaultsReportsThePageData) {
    Packet p(21);
    p.Set<std::int16_t>(6, 1);
    SendDriver(p);
    EXPECT_EQ(p.result(), 0);
    EXPECT_EQ(p.Get<std::int16_t>(2), 59);
    // Defaults: E-Arch 48 x 36 inches, no margin, 600 dpi, RTL/GL2, divisor 1.
    EXPECT_EQ(p.Get<double>(8), 48.0);
    EXPECT_EQ(p.Get<double>(16), 36.0);
    EXPECT_EQ(p.Get<double>(24), 1016.0);
    EXPECT_EQ(p.Get<double>(32), 1016.0);
    EXPECT_EQ(p.Get<std::int16_t>(40), 395);
    EXPECT_EQ(p.Get<std::int16_t>(42), 255);
    EXPECT_EQ(p.Get<std::int16_t>(44), 1);
    EXPECT_EQ(p.Get<std::int16_t>(46), 7);
    EXPECT_EQ(p.Get<std::int16_t>(48), 2);  // parallel
    EXPECT_EQ(p.Get<std::int16_t>(50), 9600);
    EXPECT_EQ(p.Get<std::int16_t>(52), 0);
    EXPECT_EQ(p.Get<std::int16_t>(54), 8);
    EXPECT_EQ(p.Get<std::int16_t>(56), 1);
    EXPECT_EQ(p.data()[58], 0);
    EXPECT_EQ(Configuration.Config.modeFlags, kResolution600 | kModeLongEdgeAlongX);
    EXPECT_EQ(Configuration.ToneCurve[128], 174);
    EXPECT_TRUE(host().CallsOf(CallKind::LoadConfig).empty());  // defaults asked for: no load
}

TEST_F(LifecycleTest, ConfigureTakesTheStoredRecordOrFallsBackToDefaults) {
    ConfigRecord stored{};
    applyConfigDefaults(0);
    stored = Configuration.Config;
    stored.modelIndex = 0;
    stored.paperIndex = 23;  // custom length on the E-Arch width
    stored.customLengthMm = 1000;
    stored.marginMm = 5;
    stored.optionFlags |= kOptionSerial;
    StoreWithHost(stored);
    Configuration.Config = ConfigRecord{};

    Packet p(21);
    SendDriver(p);
    EXPECT_EQ(p.result(), 0);
    const double margin = 5 * 0.03937007874015748;
    EXPECT_EQ(PaperFormat(0, 23)->length, 1000 * 0.03937007874015748);
    EXPECT_DOUBLE_EQ(p.Get<double>(8), 39.37007874015748 - 2 * margin);
    EXPECT_DOUBLE_EQ(p.Get<double>(16), 36.0 - 2 * margin);
    EXPECT_EQ(p.Get<std::int16_t>(48), 1);  // serial
    EXPECT_EQ(Configuration.Config.paperIndex, 23);

    // A record stored for another model is replaced by the defaults.
    stored.modelIndex = 1;
    StoreWithHost(stored);
    Packet q(21);
    SendDriver(q);  // compares the record in memory (model 0) and loads model 1's
    Packet r(21);
    SendDriver(r);  // now the record in memory is model 1's: defaults
    EXPECT_EQ(Configuration.Config.paperIndex, 1);
    EXPECT_EQ(r.Get<double>(8), 48.0);

    // A host without a stored record: defaults, no message.
    host().hasStoredConfig = false;
    Configuration.Config.modelIndex = 0;
    Configuration.Config.paperIndex = 7;
    Packet s(21);
    SendDriver(s);
    EXPECT_EQ(s.result(), 0);
    EXPECT_EQ(Configuration.Config.paperIndex, 1);
    EXPECT_TRUE(host().Messages().empty());
}

TEST_F(LifecycleTest, SaveStoresTheRecordWithTheModelRow) {
    applyConfigDefaults(0);
    Configuration.Config.modelIndex = 5;
    Configuration.Config.copies = 3;
    Packet p(47);
    SendDriver(p);
    EXPECT_EQ(p.result(), 0);
    ConfigRecord back{};
    DecodeConfigRecord(host().storedConfig.data(), &back);
    EXPECT_EQ(back.modelIndex, 0);
    EXPECT_EQ(back.copies, 3);

    host().storeResult = 1;
    Packet q(47);
    SendDriver(q);
    EXPECT_EQ(q.result(), -1);
    EXPECT_EQ(JobState.ErrorLatch, 137);
    EXPECT_EQ(host().Messages(), std::vector<std::string>{kNotStored});
    Packet gated(47);
    EXPECT_EQ(SendDriver(gated).result(), -1);
    EXPECT_EQ(host().CallsOf(CallKind::StoreConfig).size(), 2u);
}

TEST_F(LifecycleTest, PlotOpeningLoadsAndClampsCopies) {
    applyConfigDefaults(0);
    Configuration.Config.modelIndex = 0;
    for (std::int32_t copies : {150, 100, 99, 0, -2}) {
        ConfigRecord r = Configuration.Config;
        r.copies = copies;
        StoreWithHost(r);
        std::strcpy(Configuration.LabelText, "left over");
        Packet p(29);
        p.Set<std::int16_t>(4, 3).Set<std::uint32_t>(11, 77);
        SendPlot(p);
        ASSERT_EQ(p.result(), 0);
        const std::int32_t expected = copies > 99 ? 1 : copies;
        EXPECT_EQ(Configuration.Config.copies, expected);
        EXPECT_EQ(Configuration.JobCopies, expected);
        EXPECT_EQ(Configuration.LabelText[0], '\0');
        EXPECT_EQ(p.Get<std::int16_t>(4), 3);
        EXPECT_EQ(Module.HostWindow, 77u);
    }
}

TEST_F(LifecycleTest, PlotOpeningFailures) {
    Packet old(29);
    old.Set<std::int16_t>(4, 2);
    EXPECT_EQ(SendPlot(old).result(), -1);
    EXPECT_EQ(JobState.ErrorLatch, 137);
    EXPECT_EQ(host().Messages(), std::vector<std::string>{kBadVersion});
    PlotReset();

    host().ClearCalls();
    host().hasStoredConfig = false;
    Packet noConfig(29);
    noConfig.Set<std::int16_t>(4, 3);
    EXPECT_EQ(SendPlot(noConfig).result(), -1);
    EXPECT_EQ(JobState.ErrorLatch, 137);
    EXPECT_EQ(host().Messages(), std::vector<std::string>{kNotLoaded});
    PlotReset();
}

TEST_F(LifecycleTest, DamagedStoredRecordReadsAsDefaultsWhereOutOfRange) {
    applyConfigDefaults(0);
    ConfigRecord r = Configuration.Config;
    r.modelIndex = 0;
    r.copies = 150;
    r.paperIndex = 99;
    r.customLengthMm = -7;
    r.mediaIndex = 9;
    r.finishProgramIndex = 300;
    r.finishMarginIndex = -1;
    r.outputBinIndex = 15;
    r.redPen = 4000;
    r.marginMm = -5;
    StoreWithHost(r);
    Packet p(29);
    p.Set<std::int16_t>(4, 3);
    ASSERT_EQ(SendPlot(p).result(), 0);
    EXPECT_EQ(Configuration.Config.copies, 1);
    EXPECT_EQ(Configuration.Config.paperIndex, 1);
    EXPECT_EQ(Configuration.Config.customLengthMm, 396);
    EXPECT_EQ(Configuration.Config.mediaIndex, 0);
    EXPECT_EQ(Configuration.Config.finishProgramIndex, 0);
    EXPECT_EQ(Configuration.Config.finishMarginIndex, 0);
    EXPECT_EQ(Configuration.Config.outputBinIndex, 0);
    EXPECT_EQ(Configuration.Config.redPen, 1);
    EXPECT_EQ(Configuration.Config.marginMm, 0);

    // A record of a model the tables do not have plots with the first model.
    r = Configuration.Config;
    r.modelIndex = 9;
    StoreWithHost(r);
    Packet q(29);
    q.Set<std::int16_t>(4, 3);
    ASSERT_EQ(SendPlot(q).result(), 0);
    EXPECT_EQ(Configuration.CurrentModel, 0);
}

TEST_F(LifecycleTest, PlotConfigureReportsStoresAndCopiesBack) {
    OpenPlotSession();
    Packet p(46);
    std::memset(p.data() + 2, 0x11, 300);
    p.Set<std::uint32_t>(5, 0x40);
    SendPlot(p);
    EXPECT_EQ(p.result(), 19);
    EXPECT_EQ(Configuration.HostOptionBits, 0x40u);
    EXPECT_EQ(p.Get<double>(9), 48.0);
    EXPECT_EQ(p.Get<double>(25), 48.0);
    EXPECT_EQ(p.Get<double>(17), 36.0);
    EXPECT_EQ(p.Get<double>(33), 36.0);
    EXPECT_EQ(p.Get<double>(41), 1016.0);
    EXPECT_EQ(p.Get<double>(49), 1016.0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p.data() + 73), 4), Bytes("MAX\0"));
    EXPECT_EQ(p.data()[139], 2);
    EXPECT_EQ(p.data()[140], 0);
    EXPECT_EQ(p.data()[266], 0x11);
    EXPECT_EQ(p.data()[267], 0x11);
    EXPECT_EQ(JobState.PlotExtentX, 48.0);
    // Stored although the dialog was cancelled.
    ASSERT_EQ(host().CallsOf(CallKind::StoreConfig).size(), 1u);
    std::array<std::uint8_t, 40> now{};
    EncodeConfigRecord(Configuration.Config, now.data());
    EXPECT_EQ(host().storedConfig, now);

    host().storeResult = 2;
    Packet q(46);
    SendPlot(q);
    EXPECT_EQ(q.result(), -1);
    EXPECT_EQ(JobState.ErrorLatch, 137);
    EXPECT_EQ(host().Messages().back(), kNotStored);
}

TEST_F(LifecycleTest, PageDataOnlyAfterAReset) {
    OpenPlotSession({.configure = {}, .extentX = 40.0, .extentY = 30.0});
    // The page (48 x 36) did not fit the host's 40 x 30: host extents stay.
    EXPECT_EQ(JobState.PlotExtentX, 40.0);
    EXPECT_EQ(JobState.PlotExtentY, 30.0);

    Packet again(48);
    again.Set<double>(9, 100.0).Set<double>(17, 100.0).Set<std::uint32_t>(5, 9);
    SendPlot(again);
    EXPECT_EQ(again.result(), 0);  // not stale: only the option bits
    EXPECT_EQ(Configuration.HostOptionBits, 9u);
    EXPECT_EQ(again.data()[73], 0);

    PlotReset();
    Packet fits(48);
    fits.Set<double>(9, 100.0).Set<double>(17, 100.0).Set<double>(41, 508.0).Set<double>(49, 508.0);
    SendPlot(fits);
    EXPECT_EQ(fits.result(), 19);
    EXPECT_EQ(fits.Get<double>(9), 48.0);
    EXPECT_EQ(fits.Get<double>(17), 36.0);
    EXPECT_EQ(fits.Get<double>(25), 48.0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(fits.data() + 73), 4), Bytes("MAX\0"));
    EXPECT_EQ(Configuration.PageGeometry.HostResolution[0], 508.0);
    EXPECT_EQ(Configuration.PaperNameList.count, 41);
}

TEST_F(LifecycleTest, ExtentsRequestLeavesItsCodeAndSetsShortCoordinates) {
    OpenPlotSession({.configure = [](ConfigRecord& c) { c.modeFlags = kModeVcgl | kResolution400; },
                     .extentX = 40.0,
                     .extentY = 30.0,
                     .hostResolution = 800.0});
    EXPECT_EQ(Configuration.VcglShortCoordinates, 1);
    Packet p(47);
    p.Set<double>(9, 41.0).Set<double>(17, 10.0);
    SendPlot(p);
    EXPECT_EQ(p.result(), 47);
    EXPECT_EQ(p.data()[139], 2);
    EXPECT_EQ(Configuration.VcglShortCoordinates, 0);
}

TEST_F(LifecycleTest, StepDivisorFollowsTheLongerSide) {
    struct Case {
        std::uint16_t mode;
        std::int32_t lengthMm;
        std::int32_t divisor;
    };
    // Custom E-Arch width (36 inches); lengths in mm around the bounds.
    const Case cases[] = {
        {0, 1638, 1},   {0, 1639, 2},         {0, 6553, 4},         {0, 13106, 8},
        {0, 15000, 16}, {kModeVcgl, 2080, 1}, {kModeVcgl, 2081, 2}, {kModeVcgl, 8322, 4},
    };
    for (const Case& c : cases) {
        applyConfigDefaults(0);
        Configuration.Config.paperIndex = 23;
        Configuration.Config.customLengthMm = c.lengthMm;
        Configuration.Config.modeFlags = static_cast<std::uint16_t>(c.mode | kResolution400);
        double x = 0, y = 0;
        ComputePageGeometry(true, &x, &y);
        EXPECT_EQ(Configuration.PageGeometry.StepDivisor, c.divisor) << c.lengthMm;
        if (c.mode) {
            EXPECT_EQ(Configuration.PageGeometry.HostResolution[0], 800.0 / c.divisor);
            EXPECT_EQ(Configuration.PageGeometry.ScaleFactor, c.divisor * 0.5);
        } else {
            EXPECT_EQ(Configuration.PageGeometry.HostResolution[0], 1016.0 / c.divisor);
            EXPECT_EQ(Configuration.PageGeometry.ScaleFactor, c.divisor);
        }
    }
}

TEST_F(LifecycleTest, ConfigurationRoundTripsThroughTheHost) {
    OpenPlotSession({.configure = [](ConfigRecord& c) {
        c.copies = 7;
        c.paperIndex = 30;
        c.customLengthMm = 2500;
        c.mediaIndex = 3;
        c.finishProgramIndex = 4;
        c.finishMarginIndex = 1;
        c.outputBinIndex = 9;
        c.marginMm = 10;
        c.modeFlags |= kModeManualOutput | kModeLongEdgeAlongX;
        c.curvePoints[1] = 90;
    }});
    const auto before = host().storedConfig;
    Packet p(46);
    SendPlot(p);
    EXPECT_EQ(host().storedConfig, before);
    Configuration.Config = ConfigRecord{};
    Packet open(29);
    open.Set<std::int16_t>(4, 3);
    SendPlot(open);
    std::array<std::uint8_t, 40> now{};
    EncodeConfigRecord(Configuration.Config, now.data());
    EXPECT_EQ(now, before);
}

}  // namespace
}  // namespace varnu::testing
