#include "readers/dxf/geometry.h"

#include <algorithm>
#include <cmath>

namespace varnu::host::dxf {

Ring ArcPoints(Point2 c, double rx, double ry, double rotation, double a0, double a1,
               double tolerance) {
    while (a1 <= a0) a1 += 2 * M_PI;
    const double r = std::max(std::max(rx, ry), 1e-12);
    const double step = 2 * std::acos(std::max(-1.0, 1 - std::min(tolerance / r, 1.0)));
    // At least eight chords a turn: even the coarse measure of the extents is then
    // within 8% of the radius, and the scale it gives not much finer than needed.
    const int n = std::clamp(
        static_cast<int>(std::ceil((a1 - a0) / std::clamp(step, 1e-3, M_PI / 4))), 2, 20000);
    Ring ring;
    for (int i = 0; i <= n; ++i) {
        const double t = a0 + (a1 - a0) * i / n;
        const double x = rx * std::cos(t), y = ry * std::sin(t);
        ring.push_back({c.x + x * std::cos(rotation) - y * std::sin(rotation),
                        c.y + x * std::sin(rotation) + y * std::cos(rotation)});
    }
    return ring;
}

Ring SplinePoints(const std::vector<Point2>& control, const std::vector<double>& knots, int degree,
                  int samples) {
    const int n = static_cast<int>(control.size());
    if (n < 2 || degree < 1 || static_cast<int>(knots.size()) != n + degree + 1) return control;
    Ring ring;
    const double t0 = knots[degree], t1 = knots[n];
    if (!(t1 > t0)) return control;
    for (int s = 0; s <= samples; ++s) {
        const double t = std::min(t0 + (t1 - t0) * s / samples, t1 - 1e-12 * (t1 - t0));
        int k = degree;
        while (k < n - 1 && knots[k + 1] <= t) ++k;
        std::vector<Point2> d(control.begin() + (k - degree), control.begin() + k + 1);
        for (int r = 1; r <= degree; ++r)
            for (int j = degree; j >= r; --j) {
                const double denominator = knots[j + 1 + k - r] - knots[j + k - degree];
                const double alpha =
                    denominator > 0 ? (t - knots[j + k - degree]) / denominator : 0;
                d[j] = {(1 - alpha) * d[j - 1].x + alpha * d[j].x,
                        (1 - alpha) * d[j - 1].y + alpha * d[j].y};
            }
        ring.push_back(d[degree]);
    }
    return ring;
}

Ring FitPointCurve(const std::vector<Point2>& given, bool closed, int samples) {
    std::vector<Point2> points = given;
    if (closed && points.size() > 2) points.push_back(points.front());
    const std::size_t n = points.size();
    if (n < 3) return points;
    // Natural end conditions: the second derivative is 0 at both ends.
    std::vector<double> h(n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i)
        h[i] = std::max(std::hypot(points[i + 1].x - points[i].x, points[i + 1].y - points[i].y),
                        1e-12);
    std::vector<Point2> m(n, {0, 0});  // second derivatives, by the tridiagonal algorithm
    std::vector<double> c(n, 0);
    std::vector<Point2> d(n, {0, 0});
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const double a = h[i - 1], b = 2 * (h[i - 1] + h[i]), cc = h[i];
        auto slope = [&](std::size_t k) {
            return Point2{(points[k + 1].x - points[k].x) / h[k],
                          (points[k + 1].y - points[k].y) / h[k]};
        };
        const Point2 r{6 * (slope(i).x - slope(i - 1).x), 6 * (slope(i).y - slope(i - 1).y)};
        const double denominator = b - a * c[i - 1];
        c[i] = cc / denominator;
        d[i] = {(r.x - a * d[i - 1].x) / denominator, (r.y - a * d[i - 1].y) / denominator};
    }
    for (std::size_t i = n - 2; i >= 1; --i)
        m[i] = {d[i].x - c[i] * m[i + 1].x, d[i].y - c[i] * m[i + 1].y};
    Ring ring{points.front()};
    for (std::size_t i = 0; i + 1 < n; ++i)
        for (int s = 1; s <= samples; ++s) {
            const double t = h[i] * s / samples, u = h[i] - t;
            auto at = [&](double p0, double p1, double m0, double m1) {
                return (m0 * u * u * u + m1 * t * t * t) / (6 * h[i]) +
                       (p0 / h[i] - m0 * h[i] / 6) * u + (p1 / h[i] - m1 * h[i] / 6) * t;
            };
            ring.push_back({at(points[i].x, points[i + 1].x, m[i].x, m[i + 1].x),
                            at(points[i].y, points[i + 1].y, m[i].y, m[i + 1].y)});
        }
    return ring;
}

