// What a page of a plot file draws, in plotter units of the page (1/1016
// inch, x along its longer side from its lower left corner), as the
// interpreter hands it on: strokes, filled areas and raster images.
#pragma once

#include <memory>
#include <vector>

#include "model/clip.h"
#include "readers/hpgl/frame.h"

namespace varnu::host::hpgl {

struct Colour {
    double red = 0, green = 0, blue = 0;  // 0 to 255
    bool operator==(const Colour&) const = default;
};
// The driver's grey of a colour: luminance, as its palette computes it.
double Grey(Colour c);
inline constexpr Colour kBlack{0, 0, 0};
inline constexpr Colour kWhite{255, 255, 255};

// A line's pattern: solid, dots at its points, or dashes.
struct Pattern {
    enum class Kind { Solid, Dots, Dashes } kind = Kind::Solid;
    int type = 0;           // the file's line type (1 to 8) when its shape is the standard one
    bool adaptive = false;  // each segment holds whole patterns
    std::vector<double> segments;  // percent of the length: dash, gap, dash, ...
    double length = 0;             // page units
};

struct Stroke {
    Ring points;  // page units
    Colour colour;
    double width = 0;  // page units
    Pattern pattern;
    bool clipped = false;  // cut to `clip`
    Rect clip;
};

struct Filled {
    std::vector<Ring> rings;  // page units
    Colour colour;
    bool nonzero = false;  // filled by the winding rule, else even-odd
    bool clipped = false;
    Rect clip;
};

class RasterImage;

// Where a raster image lands: its first row's first pixel's corner, the
// directions its rows advance and its pixels run (unit axes of the page),
// and a pixel's size.
struct RasterPlace {
    Point2 corner{0, 0};
    Point2 rowStep{1, 0}, pixelStep{0, 1};
    double pixelX = 1, pixelY = 1;  // page units a pixel along the row, a row along the image
    bool transparent = true;        // white pixels leave what is below
    bool clipped = false;
    Rect clip;
};

// Receives what a page draws, in the order it is drawn.
class Sink {
  public:
    virtual ~Sink() = default;
    // Whether filled letters' outlines are wanted (else only their extents).
    virtual bool Shapes() const { return true; }
    virtual void Draw(const Stroke& stroke) = 0;
    virtual void Fill(const Filled& area) = 0;
    virtual void Raster(std::shared_ptr<const RasterImage> image, const RasterPlace& place) = 0;
};

}  // namespace varnu::host::hpgl
