// Where the file's units land on its page: the user units of SC, the
// scaling points P1 and P2 (IP, IR), the turn of the coordinate system (RO)
// and the window (IW), all in plotter units (1/1016 inch) of the page,
// whose x runs along its longer side from its lower left corner.
#pragma once

#include <array>

#include "model/clip.h"

namespace varnu::host::hpgl {

struct Rect {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool Contains(Point2 p) const { return p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1; }
};

enum class Scaling { Off, Anisotropic, Isotropic, PointFactor };

struct Frame {
    double pageX = 0, pageY = 0;  // the page (the hard-clip limits), pageX >= pageY
    bool hardClip = false;        // a page the file sized (PS): drawing stops at its edges
    int turn = 0;                 // RO: 0, 90, 180 or 270
    Point2 p1{0, 0}, p2{0, 0};    // plotter units of the turned system
    Scaling scaling = Scaling::Off;
    double xmin = 0, xmax = 1, ymin = 0, ymax = 1;  // SC; factors for PointFactor
    double left = 50, bottom = 50;                  // isotropic placement, percent
    bool window = false;
    Rect windowRect;  // page units

    // The turned system's extent: the page, or the page on its side.
    double TurnedX() const { return turn % 180 == 0 ? pageX : pageY; }
    double TurnedY() const { return turn % 180 == 0 ? pageY : pageX; }
    // P1 and P2 at the corners of the page in the turned system.
    void DefaultPoints();
    // User units (or plotter units with scaling off) to plotter units of the
    // turned system, and back.
    Point2 Plotter(Point2 user) const;
    Point2 User(Point2 plotter) const;
    // Plotter units of the turned system to page units.
    Point2 Page(Point2 plotter) const;
    // Page units to plotter units of the turned system.
    Point2 Turned(Point2 page) const;
    // The same for a direction (no origin).
    Point2 PageDirection(Point2 d) const;
    double Diagonal() const;
    // What drawing is cut to: the window within the page, or nothing.
    bool Clip(Rect* clip) const;

  private:
    // x = a x' + c (per axis) of user to plotter units.
    std::array<double, 4> Factors() const;
};

}  // namespace varnu::host::hpgl
