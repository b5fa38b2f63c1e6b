#include "support.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "model/clip.h"
#include "model/send.h"
#include "session/driver.h"
#include "session/plot_session.h"

// Under LeakSanitizer (the asan build): fontconfig, which cairo's text uses,
// keeps its caches for the life of the process by design; libcups 2.4
// leaks two options it adds while cupsMarkOptions builds a PPD's cache
// (libcups has no frame pointers: the leak is seen in cupsAddOption).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:cupsAddOption\n";
}

namespace varnu::host::testing {

void HostTest::SetUp() {
    dir_ = fs::temp_directory_path() /
           ("host-test-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
}

void HostTest::TearDown() {
    fs::remove_all(dir_);
}

void HostTest::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
}

std::string HostTest::Read(const std::string& path) {
    return ReadFile(path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool HostTest::AnyNameContains(const std::string& part) const {
    for (const auto& entry : fs::directory_iterator(dir_))
        if (entry.path().filename().string().find(part) != std::string::npos) return true;
    return false;
}

RecordBytes Record(bool vcgl, int dpi) {
    ConfigRecord c = DefaultConfigRecord(0);
    c.modeFlags =
        static_cast<std::uint16_t>((vcgl ? kModeVcgl : 0) | (dpi == 400   ? kResolution400
                                                             : dpi == 300 ? kResolution300
                                                             : dpi == 200 ? kResolution200
                                                                          : kResolution600));
    RecordBytes bytes;
    EncodeConfigRecord(c, bytes.data());
    return bytes;
}

namespace {

// Each drawn segment, and each area, in host steps.
struct Geometry {
    std::vector<std::pair<Point2, Point2>> segments;
    std::vector<std::pair<int, Ring>> areas;  // pen, outline
};

Geometry GeometryOf(const Plot& plot) {
    Geometry g;
    Point2 at{0, 0};
    for (const Step& s : plot.steps()) {
        if (s.kind == Step::Kind::Move) at = {double(s.a), double(s.b)};
        if (s.kind == Step::Kind::Draw) {
            const Point2 to{double(s.a), double(s.b)};
            g.segments.emplace_back(at, to);
            at = to;
        }
        if (s.kind == Step::Kind::Polygon) {
            Ring r;
            for (const auto& [x, y] : s.vertices) r.push_back({double(x), double(y)});
            g.areas.emplace_back(s.a, std::move(r));
        }
    }
    return g;
}

bool Inside(const Ring& r, Point2 p) {
    bool in = false;
    for (std::size_t i = 0, j = r.size() - 1; i < r.size(); j = i++)
        if ((r[i].y > p.y) != (r[j].y > p.y) &&
            p.x < (r[j].x - r[i].x) * (p.y - r[i].y) / (r[j].y - r[i].y) + r[i].x)
            in = !in;
    return in;
}

}  // namespace

InkBox BoxOf(const Plot& plot) {
    InkBox box;
    auto add = [&box](Point2 p) {
        box.left = std::min(box.left, p.x * kPixelsPerStep);
        box.right = std::max(box.right, p.x * kPixelsPerStep);
        box.bottom = std::min(box.bottom, p.y * kPixelsPerStep);
        box.top = std::max(box.top, p.y * kPixelsPerStep);
    };
    const Geometry g = GeometryOf(plot);
    for (const auto& [a, b] : g.segments) add(a), add(b);
    for (const auto& area : g.areas)
        for (const Point2& p : area.second) add(p);
    return box;
}

bool InkIn(const Plot& plot, double x0, double y0, double x1, double y1) {
    const double k = kPixelsPerMm / kPixelsPerStep;  // steps a millimetre
    const double l = x0 * k, b = y0 * k, r = x1 * k, t = y1 * k;
    auto in = [&](Point2 p) { return p.x >= l && p.x <= r && p.y >= b && p.y <= t; };
    const Geometry g = GeometryOf(plot);
    for (const auto& [from, to] : g.segments)
        for (int i = 0; i <= 200; ++i) {
            const double f = i / 200.0;
            if (in({from.x + f * (to.x - from.x), from.y + f * (to.y - from.y)})) return true;
        }
    for (const auto& area : g.areas) {
        for (const Point2& p : area.second)
            if (in(p)) return true;
        for (int i = 0; i <= 8; ++i)
            for (int j = 0; j <= 8; ++j)
                if (Inside(area.second, {l + (r - l) * i / 8, b + (t - b) * j / 8})) return true;
    }
    return false;
}

int FillPenAt(const Plot& plot, double x, double y) {
    const double k = kPixelsPerMm / kPixelsPerStep;
    int pen = -1;
    for (const auto& area : GeometryOf(plot).areas)
        if (Inside(area.second, {x * k, y * k})) pen = area.first;
    return pen;
}

bool SameSteps(const Plot& a, const Plot& b) {
    if (a.steps().size() != b.steps().size()) return false;
    for (std::size_t i = 0; i < a.steps().size(); ++i) {
        const Step &s = a.steps()[i], &t = b.steps()[i];
        if (s.kind != t.kind || s.a != t.a || s.b != t.b || s.inches != t.inches ||
            s.vertices != t.vertices)
            return false;
    }
    return true;
}

DxfResult ReadDxfEntities(const std::string& dxf, const DxfOptions& options) {
    const bool whole = dxf.rfind("0\nSECTION", 0) == 0 || dxf.rfind("999", 0) == 0;
    DxfResult r;
    r.ok = ReadDxfText(whole ? dxf : "0\nSECTION\n2\nENTITIES\n" + dxf + "0\nENDSEC\n0\nEOF\n",
                       "ink.dxf", kSheet, options, &r.plot, &r.report, &r.error);
    EXPECT_TRUE(r.ok) << r.error;
    return r;
}

DxfOptions AtScale(double denominator) {
    DxfOptions o;
    o.scaleDenominator = denominator;
    return o;
}

std::string DxfLine(const std::string& layer, double x1, double y1, double x2, double y2) {
    return "0\nLINE\n8\n" + layer + "\n10\n" + std::to_string(x1) + "\n20\n" + std::to_string(y1) +
           "\n11\n" + std::to_string(x2) + "\n21\n" + std::to_string(y2) + "\n";
}

void InstallDriver() {
    static bool installed = false;
    if (installed) return;
    std::string error;
    ASSERT_TRUE(InstallHost(&error)) << error;
    EchoMessages(false);
    installed = true;
}

std::string StreamOf(const Plot& plot, const RecordBytes& record, std::string* error) {
    InstallDriver();
    UseConfigMemory(record);
    const std::string path =
        (fs::temp_directory_path() / ("host-stream-" + std::to_string(getpid()) + ".prn")).string();
    std::string why;
    // The same state before every measured job: the last pen, width and
    // line type a job sent are replayed after an image that comes first.
    Plot neutral("neutral");
    neutral.Pen(7);
    neutral.Width(0.25 / 25.4);
    neutral.LineType(0);
    neutral.Draw(10, 10);
    PlotOneJob(
        {path, {}, {}}, "", [&](const Sheet&, std::string* e) { return Send(neutral, false, e); },
        &why);
    const bool ok = PlotOneJob(
        {path, {}, {}}, "", [&](const Sheet&, std::string* e) { return Send(plot, false, e); },
        &why);
    if (error) *error = why;
    std::string bytes = ok ? ReadFile(path) : std::string();
    fs::remove(path);
    return bytes;
}

}  // namespace varnu::host::testing
