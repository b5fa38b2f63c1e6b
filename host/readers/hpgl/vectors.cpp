// Pen motion and what is drawn along it: PU, PD, PA, PR, PE, CI, AA, AR,
// AT, RT, EA, ER, RA, RR, EW, WG, PM, FP, EP, XT, YT.
#include <algorithm>
#include <cmath>

#include "readers/hpgl/fills.h"
#include "readers/hpgl/interpreter.h"
#include "readers/hpgl/limits.h"
#include "readers/hpgl/line_types.h"
#include "readers/hpgl/rtl.h"

namespace varnu::host::hpgl {

namespace {

constexpr double kDegree = M_PI / 180;
// Points a stroke holds before it goes on as a new one.
constexpr std::size_t kStrokePoints = 65536;

// Points of the arc around `c` from angle a0 through `sweep` (degrees,
// counter-clockwise), `chord` degrees or less apart; the first left out.
std::vector<Point2> ArcPoints(Point2 c, double rx, double ry, double a0, double sweep,
                              double chord) {
    const int n = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / chord - 1e-9)));
    std::vector<Point2> points;
    points.reserve(static_cast<std::size_t>(n));
    for (int i = 1; i <= n; ++i) {
        const double a = (a0 + sweep * i / n) * kDegree;
        points.push_back({c.x + rx * std::cos(a), c.y + ry * std::sin(a)});
    }
    return points;
}

// The buffer's subpolygons with at least an edge.
std::vector<Ring> PolygonRings(const std::vector<Ring>& buffer) {
    std::vector<Ring> rings;
    for (const Ring& r : buffer)
        if (r.size() >= 2) rings.push_back(r);
    return rings;
}

}  // namespace

double Interpreter::ChordAngle(Stream& in) {
    double chord = s_.chordAngle;
    if (NextNumber(in, &chord)) chord = std::fabs(chord);
    return std::clamp(chord, kMinChordAngle, kMaxChordAngle);
}

Stroke Interpreter::StrokeStyle() const {
    Stroke st;
    const Pens& p = s_.pens;
    const int pen = p.Index(p.selected);
    st.colour = p.colour[static_cast<std::size_t>(pen)];
    const double w = p.width[static_cast<std::size_t>(pen)];
    st.width = p.relativeWidth ? w / 100 * s_.frame.Diagonal() : w * kUnitsPerMm;
    const LineType& l = s_.lines.current;
    if (!l.solid && l.type == 0) {
        st.pattern.kind = Pattern::Kind::Dots;
    } else if (!l.solid) {
        st.pattern.kind = Pattern::Kind::Dashes;
        st.pattern.segments = s_.lines.user[static_cast<std::size_t>(l.type - 1)];
        st.pattern.type = s_.lines.redefined[static_cast<std::size_t>(l.type - 1)] ? 0 : l.type;
        st.pattern.adaptive = l.adaptive;
        st.pattern.length =
            l.metric ? l.length * kUnitsPerMm : l.length / 100 * s_.frame.Diagonal();
    }
    st.clipped = s_.frame.Clip(&st.clip);
    return st;
}

void Interpreter::Flush() {
    if (path_.points.size() >= 2) {
        Stroke st = StrokeStyle();
        st.points.swap(path_.points);
        raster_->FlushPending(sink_);
        sink_->Draw(st);
        path_.points.swap(st.points);  // its memory kept for the next stroke
    }
    path_.points.clear();
}

