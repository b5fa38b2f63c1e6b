// A CAD host loads the module once and plots many jobs through it, changing
// the data mode, the resolution and the paper between them. A job's stream
// is the one a freshly loaded module writes for it, except for what the
// module keeps on purpose: the configuration the host set, the resolution in
// use and its RTL command, the last pen, width and line-type commands of the
// same data mode (sent again after an image that comes before the job's own)
// and the line-type count of requests 36 and 43. Each of these is tested on
// its own; every distinct stream is also read back by adihost render.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host_table.h"
#include "image_host.h"
#include "low_arena.h"
#include "reference_jobs.h"
#include "resource.h"
#include "test_host.h"
#include "varnu/config_record.h"
#include "varnu/headless_dialogs.h"
#include "varnu/packet_layouts.h"
#include "varnu/pladi.h"
#include "varnu/vcgl_commands.h"

namespace varnu::testing {
namespace {

namespace fs = std::filesystem;

using Record = std::array<std::uint8_t, kConfigRecordSize>;

constexpr const char* kSetupDialog = "DETAILCFG2_GER";   // driver request 21
constexpr const char* kDriverDialog = "DRIVERCFG2_GER";  // plot request 46

// The stored record: the defaults with these mode flags, changed by `change`.
Record MakeRecord(std::uint16_t modeFlags, const std::function<void(ConfigRecord&)>& change = {}) {
    ConfigRecord r = DefaultConfigRecord(0);
    r.modeFlags = modeFlags;
    if (change) change(r);
    Record bytes{};
    EncodeConfigRecord(r, bytes.data());
    return bytes;
}

// Both data modes at every resolution the record can name (VCGL+MMR draws
// images of 600 and 300 dpi records at 400 and 200).
struct Setting {
    const char* name;
    std::uint16_t modeFlags;
    bool vcgl() const { return (modeFlags & kModeVcgl) != 0; }
};
const Setting kSettings[] = {
    {"rtl-600", kResolution600},
    {"rtl-400", kResolution400},
    {"rtl-300", kResolution300},
    {"rtl-200", kResolution200},
    {"vcgl-400", kModeVcgl | kResolution400},
    {"vcgl-200", kModeVcgl | kResolution200},
    {"vcgl-600", kModeVcgl | kResolution600},
    {"vcgl-300", kModeVcgl | kResolution300},
};

// Drawing requests.
void Point(std::int16_t code, std::uint16_t x, std::uint16_t y) {
    Packet p(code);
    p.Set<std::uint16_t>(layout::point::kX, x).Set<std::uint16_t>(layout::point::kY, y);
    SendPlot(p);
}
void Move(std::uint16_t x, std::uint16_t y) {
    Point(3, x, y);
}
void Draw(std::uint16_t x, std::uint16_t y) {
    Point(4, x, y);
}
void PenUp() {
    Packet p(8);
    SendPlot(p);
}
void Pen(std::uint16_t pen) {
    Packet p(5);
    SendPlot(p.Set<std::uint16_t>(layout::pen::kPen, pen));
}
void LineType(std::uint16_t type) {
    Packet p(7);
    SendPlot(p.Set<std::uint16_t>(layout::pen::kLineType, type));
}
void Width(double inches) {
    Packet p(41);
    SendPlot(p.Set<double>(layout::pen::kWidth, inches));
}
void LineTypeCount(std::int16_t count) {
    Packet p(36);
    SendPlot(p.Set<std::int16_t>(layout::pen::kLineTypeCount, count));
}
void Triangle(std::int16_t fill, std::uint16_t x, std::uint16_t y) {
    Packet p(33);
    p.Set<std::int16_t>(layout::polygon::kFill, fill).Set<std::int16_t>(layout::polygon::kCount, 3);
    const std::uint16_t v[] = {x,
                               y,
                               static_cast<std::uint16_t>(x + 1500),
                               y,
                               static_cast<std::uint16_t>(x + 700),
                               static_cast<std::uint16_t>(y + 1200)};
    for (int i = 0; i < 6; ++i) p.Set<std::uint16_t>(layout::polygon::kVertices + 2 * i, v[i]);
    SendPlot(p);
}
// Request 52; the next request draws it.
void ColourImage(std::int32_t x0, std::int32_t y0) {
    ImageHost::Get().lineBytes = [](std::int32_t line) {
        std::string s;
        for (int x = 0; x < 40; ++x) {
            s += static_cast<char>(x * 6);
            s += static_cast<char>((line * 5 + x) & 255);
            s += static_cast<char>((x ^ line) * 3);
        }
        return s;
    };
    Packet image = ImagePacket(x0, y0, x0 + 1000, y0 + 500, 2, 40, 20);
    SendPlot(image);
}
void BilevelImage(std::int32_t x0, std::int32_t y0) {
    ImageHost::Get().lineBytes = [](std::int32_t line) {
        std::string s;
        for (int x = 0; x < 48; ++x) s += static_cast<char>((x + line) % 5 == 0 ? 1 : 0);
        return s;
    };
    Packet image = ImagePacket(x0, y0, x0 + 800, y0 + 600, 0, 48, 16, 0, 1, 5);
    SendPlot(image);
}

// Pens, a line type and a width before anything is drawn, lines, a polygon
// and an image. The last commands of their kinds: pen 5, width 0.02 inch,
// line type 2 (solid while no line-type count is set).
void VectorsFirst() {
    Pen(3);
    LineType(2);
    Width(0.02);
    Move(1000, 1000);
    Draw(5000, 1200);
    Draw(5200, 4000);
    PenUp();
    Triangle(1, 6000, 1000);
    ColourImage(2000, 5000);
    Pen(5);
    Move(100, 100);
    Draw(9000, 100);
    Draw(9000, 7000);
    PenUp();
}

// An image before any pen, width or line-type request, then vectors.
void ImageFirst() {
    BilevelImage(3000, 3000);
    Move(500, 500);
    Draw(2500, 700);
    Pen(2);
    Width(0.01);
    Draw(2500, 2500);
    PenUp();
}

// Line types 1 to 4 drawn without a line-type count of the job's own.
void LineTypes() {
    Pen(1);
    for (std::uint16_t type = 1; type <= 4; ++type) {
        LineType(type);
        Move(1000, static_cast<std::uint16_t>(1000 * type));
        Draw(8000, static_cast<std::uint16_t>(1000 * type));
        PenUp();
    }
}

// What the replay of VectorsFirst's last commands sends, as its data mode
// writes them: pen (the black pen: 7 in RTL/GL2, 255 in VCGL+MMR), host pen, width, line type.
std::string VectorsFirstReplay(bool vcgl) {
    if (!vcgl) return "SP7PW0.508LT";
    return Bytes(
        "\x41\x01\x00\xFF"
        "\x47\x01\x00\x05"
        "\x40\x01\x00\x08"
        "\x43\x01\x00\x00");
}

// Indices 0..k-1 in an order that has each follow each (itself too)
// exactly once: a de Bruijn sequence of order 2, closed into a walk.
std::vector<int> EveryPairOnce(int k) {
    std::vector<int> walk, a(3, 0);
    std::function<void(int, int)> extend = [&](int t, int p) {
        if (t > 2) {
            if (2 % p == 0)
                for (int j = 1; j <= p; ++j) walk.push_back(a[j]);
            return;
        }
        a[t] = a[t - p];
        extend(t + 1, p);
        for (int j = a[t - p] + 1; j < k; ++j) {
            a[t] = j;
            extend(t + 1, t);
        }
    };
    extend(1, 1);
    walk.push_back(walk.front());
    return walk;
}

struct Job {
    std::string name;
    Record record{};  // stored with the host before the job
    std::function<void()> draw;
    std::function<void()> setupDialog;   // queued before driver request 21; 47 then stores
    std::function<void()> driverDialog;  // queued before plot request 46, sent after 29
    bool keepStored = false;             // the host hands over what it stored last
};

// Whether `actual` is `expected` with `inserted` put in at one place: where,
// or npos.
std::size_t InsertionPoint(const std::string& expected, const std::string& actual,
                           const std::string& inserted) {
    if (actual.size() != expected.size() + inserted.size()) return std::string::npos;
    std::size_t prefix = 0;
    while (prefix < expected.size() && expected[prefix] == actual[prefix]) ++prefix;
    for (std::size_t at = prefix + 1; at-- > 0;) {
        if (actual.compare(at, inserted.size(), inserted) == 0 &&
            actual.compare(at + inserted.size(), std::string::npos, expected, at) == 0)
            return at;
    }
    return std::string::npos;
}

class SessionTest : public DriverTest {
  protected:
    using Opening = hostkit::JobOpening;

