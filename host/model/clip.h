// What of a drawing lies on the sheet: polylines and areas cut at its edges.
#pragma once

#include <vector>

namespace varnu::host {

struct Point2 {
    double x, y;
};
using Ring = std::vector<Point2>;

// The parts of the polyline `r` on the sheet [0, w] x [0, h], each a run of
// points: what lies beyond is cut at the edge, not pressed onto it.
std::vector<Ring> ClipPolyline(const Ring& r, double w, double h);

// The part of the area `r` on the sheet [0, w] x [0, h], cut edge by edge.
Ring ClipArea(Ring r, double w, double h);

}  // namespace varnu::host
