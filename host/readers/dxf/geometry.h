// The geometry of DXF entities: placing transforms, arcs, splines and bulged
// polylines flattened into points, hatch pattern lines, boundary loops.
#pragma once

#include <cmath>
#include <tuple>
#include <vector>

#include "model/clip.h"
#include "readers/dxf/limits.h"

namespace varnu::host::dxf {

// A 2-D affine transform: x' = a x + c y + e, y' = b x + d y + f.
struct Transform {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    Point2 Apply(Point2 p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
    Transform Then(const Transform& o) const {  // this, then o
        return {o.a * a + o.c * b, o.b * a + o.d * b,       o.a * c + o.c * d,
                o.b * c + o.d * d, o.a * e + o.c * f + o.e, o.b * e + o.d * f + o.f};
    }
    double Scale() const { return std::sqrt(std::fabs(a * d - b * c)); }
    bool Identity() const { return a == 1 && b == 0 && c == 0 && d == 1 && e == 0 && f == 0; }
};

// Points along an arc of radii rx, ry turned by `rotation` around c from
// angle a0 to a1 (radians, counter-clockwise), with chords within `tolerance`.
Ring ArcPoints(Point2 c, double rx, double ry, double rotation, double a0, double a1,
               double tolerance);

// A B-spline by de Boor's algorithm; the control polygon where the knots do not fit.
Ring SplinePoints(const std::vector<Point2>& control, const std::vector<double>& knots, int degree,
                  int samples);

// A curve through `points`: a cubic spline of their chord lengths, with
// `samples` chords between each two.
Ring FitPointCurve(const std::vector<Point2>& points, bool closed, int samples);

using BulgeVertex = std::tuple<double, double, double>;  // x, y, bulge

// A polyline's points, each bulge (tan(angle / 4) of the arc to the next
// vertex) flattened with chords within `tolerance`.
Ring BulgedPolyline(const std::vector<BulgeVertex>& vertices, bool closed, double tolerance);

// One family of a hatch pattern's lines: through base + k offset for every
// whole k, at `angle`, dashed by `dashes` (a dash when positive, a gap when
// negative, a dot when 0) from the base point on.
struct PatternLine {
    double angle = 0;
    Point2 base{0, 0}, offset{0, 0};
    std::vector<double> dashes;
};

// What the patterns of a whole drawing may still draw: dashes, and lines
// times boundary edges tried.
struct PatternBudget {
    std::size_t dashes = kMaxPoints / 2;
    double work = 2e8;
};

// The pattern's lines inside `boundary` (even-odd), each dash a ring of two
// points; false when they would be more than `budget` allows.
bool PatternLines(const std::vector<Ring>& boundary, const std::vector<PatternLine>& families,
                  std::vector<Ring>* out, PatternBudget* budget);

// A polyline cut into the dashes of a line type: `dashes` (a dash when
// positive, a gap when negative, a dot when 0) repeated from its start on.
// Empty when there would be more than `most` dashes.
std::vector<Ring> Dashed(const Ring& ring, const std::vector<double>& dashes, std::size_t most);

// The edges of a boundary loop as one ring, each edge followed by the one
// that starts (or, turned round, ends) where it ends; in the file's order
// when none does, or when there are too many edges to sort.
Ring Chained(std::vector<Ring> edges);

}  // namespace varnu::host::dxf
