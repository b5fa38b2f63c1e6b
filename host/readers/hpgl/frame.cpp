#include "readers/hpgl/frame.h"

#include <algorithm>
#include <cmath>

namespace varnu::host::hpgl {

void Frame::DefaultPoints() {
    p1 = {0, 0};
    p2 = {TurnedX(), TurnedY()};
}

std::array<double, 4> Frame::Factors() const {
    const double dx = p2.x - p1.x, dy = p2.y - p1.y;
    const double ux = xmax - xmin, uy = ymax - ymin;
    switch (scaling) {
        case Scaling::Off:
            return {1, 0, 1, 0};
        case Scaling::PointFactor:
            return {xmax, p1.x - xmin * xmax, ymax, p1.y - ymin * ymax};
        case Scaling::Anisotropic:
            return {dx / ux, p1.x - xmin * dx / ux, dy / uy, p1.y - ymin * dy / uy};
        case Scaling::Isotropic: {
            const double f = std::min(std::fabs(dx / ux), std::fabs(dy / uy));
            const double ax = std::copysign(f, dx / ux), ay = std::copysign(f, dy / uy);
            // What is left over is shared by `left` and `bottom` percent.
            const double spareX = std::copysign(std::fabs(dx) - f * std::fabs(ux), dx);
            const double spareY = std::copysign(std::fabs(dy) - f * std::fabs(uy), dy);
            return {ax, p1.x + spareX * left / 100 - xmin * ax, ay,
                    p1.y + spareY * bottom / 100 - ymin * ay};
        }
    }
    return {1, 0, 1, 0};
}

Point2 Frame::Plotter(Point2 user) const {
    const auto f = Factors();
    return {f[0] * user.x + f[1], f[2] * user.y + f[3]};
}

Point2 Frame::User(Point2 plotter) const {
    const auto f = Factors();
    return {(plotter.x - f[1]) / f[0], (plotter.y - f[3]) / f[2]};
}

Point2 Frame::Page(Point2 p) const {
    switch (turn) {
        case 90:
            return {pageX - p.y, p.x};
        case 180:
            return {pageX - p.x, pageY - p.y};
        case 270:
            return {p.y, pageY - p.x};
        default:
            return p;
    }
}

Point2 Frame::Turned(Point2 q) const {
    switch (turn) {
        case 90:
            return {q.y, pageX - q.x};
        case 180:
            return {pageX - q.x, pageY - q.y};
        case 270:
            return {pageY - q.y, q.x};
        default:
            return q;
    }
}

Point2 Frame::PageDirection(Point2 d) const {
    const Point2 a = Page(d), o = Page({0, 0});
    return {a.x - o.x, a.y - o.y};
}

double Frame::Diagonal() const {
    return std::hypot(p2.x - p1.x, p2.y - p1.y);
}

bool Frame::Clip(Rect* clip) const {
    if (!window && !hardClip) return false;
    Rect r = window ? windowRect : Rect{-1e300, -1e300, 1e300, 1e300};
    if (hardClip)
        r = {std::max(r.x0, 0.0), std::max(r.y0, 0.0), std::min(r.x1, pageX),
             std::min(r.y1, pageY)};
    *clip = r;
    return true;
}

}  // namespace varnu::host::hpgl
