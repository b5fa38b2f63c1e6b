#include "readers/hpgl/page_plot.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "readers/hpgl/limits.h"
#include "readers/hpgl/line_types.h"
#include "readers/hpgl/raster_image.h"
#include "readers/hpgl/stream.h"
#include "varnu/pen_palette.h"

namespace varnu::host::hpgl {

namespace {

// The most corners a polygon request takes; outlines of many rings are
// cut well below it.
constexpr std::size_t kMaxPolygonVertices = 32767;
constexpr std::size_t kOutlineCut = 16000;
// The driver's pattern lengths of its line types, percent of the sheet's diagonal.
constexpr double kDriverPatternPercent[9] = {0, 1, 1, 2, 2, 2, 2, 2, 2};

[[noreturn]] void Refuse(const std::string& what) {
    throw Refusal{std::string::npos, what};
}

// `r` cut to `clip`: ClipArea and ClipPolyline cut to [0, w] x [0, h].
Ring Shift(const Ring& r, double dx, double dy) {
    Ring out;
    out.reserve(r.size());
    for (const Point2& p : r) out.push_back({p.x + dx, p.y + dy});
    return out;
}
std::vector<Ring> ClipLine(const Ring& r, const Rect& c) {
    std::vector<Ring> runs = ClipPolyline(Shift(r, -c.x0, -c.y0), c.x1 - c.x0, c.y1 - c.y0);
    for (Ring& run : runs) run = Shift(run, c.x0, c.y0);
    return runs;
}
Ring ClipRing(const Ring& r, const Rect& c) {
    return Shift(ClipArea(Shift(r, -c.x0, -c.y0), c.x1 - c.x0, c.y1 - c.y0), c.x0, c.y0);
}

double SignedArea(const Ring& r) {
    double a = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
        const Point2 p = r[i], q = r[(i + 1) % r.size()];
        a += p.x * q.y - q.x * p.y;
    }
    return a / 2;
}

}  // namespace

double Grey(Colour c) {
    if (c.red == c.green && c.green == c.blue) return c.red;
    return (30 * c.red + 59 * c.green + 11 * c.blue) / 100;
}

int DriverPen(Colour c) {
    static std::map<std::array<int, 3>, int> chosen;
    const std::array<int, 3> key{static_cast<int>(std::lround(c.red)),
                                 static_cast<int>(std::lround(c.green)),
                                 static_cast<int>(std::lround(c.blue))};
    const auto found = chosen.find(key);
    if (found != chosen.end()) return found->second;
    int best = 7;
    double distance = 1e300;
    for (int p = 1; p < 256; ++p) {
        const PenColour& pc = PenPalette[static_cast<std::size_t>(p)];
        if (pc.red == key[0] && pc.green == key[1] && pc.blue == key[2]) {
            best = p;
            break;
        }
        const double d = std::fabs(PenGrey(p) - Grey(c));
        if (d < distance) distance = d, best = p;
    }
    return chosen[key] = best;
}

Placing PlacingOf(const PageFit& fit, Area size, Point2 low, const Sheet& sheet) {
    const double r = sheet.resolution, k = fit.scale * r / kUnitsPerInch;
    const double ox = fit.placement.x0 - fit.cut.width * r;
    const double oy = fit.placement.y0 - fit.cut.height * r;
    if (!fit.turned) return {k, 0, 0, k, ox - k * low.x, oy - k * low.y, fit.scale};
    // A quarter clockwise: the page's top edge along the sheet's right.
    const double w = size.width * kUnitsPerInch;
    return {0, -k, k, 0, ox - k * low.y, oy + k * (w + low.x), fit.scale};
}

// ---- extents

void ExtentSink::Add(Point2 a, Point2 b, const Rect* clip) {
    if (clip != nullptr) {
        a = {std::max(a.x, clip->x0), std::max(a.y, clip->y0)};
        b = {std::min(b.x, clip->x1), std::min(b.y, clip->y1)};
    }
    if (!(b.x >= a.x && b.y >= a.y)) return;
    low = {std::min(low.x, a.x), std::min(low.y, a.y)};
    high = {std::max(high.x, b.x), std::max(high.y, b.y)};
}