Ring BulgedPolyline(const std::vector<BulgeVertex>& vertices, bool closed, double tolerance) {
    Ring ring;
    const std::size_t n = vertices.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto& [x, y, bulge] = vertices[i];
        ring.push_back({x, y});
        if (bulge == 0 || (i + 1 == n && !closed)) continue;
        const auto& [x2, y2, unused] = vertices[(i + 1) % n];
        (void)unused;
        const double chord = std::hypot(x2 - x, y2 - y);
        if (chord == 0) continue;
        const double theta = 4 * std::atan(bulge);
        const double r = chord / (2 * std::sin(theta / 2));
        const double mx = (x + x2) / 2, my = (y + y2) / 2;
        const double h = r * std::cos(theta / 2);
        const double nx = -(y2 - y) / chord, ny = (x2 - x) / chord;
        const Point2 c{mx + nx * h, my + ny * h};
        double a0 = std::atan2(y - c.y, x - c.x), a1 = std::atan2(y2 - c.y, x2 - c.x);
        Ring arc = bulge > 0 ? ArcPoints(c, std::fabs(r), std::fabs(r), 0, a0, a1, tolerance)
                             : ArcPoints(c, std::fabs(r), std::fabs(r), 0, a1, a0, tolerance);
        if (bulge < 0) std::reverse(arc.begin(), arc.end());
        ring.insert(ring.end(), arc.begin() + 1, arc.end() - 1);
    }
    return ring;
}

bool PatternLines(const std::vector<Ring>& boundary, const std::vector<PatternLine>& families,
                  std::vector<Ring>* out, PatternBudget* budget) {
    std::size_t edges = 0;
    for (const Ring& r : boundary) edges += r.size();
    for (const PatternLine& family : families) {
        const Point2 u{std::cos(family.angle), std::sin(family.angle)}, n{-u.y, u.x};
        const double spacing = family.offset.x * n.x + family.offset.y * n.y;
        if (!(std::fabs(spacing) > 0)) continue;
        double low = 1e300, high = -1e300;
        for (const Ring& r : boundary)
            for (const Point2& p : r) {
                const double d = (p.x - family.base.x) * n.x + (p.y - family.base.y) * n.y;
                low = std::min(low, d), high = std::max(high, d);
            }
        const double first = std::ceil(std::min(low / spacing, high / spacing));
        const double last = std::floor(std::max(low / spacing, high / spacing));
        const double work = (last - first + 1) * static_cast<double>(edges);
        if (!(last - first < 1e6) || work > budget->work) return false;
        budget->work -= work;
        double period = 0;
        for (const double d : family.dashes) period += std::fabs(d);
        // A family of gaps alone draws nothing, however many periods it has.
        if (!family.dashes.empty() && std::none_of(family.dashes.begin(), family.dashes.end(),
                                                   [](double d) { return d >= 0; }))
            continue;
        // Counted from 0: far from the origin, first + 1 may equal first.
        for (double j = 0; j <= last - first; ++j) {
            const double k = first + j;
            const Point2 o{family.base.x + k * family.offset.x,
                           family.base.y + k * family.offset.y};
            // Where the line crosses the boundary, along it from o.
            std::vector<double> cuts;
            for (const Ring& r : boundary)
                for (std::size_t i = 0; i < r.size(); ++i) {
                    const Point2 p = r[i], q = r[(i + 1) % r.size()];
                    const double dp = (p.x - o.x) * n.x + (p.y - o.y) * n.y;
                    const double dq = (q.x - o.x) * n.x + (q.y - o.y) * n.y;
                    if ((dp > 0) == (dq > 0)) continue;
                    const double tp = (p.x - o.x) * u.x + (p.y - o.y) * u.y;
                    const double tq = (q.x - o.x) * u.x + (q.y - o.y) * u.y;
                    const double t = tp + (tq - tp) * dp / (dp - dq);
                    if (std::isfinite(t)) cuts.push_back(t);  // NaN would break the sort
                }
            std::sort(cuts.begin(), cuts.end());
            auto at = [&](double t) { return Point2{o.x + t * u.x, o.y + t * u.y}; };
            for (std::size_t i = 0; i + 1 < cuts.size(); i += 2) {
                const double a = cuts[i], b = cuts[i + 1];
                if (!(period > 0)) {
                    out->push_back({at(a), at(b)});
                } else {
                    const double origin = std::floor(a / period) * period;
                    const double count = std::ceil((b - origin) / period);
                    // Every period walked is work, whether it draws or not.
                    const double walk = count * static_cast<double>(family.dashes.size());
                    if (!(count < static_cast<double>(budget->dashes)) || !(walk <= budget->work))
                        return false;
                    budget->work -= walk;
                    for (double j = 0; j < count; ++j) {
                        double t = origin + j * period;
                        for (const double d : family.dashes) {
                            const double from = std::max(t, a), to = std::min(t + std::fabs(d), b);
                            if (d >= 0 && from <= to) out->push_back({at(from), at(to)});
                            t += std::fabs(d);
                        }
                        if (out->size() > budget->dashes) return false;
                    }
                }
                if (out->size() > budget->dashes) return false;
            }
        }
    }
    return true;
}