    void SetUp() override {
        DriverTest::SetUp();
        ImageHost::Get().Reset();
        ResetHeadlessDialogs();
        arenaMark_ = host().arena().Mark();
        for (const Setting& setting : kSettings) Learn(MakeRecord(setting.modeFlags));
    }
    void TearDown() override {
        EXPECT_TRUE(HeadlessErrors().empty());
        RenderDistinctStreams();
    }

    // One job as a CAD host runs it. Configuration time, only when the job
    // works the setup dialog: 50, 11, 21 with the dialog, 47 to store. Then
    // the plot: 49, 50, 29, 46 when its dialog is worked, 47 and 48 with the
    // page data the host learnt when the record was configured (from 21, or
    // from 46 for the record 46 stores), 30, the drawing, 2. Returns what the
    // host received; the stream of a job that passed is kept for rendering.
    std::string Run(const Job& job, bool expectPass = true) {
        if (!job.keepStored) {
            host().storedConfig = job.record;
            host().hasStoredConfig = true;
        }
        host().ClearCalls();
        ImageHost::Get().Reset();
        ResetHeadlessDialogs();
        if (job.setupDialog) {
            job.setupDialog();
            const Opening reported = Configure();
            Packet save(47);
            SendDriver(save);
            EXPECT_EQ(save.result(), 0) << job.name;
            pageData_[host().storedConfig] = reported;
        }
        const auto known = pageData_.find(host().storedConfig);
        EXPECT_NE(known, pageData_.end()) << job.name << ": a record the host never configured";
        Opening opening = known != pageData_.end() ? known->second : Opening{};
        if (job.driverDialog) {
            opening.afterOpen = [this, &job, &opening]() -> std::string {
                job.driverDialog();
                Packet p(46);
                SendPlot(p);
                if (p.result() != 19) return "request 46 answered " + std::to_string(p.result());
                // The page 46 reports, for 47 and 48 and for the record it stored.
                namespace pg = layout::page;
                opening.extentX = p.Get<double>(pg::kExtentX);
                opening.extentY = p.Get<double>(pg::kExtentY);
                opening.resolution = p.Get<double>(pg::kResolutionX);
                Opening learnt;
                learnt.extentX = opening.extentX;
                learnt.extentY = opening.extentY;
                learnt.resolution = opening.resolution;
                pageData_[host().storedConfig] = learnt;
                return "";
            };
        }
        std::string error;
        const bool opened = hostkit::OpenPlotJob(&PlotRequest, opening, &error) == 0;
        if (expectPass) {
            EXPECT_TRUE(opened) << job.name << ": " << error;
        }
        job.draw();
        Packet end(2);
        SendPlot(end);
        if (expectPass) {
            EXPECT_EQ(PendingUserActions(), 0u) << job.name;
            EXPECT_TRUE(HeadlessMessageBoxes().empty()) << job.name;
        }
        host().arena().ReleaseTo(arenaMark_);
        std::string out = host().Output();
        if (expectPass && opened) Keep(job.name, out);
        return out;
    }