void ExtentSink::Draw(const Stroke& s) {
    Point2 a{1e300, 1e300}, b{-1e300, -1e300};
    for (const Point2& p : s.points)
        a = {std::min(a.x, p.x), std::min(a.y, p.y)}, b = {std::max(b.x, p.x), std::max(b.y, p.y)};
    const double w = s.width / 2;
    Add({a.x - w, a.y - w}, {b.x + w, b.y + w}, s.clipped ? &s.clip : nullptr);
}

void ExtentSink::Fill(const Filled& area) {
    for (const Ring& r : area.rings) {
        Point2 a{1e300, 1e300}, b{-1e300, -1e300};
        for (const Point2& p : r)
            a = {std::min(a.x, p.x), std::min(a.y, p.y)},
            b = {std::max(b.x, p.x), std::max(b.y, p.y)};
        Add(a, b, area.clipped ? &area.clip : nullptr);
    }
}

void ExtentSink::Raster(std::shared_ptr<const RasterImage> image, const RasterPlace& p) {
    const double along = p.pixelY * image->rows(), across = p.pixelX * image->width();
    const Point2 c = p.corner;
    const Point2 e{c.x + p.rowStep.x * along + p.pixelStep.x * across,
                   c.y + p.rowStep.y * along + p.pixelStep.y * across};
    Add({std::min(c.x, e.x), std::min(c.y, e.y)}, {std::max(c.x, e.x), std::max(c.y, e.y)},
        p.clipped ? &p.clip : nullptr);
}

// ---- the plot

PlotSink::PlotSink(const Placing& placing, const Sheet& sheet, const std::string& label,
                   bool progress, Plot* plot)
    : placing_(placing),
      sheet_(sheet),
      width_(sheet.extentX * sheet.resolution),
      height_(sheet.extentY * sheet.resolution),
      label_(label),
      progress_(progress),
      plot_(plot),
      dashes_(kMaxPlotLinePoints / 2) {
    plot_->LineTypes(8);
}

void PlotSink::Style(int pen, double inches, int lineType) {
    if (pen != pen_) plot_->Pen(static_cast<std::uint16_t>(pen_ = pen));
    if (std::fabs(inches - inches_) > 1e-9) plot_->Width(inches_ = inches);
    if (lineType != lineType_) plot_->LineType(static_cast<std::uint16_t>(lineType_ = lineType));
}

bool PlotSink::DriverLineType(const Pattern& p) const {
    if (p.type < 1 || p.type > 8 || !p.adaptive) return false;
    const double inches = p.length * placing_.scale / kUnitsPerInch;
    const double driver =
        kDriverPatternPercent[p.type] / 100 * std::hypot(sheet_.extentX, sheet_.extentY);
    return std::fabs(inches - driver) <= 0.05 * driver;
}

void PlotSink::Lines(const Ring& points, const Stroke& style) {
    std::vector<Ring> pieces;
    if (style.clipped)
        pieces = ClipLine(points, style.clip);
    else
        pieces.push_back(points);
    for (const Ring& piece : pieces) {
        Ring host;
        host.reserve(piece.size());
        for (const Point2& p : piece) host.push_back(placing_.Apply(p));
        for (const Ring& run : ClipPolyline(host, width_, height_)) {
            if ((linePoints_ += run.size() + 1) > kMaxPlotLinePoints)
                Refuse(label_ + " draws more than 4000000 points of lines");
            const Vertex first = ToSteps(run.front());
            plot_->Move(first.first, first.second);
            for (std::size_t i = 1; i < run.size(); ++i) {
                const Vertex q = ToSteps(run[i]);
                plot_->Draw(q.first, q.second);
            }
            if (run.size() == 1) plot_->Draw(first.first, first.second);
        }
    }
}

