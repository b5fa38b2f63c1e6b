// Fault injection: a reference job with vectors, polygons and an image in
// each data mode, with the host's output failing at every call in turn, the
// heap failing at every allocation, and the host's row routine failing or
// stopping at every line; then requests out of order and at their limits.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>
#include <vector>

#include "config/config_record.h"
#include "image_host.h"
#include "interface/memory.h"
#include "interface/output_buffer.h"
#include "job/driver_entry.h"
#include "plot_session.h"
#include "raster/raster_output.h"
#include "test_host.h"
#include "varnu/headless_dialogs.h"
#include "varnu/packet_layouts.h"

namespace varnu::testing {
namespace {

const std::string kOutputFailed = "\nFehler bei der Plotter-Ausgabe. \n";

struct Mode {
    const char* name;
    SessionOptions session;
};

const Mode kModes[] = {
    {"RTL/GL2", {.configure = {}, .extentX = 36.0, .extentY = 19.0, .hostResolution = 1016.0}},
    {"VCGL+MMR",
     {.configure = [](ConfigRecord& c) { c.modeFlags = kModeVcgl | kResolution400; },
      .extentX = 30.0,
      .extentY = 20.0,
      .hostResolution = 800.0}},
};

void Point(std::int16_t code, std::uint16_t x, std::uint16_t y) {
    Packet p(code);
    p.Set<std::uint16_t>(layout::point::kX, x).Set<std::uint16_t>(layout::point::kY, y);
    SendPlot(p);
}

// The reference job after the session is open: returns nothing; the bytes
// are what the host received.
void ReferenceJob() {
    StartJob();
    Packet pen(5);
    pen.Set<std::uint16_t>(layout::pen::kPen, 3);
    SendPlot(pen);
    Packet width(41);
    width.Set<double>(layout::pen::kWidth, 0.02);
    SendPlot(width);
    for (int i = 0; i < 60; ++i)
        Point(i % 2 ? 4 : 3, static_cast<std::uint16_t>(100 + 13 * i),
              static_cast<std::uint16_t>(200 + 7 * (i % 50)));
    Packet polygon(33);
    polygon.Set<std::int16_t>(layout::polygon::kFill, 9)
        .Set<std::int16_t>(layout::polygon::kCount, 4);
    const std::uint16_t v[] = {0, 0, 2000, 0, 2000, 1500, 0, 1500};
    for (int i = 0; i < 8; ++i)
        polygon.Set<std::uint16_t>(layout::polygon::kVertices + 2 * i, v[i]);
    SendPlot(polygon);
    ImageHost::Get().lineBytes = [](std::int32_t y) {
        std::string s;
        for (int x = 0; x < 600; ++x) s += std::string(3, static_cast<char>((x * 3 + y * 5) & 255));
        return s;
    };
    Packet image = ImagePacket(5000, 3000, 7000, 3600, 2, 100, 25);
    SendPlot(image);
    Point(3, 10, 10);  // draws the image first
    Point(4, 3000, 3000);
    EndJob();
}

class FaultTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        ImageHost::Get().Reset();
        ResetHeadlessDialogs();
    }
    void TearDown() override { FailAllocationsAfterForTesting(-1); }

    // A fresh module and host, as if the host had just loaded it.
    void Reload() {
        RestoreModuleLoadStateForTesting();
        host().Reset();
        PLADI(host().ServiceTable(), 0);
        ImageHost::Get().Reset();
        ResetHeadlessDialogs();
    }

    std::string CleanRun(const Mode& mode) {
        Reload();
        OpenPlotSession(mode.session);
        host().ClearCalls();
        ReferenceJob();
        return host().Output();
    }

    int OutputFailureMessages() {
        int n = 0;
        for (const auto& m : host().Messages()) n += m == kOutputFailed;
        return n;
    }
};

TEST_F(FaultTest, WriteFailsAtEveryCall) {
    for (const Mode& mode : kModes) {
        const std::string clean = CleanRun(mode);
        const auto calls = host().CallsOf(CallKind::WriteOutput).size();
        ASSERT_GT(calls, 20u) << mode.name;
        for (std::size_t k = 1; k <= calls; ++k) {
            Reload();
            OpenPlotSession(mode.session);
            host().ClearCalls();
            host().writesBeforeFailure = static_cast<std::int64_t>(k - 1);
            ReferenceJob();
            ASSERT_EQ(OutputFailureMessages(), 1) << mode.name << " call " << k;
            ASSERT_EQ(JobState.ErrorLatch, kLatchOutput) << mode.name << " call " << k;
            ASSERT_EQ(PageState.CommandBuffer, nullptr);
            ASSERT_EQ(Image.RasterState.pageBuffer, nullptr);
            ASSERT_EQ(StartJob(), -1);  // latched until request 49

            // Request 49 and a new job: the same bytes as a clean run (checked
            // for every fifth failing call, and the last).
            if (k % 5 != 0 && k != calls) continue;
            host().writesBeforeFailure = -1;
            OpenPlotSession(mode.session);
            host().ClearCalls();
            ReferenceJob();
            ASSERT_EQ(host().Output(), clean) << mode.name << " call " << k;
        }
    }
}