    // The job's stream from a freshly loaded module whose host has stored
    // the job's record (or, with keepStored, the record stored now). The
    // module is loaded afresh: call before a session, or between sessions.
    std::string Fresh(const Job& job) {
        const Record stored = job.keepStored ? host().storedConfig : job.record;
        const std::string key = job.name + std::string(stored.begin(), stored.end());
        const auto found = fresh_.find(key);
        if (found != fresh_.end()) return found->second;
        const bool had = host().hasStoredConfig;
        const Record before = host().storedConfig;
        host().storedConfig = stored;
        host().hasStoredConfig = true;
        Learn(stored);
        ReloadModule();
        const std::string out = Run(job);
        host().storedConfig = before;
        host().hasStoredConfig = had;
        return fresh_[key] = out;
    }

    // The host configures the module with a record: driver requests 50, 11
    // and 21 in a module loaded for it; what 21 reports is kept as the
    // record's page data.
    void Learn(const Record& record) {
        if (pageData_.count(record) != 0) return;
        ReloadModule();
        host().storedConfig = record;
        pageData_[record] = Configure();
    }
    // 50, 11 and 21; returns the page data 21 reports.
    Opening Configure() {
        Packet messages(50);
        SendDriver(messages);
        Packet version(11);
        SendDriver(version.Set<std::int16_t>(layout::version::kVersion, 14));
        Packet configure(21);
        SendDriver(configure);
        EXPECT_EQ(configure.result(), 0);
        Opening o;
        o.extentX = configure.Get<double>(layout::configure::kExtentX);
        o.extentY = configure.Get<double>(layout::configure::kExtentY);
        o.resolution = configure.Get<double>(layout::configure::kResolutionX);
        return o;
    }