void PlotSink::Draw(const Stroke& stroke) {
    if (Grey(stroke.colour) >= 255) {  // white draws nothing on the printer
        ++skipped["white lines"];
        return;
    }
    const int pen = DriverPen(stroke.colour);
    const double inches = stroke.width * placing_.scale / kUnitsPerInch;
    const Pattern& pattern = stroke.pattern;
    if (pattern.kind == Pattern::Kind::Dots) {
        Style(pen, inches, 0);
        for (const Point2& p : stroke.points) Lines({p, p}, stroke);
        return;
    }
    if (pattern.kind == Pattern::Kind::Solid || DriverLineType(pattern)) {
        Style(pen, inches, pattern.kind == Pattern::Kind::Solid ? 0 : pattern.type);
        Lines(stroke.points, stroke);
        return;
    }
    Style(pen, inches, 0);
    if (!Dashes(stroke.points, pattern, &dashes_, [&](Ring&& dash) { Lines(dash, stroke); }))
        Refuse(label_ + " draws more than " + std::to_string(kMaxPlotLinePoints / 2) + " dashes");
}

void PlotSink::Fill(const Filled& area) {
    if (Grey(area.colour) >= 255) {
        ++skipped["white areas"];
        return;
    }
    std::vector<std::vector<Vertex>> rings;
    std::vector<double> areas;
    for (const Ring& drawn : area.rings) {
        Ring r = area.clipped ? ClipRing(drawn, area.clip) : drawn;
        for (Point2& p : r) p = placing_.Apply(p);
        r = ClipArea(std::move(r), width_, height_);
        std::vector<Vertex> steps;
        for (const Point2& p : r) {  // corners that round to the same step are one
            const Vertex v = ToSteps(p);
            if (steps.empty() || steps.back() != v) steps.push_back(v);
        }
        while (steps.size() > 1 && steps.back() == steps.front()) steps.pop_back();
        if (steps.size() < 3) continue;
        if (steps.size() >= kMaxPolygonVertices)  // it is closed by its first corner again
            Refuse(label_ + " fills an area of more than 32766 corners");
        areas.push_back(SignedArea(r));
        rings.push_back(std::move(steps));
    }
    if (rings.empty()) return;
    // Rings all turning the same way, filled by the winding rule, are each
    // filled; otherwise the rings make one outline filled even-odd.
    const bool apart = area.nonzero && std::all_of(areas.begin(), areas.end(), [&](double a) {
                           return (a > 0) == (areas.front() > 0);
                       });
    const int pen = DriverPen(area.colour);
    if (apart) {
        for (auto& r : rings) Polygon({std::move(r)}, pen);
        return;
    }
    Polygon(std::move(rings), pen);
}

// The rings as outlines, each joined to the first by a bridge walked there
// and back, so that even-odd filling keeps the holes.
void PlotSink::Polygon(std::vector<std::vector<Vertex>> rings, int pen) {
    std::vector<Vertex> outline;
    auto flush = [&]() {
        if (outline.size() >= 3) {
            if ((areaPoints_ += outline.size()) > kMaxPlotAreaPoints)
                Refuse(label_ + " fills areas of more than 40000000 corners");
            outline.shrink_to_fit();
            plot_->Polygon(static_cast<std::int16_t>(pen), std::move(outline));
        }
        outline.clear();
    };
    for (const auto& r : rings) {
        if (!outline.empty() && outline.size() + r.size() + 2 > kOutlineCut) flush();
        const Vertex anchor = outline.empty() ? r.front() : outline.front();
        const bool first = outline.empty();
        outline.insert(outline.end(), r.begin(), r.end());
        outline.push_back(r.front());
        if (!first) outline.push_back(anchor);
    }
    flush();
}