void Interpreter::PenTo(Point2 to, bool down) {
    const Point2 from = s_.frame.Page(s_.pen), at = s_.frame.Page(to);
    if (++pagePoints_ > kMaxPagePoints)
        Fail("the page draws more than 20000000 points: refused rather than followed");
    s_.pen = to;
    s_.labels.lineStart = to;  // where a label's carriage return goes
    if (polygonMode_) {
        if (++polygonPoints_ > kMaxPolygonPoints)
            in_.Fail("a polygon buffer of more than 1000000 points (PM0 here)", polygonStart_);
        if (polygon_.empty()) polygon_.push_back({from}), edgesDown_.emplace_back();
        Ring& ring = polygon_.back();
        if (ring.empty() || (!down && ring.size() == 1)) {
            ring.assign(1, at);  // a move before the first edge moves the start
            return;
        }
        ring.push_back(at);
        edgesDown_.back().push_back(down);
        return;
    }
    if (!down) {
        Flush();
    } else {
        if (path_.points.empty()) path_.points.push_back(from);
        path_.points.push_back(at);
        MarkDrawn();
        if (path_.points.size() >= kStrokePoints) {
            Flush();
            path_.points.push_back(at);
        }
    }
    if (s_.labels.symbol != 0) DrawText(std::string(1, static_cast<char>(s_.labels.symbol)), true);
}

void Interpreter::Plot(bool setDown, bool down, bool setRelative, bool relative) {
    if (setDown) s_.down = down;
    if (setRelative) s_.relative = relative;
    if (!s_.down) Flush();
    double x = 0, y = 0;
    while (NextNumber(in_, &x)) {
        if (!NextNumber(in_, &y)) break;  // a lone coordinate is dropped
        const Point2 here = s_.frame.User(s_.pen);
        const Point2 user = s_.relative ? Point2{here.x + x, here.y + y} : Point2{x, y};
        PenTo(s_.frame.Plotter(user), s_.down);
    }
    EndCommand(in_);
}

void Interpreter::Circle() {
    double r = 0;
    const bool given = NextNumber(in_, &r);
    const double chord = ChordAngle(in_);
    EndCommand(in_);
    if (!given) return;
    const Point2 centre = s_.frame.User(s_.pen), pen = s_.pen;
    const bool down = s_.down;
    const std::vector<Point2> ring = ArcPoints(centre, r, r, 0, 360, chord);
    if (polygonMode_) {  // a subpolygon of its own
        polygon_.push_back({});
        edgesDown_.emplace_back();
    } else {
        Flush();
    }
    PenTo(s_.frame.Plotter(ring.back()), false);
    for (const Point2& q : ring) PenTo(s_.frame.Plotter(q), true);
    if (polygonMode_) {
        polygon_.push_back({});
        edgesDown_.emplace_back();
    }
    PenTo(pen, false);
    s_.down = down;
}

void Interpreter::Arc(bool relative) {
    double cx = 0, cy = 0, sweep = 0;
    const bool given = NextNumber(in_, &cx) && NextNumber(in_, &cy) && NextNumber(in_, &sweep);
    const double chord = ChordAngle(in_);
    EndCommand(in_);
    if (!given) return;
    const Point2 here = s_.frame.User(s_.pen);
    const Point2 c = relative ? Point2{here.x + cx, here.y + cy} : Point2{cx, cy};
    const double r = std::hypot(here.x - c.x, here.y - c.y);
    const double a0 = std::atan2(here.y - c.y, here.x - c.x) / kDegree;
    for (const Point2& q : ArcPoints(c, r, r, a0, std::clamp(sweep, -3600.0, 3600.0), chord))
        PenTo(s_.frame.Plotter(q), s_.down);
}