    void Keep(const std::string& label, const std::string& stream) {
        streams_.emplace(stream, label);
    }

    // adihost render reads every distinct stream kept (at 2 dpi: the
    // reading is the check, not the picture).
    void RenderDistinctStreams() {
#ifdef ADIHOST_PATH
        const fs::path dir = fs::temp_directory_path() /
                             ("session-test-" + std::to_string(getpid()) + "-" +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        const std::string stream = (dir / "job.prn").string(), err = (dir / "err.txt").string();
        for (const auto& [bytes, label] : streams_) {
            std::ofstream(stream, std::ios::binary) << bytes;
            const std::string command = std::string(ADIHOST_PATH) + " --config " +
                                        (dir / "varnu.cfg").string() + " render " + stream +
                                        " -o - --dpi 2 > /dev/null 2> " + err;
            const int raw = std::system(command.c_str());
            std::ifstream in(err);
            std::stringstream text;
            text << in.rdbuf();
            EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0)
                << label << " (" << bytes.size() << " bytes): " << text.str();
        }
        fs::remove_all(dir);
#endif
        streams_.clear();
    }

    static Job JobOf(const Setting& s, const char* drawingName, void (*draw)()) {
        return Job{
            std::string(s.name) + "/" + drawingName, MakeRecord(s.modeFlags), draw, {}, {}, false};
    }

  private:
    std::size_t arenaMark_ = 0;
    std::map<Record, Opening> pageData_;          // what 21 or 46 reported for a record
    std::map<std::string, std::string> fresh_;    // key: name and stored record
    std::map<std::string, std::string> streams_;  // stream -> the job that wrote it first
};

// The reference jobs through their own host (the one the Windows module is
// compared with), in an order that has every job follow every other once.
TEST_F(SessionTest, ReferenceJobsAfterEveryOtherWriteWhatAFreshModuleWrites) {
    static hostkit::LowArena arena(std::size_t{256} << 20);
    auto lowAllocate = [](std::size_t size) { return arena.TryAllocate(size); };
    const auto& jobs = reference::Jobs();
    auto run = [&](std::size_t i) {
        reference::JobResult r = reference::RunJob(jobs[i], &PLADI, lowAllocate);
        arena.Reset();
        EXPECT_EQ(r.error, "") << jobs[i].name;
        EXPECT_TRUE(r.messages.empty()) << jobs[i].name;
        return r.output;
    };
    std::vector<std::string> fresh;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        ReloadModule();
        fresh.push_back(run(i));
        Keep(jobs[i].name, fresh.back());
    }

    const int k = static_cast<int>(jobs.size());
    const std::vector<int> walk = EveryPairOnce(k);
    std::set<std::pair<int, int>> pairs;
    for (std::size_t i = 1; i < walk.size(); ++i) pairs.emplace(walk[i - 1], walk[i]);
    ASSERT_EQ(pairs.size(), static_cast<std::size_t>(k * k));