void PlotSink::Raster(std::shared_ptr<const RasterImage> image, const RasterPlace& p) {
    const double along = p.pixelY * image->rows(), across = p.pixelX * image->width();
    const Point2 c = p.corner;
    const Point2 e{c.x + p.rowStep.x * along + p.pixelStep.x * across,
                   c.y + p.rowStep.y * along + p.pixelStep.y * across};
    const Point2 h0 = placing_.Apply(c), h1 = placing_.Apply(e);
    const double x0 = std::min(h0.x, h1.x), x1 = std::max(h0.x, h1.x);
    const double y0 = std::min(h0.y, h1.y), y1 = std::max(h0.y, h1.y);
    // The image's axes on the sheet.
    auto axis = [&](Point2 d) {
        return Point2{placing_.a * d.x + placing_.c * d.y, placing_.b * d.x + placing_.d * d.y};
    };
    const Point2 rows = axis(p.rowStep), pixels = axis(p.pixelStep);
    PictureWay way;
    way.columnsAreRows = std::fabs(rows.x) > std::fabs(rows.y);
    way.columnsReversed = way.columnsAreRows ? rows.x < 0 : pixels.x < 0;
    way.rowsReversed = way.columnsAreRows ? pixels.y > 0 : rows.y > 0;
    const std::int32_t w = way.columnsAreRows ? image->rows() : image->width();
    const std::int32_t h = way.columnsAreRows ? image->width() : image->rows();
    const double sx = (x1 - x0) / w, sy = (y1 - y0) / h;
    if (!(sx > 0 && sy > 0) || !std::isfinite(x0 + x1 + y0 + y1)) {
        ++skipped["raster images smaller than a step"];
        return;
    }
    // What of it lies on the sheet (and on the page, when that cuts it).
    Rect visible{std::max(x0, 0.0), std::max(y0, 0.0), std::min(x1, width_), std::min(y1, height_)};
    if (p.clipped) {
        const Point2 a = placing_.Apply({p.clip.x0, p.clip.y0});
        const Point2 b = placing_.Apply({p.clip.x1, p.clip.y1});
        visible = {
            std::max(visible.x0, std::min(a.x, b.x)), std::max(visible.y0, std::min(a.y, b.y)),
            std::min(visible.x1, std::max(a.x, b.x)), std::min(visible.y1, std::max(a.y, b.y))};
    }
    const auto cut = [](double v, std::int32_t n) {
        return static_cast<std::int32_t>(std::clamp(v, 0.0, static_cast<double>(n)));
    };
    way.x0 = cut(std::floor((visible.x0 - x0) / sx + 1e-6), w);
    way.w = cut(std::ceil((visible.x1 - x0) / sx - 1e-6), w) - way.x0;
    way.y0 = cut(std::floor((y1 - visible.y1) / sy + 1e-6), h);
    way.h = cut(std::ceil((y1 - visible.y0) / sy - 1e-6), h) - way.y0;
    if (way.w <= 0 || way.h <= 0 || !(visible.x1 > visible.x0 && visible.y1 > visible.y0)) {
        ++skipped["raster images off the sheet"];
        return;
    }
    Placement placement;
    placement.x0 = static_cast<std::int32_t>(std::lround(x0 + way.x0 * sx));
    placement.x1 = static_cast<std::int32_t>(std::lround(x0 + (way.x0 + way.w) * sx));
    placement.y1 = static_cast<std::int32_t>(std::lround(y1 - way.y0 * sy));
    placement.y0 = static_cast<std::int32_t>(std::lround(y1 - (way.y0 + way.h) * sy));
    if (placement.x1 <= placement.x0 || placement.y1 <= placement.y0) {
        ++skipped["raster images smaller than a step"];
        return;
    }
    placement.transparent = p.transparent;
    Picture picture = RasterPicture(std::move(image), way);
    picture.label = label_ + ", raster image " + std::to_string(++rasters_);
    if (progress_) picture.progressLabel = picture.label;
    plot_->DrawPicture(std::move(picture), placement);
}

}  // namespace varnu::host::hpgl
