#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "preview/readers.h"
#include "varnu/vcgl_commands.h"

namespace varnu::preview {

namespace {

constexpr double kLift = std::numeric_limits<double>::quiet_NaN();

// The dashes of one segment (from `phase` into the pattern) as pen-down runs.
void DashSegment(const Point& a, const Point& b, double length, const std::vector<double>& pattern,
                 double period, double t0, double t1, double phase, std::vector<Point>* out) {
    double at = t0 * length;
    const double end = t1 * length;
    double into = std::fmod(phase + at, period);
    std::size_t i = 0;
    while (into >= pattern[i]) into -= pattern[i], i = (i + 1) % pattern.size();
    while (at < end) {
        const double step = std::min(pattern[i] - into, end - at);
        if (i % 2 == 0) {
            const double s = at / length, e = (at + step) / length;
            out->push_back({a.x + (b.x - a.x) * s, a.y + (b.y - a.y) * s});
            out->push_back({a.x + (b.x - a.x) * e, a.y + (b.y - a.y) * e});
            out->push_back({kLift, kLift});
        }
        at += step;
        into = 0;
        i = (i + 1) % pattern.size();
    }
}

}  // namespace

void StrokeDashed(Sheet& sheet, const std::vector<Point>& points, double width, std::uint8_t ink,
                  Dashes* dashes, const Rect& clip) {
    double period = 0;
    for (double d : dashes->lengths) period += d;
    // A pattern shorter than two pixels prints as a line at this dpi.
    if (dashes->lengths.empty() || !(period >= 2) || !std::isfinite(period)) {
        sheet.Stroke(points, width, ink, clip);
        return;
    }
    const double reach = std::clamp(width, 0.5, 1e5) / 2 + 2;
    const Rect r{clip.x0 - reach, clip.y0 - reach, clip.x1 + reach, clip.y1 + reach};
    std::vector<Point> runs;
    for (std::size_t i = 1; i < points.size(); ++i) {
        const Point a = points[i - 1], b = points[i];
        const double length = std::hypot(b.x - a.x, b.y - a.y);
        if (!std::isfinite(length) || length == 0) continue;
        std::vector<double> pattern = dashes->lengths;
        double phase = dashes->phase, t0, t1;
        if (dashes->adaptive) {  // whole patterns, stretched to the segment
            const double n = std::max(1.0, std::round(length / period));
            for (double& d : pattern) d *= length / (n * period);
            phase = 0;
        }
        double whole = 0;
        for (double d : pattern) whole += d;
        if (SegmentInside(a, b, r, &t0, &t1))
            DashSegment(a, b, length, pattern, whole, t0, t1, phase, &runs);
        if (!dashes->adaptive) dashes->phase = std::fmod(dashes->phase + length, period);
        if (runs.size() > 4096) sheet.Stroke(runs, width, ink, clip), runs.clear();
    }
    sheet.Stroke(runs, width, ink, clip);
}

std::vector<double> LineTypePercent(int type) {
    if (type < 1 || type > 8) return {};
    const auto& p = varnu::vcgl::kLineTypePatterns[type - 1];
    std::vector<double> lengths;
    for (int i = 4; i + 1 < p.length; i += 2) lengths.push_back(p.bytes[i] << 8 | p.bytes[i + 1]);
    // The first and last entries are halves of one dash around the pattern's end.
    if (lengths.size() >= 3) {
        lengths.front() += lengths.back();
        lengths.pop_back();
    }
    return lengths;
}

std::shared_ptr<Sheet> OpenSheet(double along, double across, double unitsPerInch,
                                 const Options& options, std::uint64_t at, Input& in) {
    const double x = along / unitsPerInch, y = across / unitsPerInch;
    // The longest sheet is 15,000 mm of the widest roll (36 inches); a
    // stream whose host steps are the other data mode's (a job whose mode
    // changed after its page was set up) describes it up to 2.54 times as large.
    if (!(along > 0) || !(across > 0) || !(x <= 1524) || !(y <= 92)) {
        char size[64];
        std::snprintf(size, sizeof size, "%.4g x %.4g in", x, y);
        throw StreamError(at, std::string("a sheet of ") + size + ", larger than any roll takes");
    }
    // A byte a device pixel of the whole sheet at 600 dpi (eight raw bitmaps
    // of it) and a gigabyte of vectors: more than any job for this sheet takes.
    const std::uint64_t limit =
        options.maxStreamBytes != 0
            ? options.maxStreamBytes
            : (std::uint64_t{1} << 30) + static_cast<std::uint64_t>(x * y * 600 * 600);
    in.SetLimit(limit);
    return std::make_shared<Sheet>(along, across, options.dpi / unitsPerInch);
}

}  // namespace varnu::preview