std::vector<Ring> Dashed(const Ring& ring, const std::vector<double>& dashes, std::size_t most) {
    std::vector<Ring> out;
    double period = 0, length = 0;
    for (const double d : dashes) period += std::fabs(d);
    for (std::size_t i = 1; i < ring.size(); ++i)
        length += std::hypot(ring[i].x - ring[i - 1].x, ring[i].y - ring[i - 1].y);
    if (!(period > 0) || !(length / period * static_cast<double>(dashes.size()) < double(most)))
        return out;
    std::size_t k = 0;                   // the dash being walked
    double left = std::fabs(dashes[0]);  // of it
    bool down = dashes[0] >= 0;
    if (down) out.push_back({ring.front()});
    for (std::size_t i = 1; i < ring.size(); ++i) {
        const Point2 a = ring[i - 1], b = ring[i];
        const double step = std::hypot(b.x - a.x, b.y - a.y);
        double at = 0;  // along this segment
        while (step - at > left) {
            at += left;
            const Point2 q{a.x + (b.x - a.x) * at / step, a.y + (b.y - a.y) * at / step};
            if (down) out.back().push_back(q);
            k = (k + 1) % dashes.size();
            left = std::fabs(dashes[k]);
            down = dashes[k] >= 0;
            if (down) out.push_back({q});
        }
        left -= step - at;
        if (down) out.back().push_back(b);
    }
    for (Ring& r : out)
        if (r.size() == 1) r.push_back(r.front());  // a dot
    return out;
}

Ring Chained(std::vector<Ring> edges) {
    std::erase_if(edges, [](const Ring& r) { return r.empty(); });
    Ring ring;
    if (edges.empty()) return ring;
    double size = 0;
    for (const Ring& r : edges)
        for (const Point2& p : r) size = std::max({size, std::fabs(p.x), std::fabs(p.y)});
    const double near = std::max(size, 1.0) * 1e-9;
    auto meets = [&](Point2 a, Point2 b) {
        return std::fabs(a.x - b.x) <= near && std::fabs(a.y - b.y) <= near;
    };
    const bool sort = edges.size() <= 1024;
    std::vector<bool> used(edges.size());
    std::size_t next = 0;
    for (std::size_t n = 0; n < edges.size(); ++n) {
        if (sort && !ring.empty()) {
            next = edges.size();
            bool turn = false;
            for (std::size_t i = 0; i < edges.size() && next == edges.size(); ++i)
                if (!used[i] && (meets(edges[i].front(), ring.back()) ||
                                 (turn = meets(edges[i].back(), ring.back()))))
                    next = i;
            if (next == edges.size())
                next = static_cast<std::size_t>(std::find(used.begin(), used.end(), false) -
                                                used.begin());
            else if (turn)
                std::reverse(edges[next].begin(), edges[next].end());
        }
        used[next] = true;
        ring.insert(ring.end(), edges[next].begin(), edges[next].end());
        ++next;
    }
    return ring;
}

}  // namespace varnu::host::dxf