    ReloadModule();
    for (std::size_t i = 0; i < walk.size(); ++i) {
        const auto job = static_cast<std::size_t>(walk[i]);
        const std::string out = run(job);
        EXPECT_EQ(reference::FirstDifference(fresh[job], out), "")
            << jobs[job].name << " after " << (i > 0 ? jobs[walk[i - 1]].name : "the load");
    }
}

// Every setting after every other, vectors before the first image: no
// image can show a command of an earlier job.
TEST_F(SessionTest, EverySettingAfterEveryOtherWritesWhatAFreshModuleWrites) {
    std::vector<Job> jobs;
    for (const Setting& s : kSettings) jobs.push_back(JobOf(s, "vectors", VectorsFirst));
    std::vector<std::string> fresh;
    for (const Job& job : jobs) fresh.push_back(Fresh(job));
    for (std::size_t i = 1; i < fresh.size(); ++i) ASSERT_NE(fresh[i], fresh[0]);
    const std::vector<int> walk = EveryPairOnce(static_cast<int>(jobs.size()));
    ReloadModule();
    for (std::size_t i = 0; i < walk.size(); ++i) {
        const auto j = static_cast<std::size_t>(walk[i]);
        EXPECT_EQ(reference::FirstDifference(fresh[j], Run(jobs[j])), "")
            << jobs[j].name << " after " << (i > 0 ? jobs[walk[i - 1]].name : "the load");
    }
}

// The replay record carries within a data mode: an image that comes before
// the job's first pen, width or line type sends the last ones of the job
// before, exactly as that job sent them, and only there.
TEST_F(SessionTest, ImageFirstReplaysTheLastCommandsOfTheSameMode) {
    for (const Setting& before : kSettings) {
        for (const Setting& s : kSettings) {
            if (before.vcgl() != s.vcgl()) continue;
            const Job first = JobOf(before, "vectors", VectorsFirst);
            const Job job = JobOf(s, "image-first", ImageFirst);
            const std::string fresh = Fresh(job);
            ReloadModule();
            Run(first);
            const std::string out = Run(job);
            const std::string replay = VectorsFirstReplay(s.vcgl());
            const std::size_t at = InsertionPoint(fresh, out, replay);
            ASSERT_NE(at, std::string::npos) << job.name << " after " << first.name << "\n"
                                             << reference::FirstDifference(fresh, out);
            // Right behind the image: after its raster data, before the
            // move that drew it.
            const std::string raster =
                s.vcgl() ? std::string(vcgl::kDataMode0207.begin(), vcgl::kDataMode0207.end())
                         : std::string("\x1b*rC");
            EXPECT_LT(fresh.find(raster), at) << job.name;
        }
    }
}

// The fault a CAD host met: an RTL/GL2 job, then in the same module a
// VCGL+MMR job that begins with an image. Its restoration after the image
// must not carry the RTL job's "PW0.508" into the binary commands.
TEST_F(SessionTest, VcglJobOpeningWithAnImageAfterAnRtlJob) {
    const Job rtl = JobOf(kSettings[0], "vectors", VectorsFirst);
    const Job vcgl = JobOf(kSettings[4], "image-first", ImageFirst);
    const std::string fresh = Fresh(vcgl);
    ReloadModule();
    Run(rtl);
    const std::string out = Run(vcgl);
    EXPECT_EQ(fresh.find("PW0.508"), std::string::npos);
    EXPECT_EQ(out.find("PW0.508"), std::string::npos);
    EXPECT_EQ(out.find("SP7"), std::string::npos);
    EXPECT_EQ(reference::FirstDifference(fresh, out), "");
}

// Nothing of the other mode's commands crosses over: a job that opens with
// an image after a job in the other data mode writes a fresh module's
// stream, at every resolution, in both directions, and also when a job of
// the image's mode came before the other-mode job.
TEST_F(SessionTest, ImageFirstAfterTheOtherModeReplaysNothing) {
    for (const Setting& before : kSettings) {
        for (const Setting& s : kSettings) {
            if (before.vcgl() == s.vcgl()) continue;
            const Job sameMode = JobOf(s, "vectors", VectorsFirst);
            const Job other = JobOf(before, "vectors", VectorsFirst);
            const Job job = JobOf(s, "image-first", ImageFirst);
            const std::string fresh = Fresh(job);
            ReloadModule();
            Run(other);
            EXPECT_EQ(reference::FirstDifference(fresh, Run(job)), "")
                << job.name << " after " << other.name;
            ReloadModule();
            Run(sameMode);
            Run(other);
            EXPECT_EQ(reference::FirstDifference(fresh, Run(job)), "")
                << job.name << " after " << sameMode.name << " and " << other.name;
        }
    }
}

// The line-type count of requests 36 and 43 stays with the module: a job
// drawing line types without one of its own draws them as if it had sent
// the count itself, whichever data mode set it.
TEST_F(SessionTest, LineTypeCountCarriesToTheNextJob) {
    for (const Setting& before : {kSettings[0], kSettings[4]}) {
        for (const Setting& s : {kSettings[2], kSettings[5]}) {
            for (bool byModelRefresh : {false, true}) {
                Job counting = JobOf(before, "counting", [] {
                    LineTypeCount(8);
                    VectorsFirst();
                });
                if (byModelRefresh) {
                    counting.draw = [] {
                        Packet p(43);
                        SendPlot(p.Set<std::uint8_t>(layout::pen::kLineTypeCount8, 8));
                        VectorsFirst();
                    };
                }
                const Job job = JobOf(s, "line-types", LineTypes);
                Job counted = JobOf(s, "counted-line-types", [] {
                    LineTypeCount(8);
                    LineTypes();
                });
                const std::string fresh = Fresh(job), expected = Fresh(counted);
                ASSERT_NE(fresh, expected) << job.name;
                ReloadModule();
                Run(counting);
                EXPECT_EQ(reference::FirstDifference(expected, Run(job)), "")
                    << job.name << " after " << before.name << (byModelRefresh ? " (43)" : " (36)");
            }
        }
    }
}

// The resolution in use and its RTL command stay with the module: a record
// that names no resolution draws its images at the last one selected, and
// otherwise writes what a fresh module writes for that resolution. (Not at
// 600 dpi: an image of a 600 dpi record leaves out its first line.)
TEST_F(SessionTest, ResolutionOfTheOtherModeDoesNotCarry) {
    // Without a resolution of its own a job after one of the other mode
    // writes what it writes from a fresh module: its image is refused.
    for (const Setting& before : kSettings) {
        const bool vcgl = (before.modeFlags & kModeVcgl) != 0;
        Job unnamed = JobOf(kSettings[vcgl ? 0 : 4], "vectors", VectorsFirst);
        unnamed.name = "no resolution/vectors";
        unnamed.record = MakeRecord(vcgl ? 0 : kModeVcgl);
        const std::string expected = Fresh(unnamed);
        ReloadModule();
        Run(JobOf(before, "vectors", VectorsFirst));
        EXPECT_EQ(reference::FirstDifference(expected, Run(unnamed)), "") << before.name;
    }
}

TEST_F(SessionTest, ResolutionInUseCarriesToARecordWithoutOne) {
    for (const Setting& s : {kSettings[1], kSettings[2], kSettings[3]}) {
        const Job named = JobOf(s, "vectors", VectorsFirst);
        Job unnamed = JobOf(s, "vectors", VectorsFirst);
        unnamed.name = "no resolution/vectors";
        unnamed.record = MakeRecord(0);
        const std::string expected = Fresh(named);
        // A fresh module has none: the image is refused, the vectors drawn.
        const std::string alone = Fresh(unnamed);
        EXPECT_EQ(alone.find("\x1b*r1A"), std::string::npos);
        EXPECT_NE(alone.find("PW0.508"), std::string::npos);
        ReloadModule();
        Run(named);
        EXPECT_EQ(reference::FirstDifference(expected, Run(unnamed)), "") << s.name;
    }
}

// Paper changed through the setup dialog (driver request 21, stored by
// 47) and through the driver dialog during the plot opening (46): the jobs
// that follow plot on the record the host stored, as a fresh module does.
TEST_F(SessionTest, PaperChangedThroughTheDialogsCarriesAsTheStoredRecord) {
    auto pick = [](const char* dialog, int row) {
        return [dialog, row] {
            QueueUserAction({UserActionKind::Select, dialog, IDC_PAPER, row, {}, 0, 0, nullptr});
            QueueUserAction({UserActionKind::Click, dialog, IDC_OK, 0, {}, 0, 0, nullptr});
        };
    };
    for (const Setting& s : {kSettings[0], kSettings[4]}) {
        const Job plain = JobOf(s, "vectors", VectorsFirst);
        Job setup = plain;
        setup.name += " after the setup dialog picked row 4";
        setup.setupDialog = pick(kSetupDialog, 4);
        Job driver = plain;
        driver.name += " with the driver dialog picking row 11";
        driver.keepStored = true;
        driver.driverDialog = pick(kDriverDialog, 11);
        Job next = plain;
        next.name += " on the stored record";
        next.keepStored = true;

        // The session: a plain job, the setup dialog's paper, the driver
        // dialog's paper, then a job on what the host stored.
        const std::string freshPlain = Fresh(plain);
        ReloadModule();
        const std::string plainOut = Run(plain);
        const std::string setupOut = Run(setup);
        const Record afterSetup = host().storedConfig;
        const std::string driverOut = Run(driver);
        const Record afterDriver = host().storedConfig;
        const std::string nextOut = Run(next);
        ConfigRecord r{};
        DecodeConfigRecord(afterSetup.data(), &r);
        EXPECT_EQ(r.paperIndex, 5) << s.name;
        DecodeConfigRecord(afterDriver.data(), &r);
        EXPECT_EQ(r.paperIndex, 12) << s.name;
        EXPECT_NE(setupOut, plainOut);
        EXPECT_NE(driverOut, setupOut);

        // Each against a fresh module whose host stored the same record.
        EXPECT_EQ(reference::FirstDifference(freshPlain, plainOut), "") << plain.name;
        EXPECT_EQ(reference::FirstDifference(Fresh(setup), setupOut), "") << setup.name;
        host().storedConfig = afterSetup;
        EXPECT_EQ(reference::FirstDifference(Fresh(driver), driverOut), "") << driver.name;
        host().storedConfig = afterDriver;
        EXPECT_EQ(reference::FirstDifference(Fresh(next), nextOut), "") << next.name;
    }
}

// A job that fails (the host's output failing at a call, request 9, or a
// request 49 in the middle of the drawing) leaves nothing behind: the jobs
// after it, in either data mode, write a fresh module's streams (those that
// set their pens before any image; what an image-first job replays is
// above).
TEST_F(SessionTest, FailedJobsLeaveNothingBehind) {
    for (const Setting& s : {kSettings[0], kSettings[3], kSettings[4], kSettings[5]}) {
        const Job job = JobOf(s, "vectors", VectorsFirst);
        const Job other = JobOf(s.vcgl() ? kSettings[2] : kSettings[5], "vectors", VectorsFirst);
        const std::string clean = Fresh(job), freshOther = Fresh(other);
        ReloadModule();
        Run(job);
        const auto calls = host().CallsOf(CallKind::WriteOutput).size();
        ASSERT_GT(calls, 10u);

        struct Failure {
            std::string name;
            std::function<void()> arm;   // before the job
            std::function<void()> draw;  // the failing job's drawing
        };
        const std::vector<Failure> failures = {
            {"output fails at call 1", [] { TestHost::Get().writesBeforeFailure = 0; },
             VectorsFirst},
            {"output fails halfway",
             [calls] {
                 TestHost::Get().writesBeforeFailure = static_cast<std::int64_t>(calls / 2);
             },
             VectorsFirst},
            {"output fails at the last call",
             [calls] {
                 TestHost::Get().writesBeforeFailure = static_cast<std::int64_t>(calls - 1);
             },
             VectorsFirst},
            {"request 9 halfway", [] {},
             [] {
                 Pen(4);
                 Width(0.03);
                 Move(100, 100);
                 Draw(3000, 3000);
                 Packet abort(9);
                 SendPlot(abort);
                 ColourImage(1000, 1000);
                 Draw(4000, 100);
             }},
            {"request 49 halfway", [] {},
             [] {
                 Pen(2);
                 Move(100, 100);
                 Draw(3000, 3000);
                 Packet reset(49);
                 reset.Set<std::int16_t>(layout::reset::kHostKind, 1)
                     .Set<std::uint8_t>(layout::reset::kHostRelease, 2);
                 SendPlot(reset);
                 Draw(4000, 100);
                 ColourImage(1000, 1000);
             }},
        };
        for (const Failure& f : failures) {
            SCOPED_TRACE(std::string(s.name) + ", " + f.name);
            Job failing = job;
            failing.draw = f.draw;
            ReloadModule();
            Run(job);
            f.arm();
            Run(failing, false);
            host().writesBeforeFailure = -1;
            EXPECT_EQ(reference::FirstDifference(freshOther, Run(other)), "");
            EXPECT_EQ(reference::FirstDifference(clean, Run(job)), "");
            f.arm();
            Run(failing, false);
            host().writesBeforeFailure = -1;
            EXPECT_EQ(reference::FirstDifference(clean, Run(job)), "");
        }
    }
}

}  // namespace
}  // namespace varnu::testing
