#include "readers/hpgl/fills.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "readers/hpgl/limits.h"

namespace varnu::host::hpgl {

namespace {

// Lines times edges one hatching may try.
constexpr double kMaxHatchWork = 5e7;

struct Crossing {
    double x;
    int winding;
};

// The spans of the line at height y inside the area: even-odd, or where
// the winding number is not zero.
std::vector<std::pair<double, double>> Spans(const std::vector<Ring>& rings, double y,
                                             bool nonzero) {
    std::vector<Crossing> crossings;
    for (const Ring& r : rings)
        for (std::size_t i = 0; i < r.size(); ++i) {
            const Point2 p = r[i], q = r[(i + 1) % r.size()];
            if ((p.y <= y) == (q.y <= y)) continue;
            crossings.push_back({p.x + (y - p.y) * (q.x - p.x) / (q.y - p.y), q.y > p.y ? 1 : -1});
        }
    std::sort(crossings.begin(), crossings.end(),
              [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
    std::vector<std::pair<double, double>> spans;
    int winding = 0;
    for (std::size_t i = 0; i + 1 < crossings.size(); ++i) {
        winding += nonzero ? crossings[i].winding : 1;
        const bool inside = nonzero ? winding != 0 : winding % 2 == 1;
        if (inside && crossings[i + 1].x > crossings[i].x)
            spans.emplace_back(crossings[i].x, crossings[i + 1].x);
    }
    return spans;
}

}  // namespace

bool Hatch(const std::vector<Ring>& rings, bool nonzero, double spacing, double angle, bool cross,
           const Stroke& style, Sink* sink) {
    if (!(spacing > 0)) return false;
    std::size_t edges = 0;
    for (const Ring& r : rings) edges += r.size();
    std::vector<std::vector<Ring>> turned(cross ? 2 : 1);
    double lines = 0;
    for (std::size_t k = 0; k < turned.size(); ++k) {
        const double a = (angle + 90.0 * static_cast<double>(k)) * M_PI / 180;
        const double c = std::cos(a), s = std::sin(a);
        double low = 1e300, high = -1e300;
        for (const Ring& r : rings) {
            Ring& t = turned[k].emplace_back();
            for (const Point2& p : r) {
                t.push_back({p.x * c + p.y * s, -p.x * s + p.y * c});  // hatching along x
                low = std::min(low, t.back().y), high = std::max(high, t.back().y);
            }
        }
        lines += (high - low) / spacing + 1;
    }
    if (!(lines <= static_cast<double>(kMaxHatchLines)) ||
        lines * static_cast<double>(edges) > kMaxHatchWork)
        return false;
    for (std::size_t k = 0; k < turned.size(); ++k) {
        const double a = (angle + 90.0 * static_cast<double>(k)) * M_PI / 180;
        const double c = std::cos(a), s = std::sin(a);
        double low = 1e300, high = -1e300;
        for (const Ring& r : turned[k])
            for (const Point2& p : r) low = std::min(low, p.y), high = std::max(high, p.y);
        for (double y = std::ceil(low / spacing) * spacing; y <= high; y += spacing)
            for (const auto& [x0, x1] : Spans(turned[k], y, nonzero)) {
                Stroke line = style;
                line.pattern = Pattern{};
                line.points = {{x0 * c - y * s, x0 * s + y * c}, {x1 * c - y * s, x1 * s + y * c}};
                sink->Draw(line);
            }
    }
    return true;
}

}  // namespace varnu::host::hpgl
