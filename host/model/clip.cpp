#include "model/clip.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "model/plot.h"

namespace varnu::host {

std::vector<Ring> ClipPolyline(const Ring& r, double w, double h) {
    std::vector<Ring> runs;
    if (r.size() == 1) {
        if (r[0].x >= 0 && r[0].x <= w && r[0].y >= 0 && r[0].y <= h) runs.push_back(r);
        return runs;
    }
    bool open = false;  // the last run ends where this segment starts
    for (std::size_t i = 1; i < r.size(); ++i) {
        const Point2 a = r[i - 1];
        const double dx = r[i].x - a.x, dy = r[i].y - a.y;
        double t0 = 0, t1 = 1;
        bool visible = true;
        for (const auto& [p, q] : {std::pair{-dx, a.x}, std::pair{dx, w - a.x}, std::pair{-dy, a.y},
                                   std::pair{dy, h - a.y}}) {
            if (p == 0) {
                visible = visible && q >= 0;
                continue;
            }
            if (p < 0)
                t0 = std::max(t0, q / p);
            else
                t1 = std::min(t1, q / p);
        }
        if (!visible || t0 > t1) {
            open = false;
            continue;
        }
        if (!open || t0 > 0) runs.push_back({{a.x + t0 * dx, a.y + t0 * dy}});
        runs.back().push_back({a.x + t1 * dx, a.y + t1 * dy});
        open = t1 >= 1;
    }
    return runs;
}

Ring ClipArea(Ring r, double w, double h) {
    const struct {
        bool y;
        double bound;
        bool below;
    } edges[] = {{false, 0, false}, {false, w, true}, {true, 0, false}, {true, h, true}};
    for (const auto& e : edges) {
        auto at = [&](Point2 q) { return e.y ? q.y : q.x; };
        auto in = [&](Point2 q) { return e.below ? at(q) <= e.bound : at(q) >= e.bound; };
        auto cross = [&](Point2 a, Point2 b) {
            const double t = (e.bound - at(a)) / (at(b) - at(a));
            return Point2{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
        };
        Ring out;
        for (std::size_t i = 0; i < r.size(); ++i) {
            const Point2 prev = r[(i + r.size() - 1) % r.size()], cur = r[i];
            if (in(cur) != in(prev)) out.push_back(cross(prev, cur));
            if (in(cur)) out.push_back(cur);
        }
        r = std::move(out);
    }
    return r;
}

// Clamped to the host's range; never a NaN into the integer cast.
Vertex ToSteps(Point2 q) {
    const double limit = 65535;
    const double sx = std::round(q.x), sy = std::round(q.y);
    const double x = std::isnan(sx) ? 0.0 : std::clamp(sx, 0.0, limit);
    const double y = std::isnan(sy) ? 0.0 : std::clamp(sy, 0.0, limit);
    return {static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y)};
}

void AddArea(Plot* plot, std::int16_t pen, const std::vector<Ring>& rings, int line) {
    std::vector<Vertex> outline;
    auto flush = [&]() {
        outline.shrink_to_fit();  // held in the plot: a drawing's text is millions of them
        if (outline.size() >= 3) plot->Polygon(pen, std::move(outline), line);
        outline.clear();
    };
    for (const Ring& r : rings) {
        if (r.empty()) continue;
        if (!outline.empty() && outline.size() + r.size() + 2 > kOutlineCut) flush();
        const Vertex anchor = outline.empty() ? ToSteps(r.front()) : outline.front();
        for (const Point2& q : r) outline.push_back(ToSteps(q));
        outline.push_back(ToSteps(r.front()));
        if (outline.front() != anchor || outline.size() > r.size() + 1) outline.push_back(anchor);
    }
    flush();
}

}  // namespace varnu::host
