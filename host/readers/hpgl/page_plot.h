// A page of a plot file on the sheet: where it lands (the one fit policy),
// and what it draws as the driver's requests, cut at the sheet's edges.
#pragma once

#include <map>
#include <string>

#include "model/fit.h"
#include "model/plot.h"
#include "readers/hpgl/drawing.h"
#include "session/job.h"

namespace varnu::host::hpgl {

// Page units to host steps: x' = a x + c y + e, y' = b x + d y + f.
struct Placing {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    double scale = 1;  // of lengths: the fit's
    Point2 Apply(Point2 p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
};

// Where a page of `size` inches whose lower left corner is `low` (page
// units) lands, as `fit` places it.
Placing PlacingOf(const PageFit& fit, Area size, Point2 low, const Sheet& sheet);

// What a page draws, in page units, cut at the clips it carries: for the
// fit of pages the file does not size.
class ExtentSink : public Sink {
  public:
    bool Shapes() const override { return false; }
    void Draw(const Stroke& stroke) override;
    void Fill(const Filled& area) override;
    void Raster(std::shared_ptr<const RasterImage> image, const RasterPlace& place) override;
    bool Any() const { return high.x >= low.x; }
    Point2 low{1e300, 1e300}, high{-1e300, -1e300};

  private:
    void Add(Point2 a, Point2 b, const Rect* clip);
};

// Reads nothing of what is drawn.
class NullSink : public Sink {
  public:
    bool Shapes() const override { return false; }
    void Draw(const Stroke&) override {}
    void Fill(const Filled&) override {}
    void Raster(std::shared_ptr<const RasterImage>, const RasterPlace&) override {}
};

// Adds the page's requests to `plot`. Throws a Refusal when the page would
// make more than the plot may hold.
class PlotSink : public Sink {
  public:
    PlotSink(const Placing& placing, const Sheet& sheet, const std::string& label, bool progress,
             Plot* plot);
    void Draw(const Stroke& stroke) override;
    void Fill(const Filled& area) override;
    void Raster(std::shared_ptr<const RasterImage> image, const RasterPlace& place) override;
    // What was left out, by name ("white lines").
    std::map<std::string, int> skipped;

  private:
    void Lines(const Ring& points, const Stroke& style);
    void Polygon(std::vector<std::vector<Vertex>> rings, int pen);
    void Style(int pen, double widthInches, int lineType);
    bool DriverLineType(const Pattern& pattern) const;

    Placing placing_;
    Sheet sheet_;
    double width_, height_;  // host steps
    std::string label_;
    bool progress_;
    Plot* plot_;
    int pen_ = -1, lineType_ = -1;
    double inches_ = -1;
    std::size_t linePoints_ = 0, areaPoints_ = 0, dashes_;
    int rasters_ = 0;
};

// The driver's pen for a colour: one of its palette's of that colour, or
// of the nearest grey.
int DriverPen(Colour c);

}  // namespace varnu::host::hpgl