TEST_F(FaultTest, HeapFailsAtEveryAllocation) {
    for (const Mode& mode : kModes) {
        const std::string clean = CleanRun(mode);
        for (int k = 0; k < 6; ++k) {
            Reload();
            OpenPlotSession(mode.session);
            host().ClearCalls();
            FailAllocationsAfterForTesting(k);
            ReferenceJob();
            FailAllocationsAfterForTesting(-1);
            if (k == 0) {
                // No CommandBuffer: the job start fails with the memory message.
                ASSERT_EQ(JobState.ErrorLatch, kLatchOutput);
                ASSERT_TRUE(host().CallsOf(CallKind::WriteOutput).empty());
            } else {
                // A raster buffer missing: the image is refused, the job goes on.
                ASSERT_EQ(JobState.ErrorLatch, 0) << mode.name << " allocation " << k;
                const std::string out = host().Output();
                ASSERT_EQ(out.substr(out.size() - 10), clean.substr(clean.size() - 10));
            }
            ASSERT_EQ(Image.RasterState.pageBuffer, nullptr);
            host().ClearCalls();
            OpenPlotSession(mode.session);
            host().ClearCalls();
            ReferenceJob();
            ASSERT_EQ(host().Output(), clean) << mode.name << " allocation " << k;
        }
    }
}

TEST_F(FaultTest, RowFetchFailsOrStopsAtEveryLine) {
    for (const Mode& mode : kModes) {
        const std::string clean = CleanRun(mode);
        const int lines = static_cast<int>(ImageHost::Get().requests.size());
        ASSERT_GT(lines, 10);
        for (int k = 0; k <= lines; k += 5) {
            for (bool fail : {true, false}) {
                Reload();
                OpenPlotSession(mode.session);
                host().ClearCalls();
                (fail ? ImageHost::Get().failAtCall : ImageHost::Get().stopAtCall) = k;
                ReferenceJob();
                ASSERT_EQ(JobState.ErrorLatch, 0);
                ASSERT_EQ(HeadlessMessageBoxes().size(), fail && k < lines ? 1u : 0u) << k;
                ASSERT_EQ(Image.RasterState.pageBuffer, nullptr);
                const std::string out = host().Output();
                ASSERT_EQ(out.substr(out.size() - 10), clean.substr(clean.size() - 10));
            }
        }
    }
}

TEST_F(FaultTest, RequestsOutOfOrder) {
    for (const Mode& mode : kModes) {
        Reload();
        OpenPlotSession(mode.session);
        host().ClearCalls();
        // Drawing before job start: no buffer, nothing stored, nothing sent.
        Point(3, 10, 10);
        Point(4, 20, 20);
        Packet polygon(33);
        polygon.Set<std::int16_t>(layout::polygon::kFill, 1)
            .Set<std::int16_t>(layout::polygon::kCount, 3);
        SendPlot(polygon);
        EndJob();
        EndJob();  // twice
        EXPECT_TRUE(host().CallsOf(CallKind::WriteOutput).empty()) << mode.name;

        // An image after an abort still goes out directly; the job end then
        // sends nothing more.
        OpenPlotSession(mode.session);
        StartJob();
        Packet abort(9);
        SendPlot(abort);
        ImageHost::Get().lineBytes = [](std::int32_t) { return std::string(300, '\x40'); };
        Packet image = ImagePacket(5000, 3000, 9000, 4000, 2, 100, 25);
        SendPlot(image);
        EndJob();
        EXPECT_EQ(JobState.ErrorLatch, kLatchOutput);
        EXPECT_EQ(Image.RasterState.pageBuffer, nullptr);
    }
}

TEST_F(FaultTest, PacketValuesAtTheirLimits) {
    for (const Mode& mode : kModes) {
        Reload();
        OpenPlotSession(mode.session);
        StartJob();
        for (std::uint16_t v : {0, 1, 32767, 32768, 65535})
            Point(4, v, static_cast<std::uint16_t>(65535 - v));
        for (double w : {-1e308, 0.0, 1e308, 1e-300}) {
            Packet width(41);
            width.Set<double>(layout::pen::kWidth, w);
            EXPECT_EQ(SendPlot(width).result(), 0);
        }
        for (std::int16_t n : {-32768, -1, 0, 1}) {
            Packet polygon(33);
            polygon.Set<std::int16_t>(layout::polygon::kCount, n);
            EXPECT_EQ(SendPlot(polygon).result(), 33);
        }
        // Corners and sizes at the ends of their range: refused or drawn, never a crash.
        for (auto corners :
             std::vector<std::array<std::int32_t, 4>>{{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
                                                      {INT32_MAX - 10, 0, INT32_MAX, 10},
                                                      {0, 0, 1, 1}}) {
            Packet image =
                ImagePacket(corners[0], corners[1], corners[2], corners[3], 2, INT32_MAX, 1);
            SendPlot(image);
            Point(8, 0, 0);
        }
        Packet image = ImagePacket(0, 0, 100, 100, 0, 1, 1, 0, 1, INT16_MIN);
        SendPlot(image);
        Point(8, 0, 0);
        EndJob();
        EXPECT_EQ(Image.RasterState.pageBuffer, nullptr);
    }
}

}  // namespace
}  // namespace varnu::testing