void Interpreter::ThreePointArc(bool relative) {
    double v[4];
    int n = 0;
    while (n < 4 && NextNumber(in_, &v[n])) ++n;
    const double chord = ChordAngle(in_);
    EndCommand(in_);
    if (n < 4) return;
    const Point2 a = s_.frame.User(s_.pen);
    const Point2 b = relative ? Point2{a.x + v[0], a.y + v[1]} : Point2{v[0], v[1]};
    const Point2 e = relative ? Point2{a.x + v[2], a.y + v[3]} : Point2{v[2], v[3]};
    // The circle through a, b and e; a straight line when they are in a row.
    const double d = 2 * (a.x * (b.y - e.y) + b.x * (e.y - a.y) + e.x * (a.y - b.y));
    if (std::fabs(d) < 1e-12 * (1 + std::fabs(a.x) + std::fabs(a.y))) {
        PenTo(s_.frame.Plotter(e), s_.down);
        return;
    }
    auto sq = [](Point2 p) { return p.x * p.x + p.y * p.y; };
    const Point2 c{(sq(a) * (b.y - e.y) + sq(b) * (e.y - a.y) + sq(e) * (a.y - b.y)) / d,
                   (sq(a) * (e.x - b.x) + sq(b) * (a.x - e.x) + sq(e) * (b.x - a.x)) / d};
    auto angle = [&](Point2 p) { return std::atan2(p.y - c.y, p.x - c.x) / kDegree; };
    const double a0 = angle(a);
    auto ccw = [&](Point2 p) { return std::fmod(angle(p) - a0 + 720, 360.0); };
    // Counter-clockwise when b comes before e going that way round.
    const double toB = ccw(b), toE = ccw(e) == 0 ? 360 : ccw(e);
    const double sweep = toB <= toE ? toE : toE - 360;
    const double r = std::hypot(a.x - c.x, a.y - c.y);
    for (const Point2& q : ArcPoints(c, r, r, a0, sweep, chord))
        PenTo(s_.frame.Plotter(q), s_.down);
}

void Interpreter::Rectangle(bool relative, bool fill) {
    double x = 0, y = 0;
    const bool given = NextNumber(in_, &x) && NextNumber(in_, &y);
    EndCommand(in_);
    if (!given || polygonMode_) return;
    Flush();
    const Point2 a = s_.frame.User(s_.pen);
    const Point2 b = relative ? Point2{a.x + x, a.y + y} : Point2{x, y};
    Ring ring;
    for (const Point2 q : {a, Point2{b.x, a.y}, b, Point2{a.x, b.y}, a})
        ring.push_back(s_.frame.Page(s_.frame.Plotter(q)));
    if (fill) {
        ring.pop_back();
        FillRings({std::move(ring)}, false);
    } else {
        EdgeRings({std::move(ring)});
    }
}

void Interpreter::Wedge(bool fill) {
    double r = 0, start = 0, sweep = 0;
    const bool given = NextNumber(in_, &r) && NextNumber(in_, &start) && NextNumber(in_, &sweep);
    const double chord = ChordAngle(in_);
    EndCommand(in_);
    if (!given || polygonMode_) return;
    Flush();
    const Point2 c = s_.frame.User(s_.pen);
    Ring ring{s_.frame.Page(s_.pen)};
    const double a0 = start + (r < 0 ? 180 : 0);
    ring.push_back(s_.frame.Page(s_.frame.Plotter({c.x + std::fabs(r) * std::cos(a0 * kDegree),
                                                   c.y + std::fabs(r) * std::sin(a0 * kDegree)})));
    for (const Point2& q :
         ArcPoints(c, std::fabs(r), std::fabs(r), a0, std::clamp(sweep, -360.0, 360.0), chord))
        ring.push_back(s_.frame.Page(s_.frame.Plotter(q)));
    if (fill) {
        FillRings({std::move(ring)}, false);
    } else {
        ring.push_back(ring.front());
        EdgeRings({std::move(ring)});
    }
}

void Interpreter::PolygonMode() {
    const int mode = NextInt(in_, 0);
    EndCommand(in_);
    if (mode == 0) {
        Flush();
        polygonMode_ = true;
        polygonStart_ = commandStart_;
        polygon_.clear();
        edgesDown_.clear();
        polygonPoints_ = 0;
        polygon_.push_back({s_.frame.Page(s_.pen)});
        edgesDown_.emplace_back();
    } else if (polygonMode_ && (mode == 1 || mode == 2)) {
        polygon_.push_back({s_.frame.Page(s_.pen)});  // the next subpolygon
        edgesDown_.emplace_back();
        polygonMode_ = mode == 1;
    }
}

