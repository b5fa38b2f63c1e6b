// What of a drawing lies on the sheet: polylines and areas cut at its edges.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace varnu::host {

class Plot;

struct Point2 {
    double x, y;
};
using Ring = std::vector<Point2>;

// The parts of the polyline `r` on the sheet [0, w] x [0, h], each a run of
// points: what lies beyond is cut at the edge, not pressed onto it.
std::vector<Ring> ClipPolyline(const Ring& r, double w, double h);

// The part of the area `r` on the sheet [0, w] x [0, h], cut edge by edge.
Ring ClipArea(Ring r, double w, double h);

// The most vertices one polygon request takes, and where an area of many
// rings is cut into several polygons.
inline constexpr std::size_t kMaxPolygonVertices = 32767;
inline constexpr std::size_t kOutlineCut = 16000;

// A point in host steps, clamped to the host's range; never a NaN into the
// integer cast.
std::pair<std::uint16_t, std::uint16_t> ToSteps(Point2 q);  // a plot's Vertex

// An area and its holes (rings in host steps) as polygons of pen `pen`:
// every ring joined to the first by a bridge walked there and back, so
// even-odd filling keeps the holes; more than kOutlineCut points start a
// new polygon. Points are clamped to the host's range.
void AddArea(Plot* plot, std::int16_t pen, const std::vector<Ring>& rings, int line = 0);

}  // namespace varnu::host