void Interpreter::FillPolygon() {
    const int rule = NextInt(in_, 0);
    EndCommand(in_);
    if (polygonMode_) return;
    Flush();
    FillRings(PolygonRings(polygon_), rule == 1);
}

void Interpreter::EdgePolygon() {
    EndCommand(in_);
    if (polygonMode_) return;
    Flush();
    // The edges drawn with the pen down, as they were drawn: an open
    // subpolygon stays open.
    std::vector<Ring> runs;
    for (std::size_t i = 0; i < polygon_.size(); ++i) {
        const Ring& r = polygon_[i];
        Ring run;
        for (std::size_t k = 1; k < r.size(); ++k) {
            if (!edgesDown_[i][k - 1]) {
                if (run.size() >= 2) runs.push_back(std::move(run));
                run.clear();
                continue;
            }
            if (run.empty()) run.push_back(r[k - 1]);
            run.push_back(r[k]);
        }
        if (run.size() >= 2) runs.push_back(std::move(run));
    }
    EdgeRings(runs);
}

void Interpreter::Ticks(bool x) {
    EndCommand(in_);
    Flush();
    const Frame& f = s_.frame;
    const double span = x ? f.p2.y - f.p1.y : f.p2.x - f.p1.x;
    const double plus = s_.tickPlus / 100 * std::fabs(span);
    const double minus = s_.tickMinus / 100 * std::fabs(span);
    const Point2 p = s_.pen;
    const Point2 a = x ? Point2{p.x, p.y + plus} : Point2{p.x + plus, p.y};
    const Point2 b = x ? Point2{p.x, p.y - minus} : Point2{p.x - minus, p.y};
    EdgeRings({{f.Page(a), f.Page(b)}});
}

void Interpreter::EdgeRings(const std::vector<Ring>& rings) {
    for (const Ring& r : rings) {
        if (r.size() < 2) continue;
        pagePoints_ += r.size();
        if (pagePoints_ > kMaxPagePoints)
            Fail("the page draws more than 20000000 points: refused rather than followed");
        Stroke st = StrokeStyle();
        st.points = r;
        raster_->FlushPending(sink_);
        sink_->Draw(st);
        MarkDrawn();
    }
}

void Interpreter::FillRings(std::vector<Ring> rings, bool nonzero) {
    if (rings.empty()) return;
    std::size_t points = 0;
    for (const Ring& r : rings) points += r.size();
    if ((pagePoints_ += points) > kMaxPagePoints)
        Fail("the page draws more than 20000000 points: refused rather than followed");
    MarkDrawn();
    raster_->FlushPending(sink_);
    const Stroke line = StrokeStyle();
    const FillStyle& f = s_.fill;
    if (f.type == 3 || f.type == 4) {
        // Hatch spacing in current units along x; 1% of the diagonal by default.
        const Point2 o = s_.frame.Plotter({0, 0}), d = s_.frame.Plotter({f.spacing, 0});
        const double spacing =
            f.spacing > 0 ? std::hypot(d.x - o.x, d.y - o.y) : s_.frame.Diagonal() / 100;
        if (Hatch(rings, nonzero, spacing, f.angle, f.type == 4, line, sink_)) return;
        ++skipped_["hatching too fine (filled solid)"];
    }
    Filled area;
    area.rings = std::move(rings);
    area.nonzero = nonzero;
    area.colour = line.colour;
    if (f.type != 1 && f.type != 2 && f.type != 3 && f.type != 4) {
        const double level = f.type == 10 ? f.level : 50;  // shading: the pen's colour thinned
        auto thin = [&](double c) { return 255 - (255 - c) * level / 100; };
        area.colour = {thin(line.colour.red), thin(line.colour.green), thin(line.colour.blue)};
    }
    area.clipped = line.clipped;
    area.clip = line.clip;
    sink_->Fill(area);
}

}  // namespace varnu::host::hpgl
