#include "readers/dxf.h"

#include <dxflib/dl_dxf.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <sstream>

#include "model/clip.h"
#include "model/fit.h"
#include "readers/dxf/entities.h"
#include "readers/dxf/expand.h"

namespace varnu::host {

namespace {

using dxf::Primitive;
using dxf::Reader;

// The most vertices a polygon request takes; outlines are cut well below.
constexpr std::size_t kMaxPolygonVertices = 32767;
constexpr std::size_t kOutlineCut = 16000;

bool LoadDrawing(std::string text, const std::string& path, Reader* reader, std::string* error) {
    dxf::Records records;
    std::string why;
    if (!dxf::ReadRecords(&text, &records, &why)) {
        *error = path + ": " + why;
        return false;
    }
    if (records.textCuts > 0) reader->skipped["text cut at 1000 characters"] = records.textCuts;
    reader->SetRecords(std::move(records));
    std::istringstream stream(std::move(text));
    // dxflib's constructor leaves the version a comment would set unset; in
    // zeroed storage it reads as none, and MTEXT angles as degrees, file
    // after file in one process.
    alignas(DL_Dxf) unsigned char storage[sizeof(DL_Dxf)] = {};
    std::unique_ptr<DL_Dxf, void (*)(DL_Dxf*)> dxflib(new (storage) DL_Dxf,
                                                      [](DL_Dxf* d) { d->~DL_Dxf(); });
    try {
        if (!dxflib->in(stream, reader)) {
            *error = path + ": not a readable DXF file";
            return false;
        }
    } catch (const std::exception& e) {
        *error = path + ": " + e.what();
        return false;
    }
    reader->Finish();
    return true;
}

// Host steps per drawing unit, where the drawing's origin lands, and what is drawn.
struct Layout {
    double scale = 1, offsetX = 0, offsetY = 0;
    std::vector<Primitive> primitives;
};

// The extents of what is drawn; false when nothing is.
bool Measure(const std::vector<Primitive>& drawn, Point2* low, Point2* high) {
    *low = {1e300, 1e300}, *high = {-1e300, -1e300};
    for (const auto& p : drawn)
        for (const auto& r : p.rings)
            for (const auto& q : r) {
                if (!std::isfinite(q.x) || !std::isfinite(q.y)) continue;
                low->x = std::min(low->x, q.x), low->y = std::min(low->y, q.y);
                high->x = std::max(high->x, q.x), high->y = std::max(high->y, q.y);
            }
    return high->x >= low->x;
}

// Fitted with a margin of 2% of the sheet on every side, centred.
void FitDrawing(Point2 low, Point2 high, double pageW, double pageH, Layout* layout) {
    const double w = std::max(high.x - low.x, 1e-9), h = std::max(high.y - low.y, 1e-9);
    layout->scale = FitScale({w, h}, {pageW, pageH}, 0.02);
    layout->offsetX = Centred(w * layout->scale, pageW) - low.x * layout->scale;
    layout->offsetY = Centred(h * layout->scale, pageH) - low.y * layout->scale;
}

std::string Report(const std::map<std::string, int>& skipped) {
    std::ostringstream report;
    for (const auto& [name, count] : skipped)
        report << (report.tellp() > 0 ? ", " : "") << count << ' ' << name;
    return report.str();
}

// Says what was not drawn, when something was not.
std::string NothingToDraw(const std::string& path, const std::map<std::string, int>& skipped) {
    const std::string what = Report(skipped);
    return path + ": nothing to draw" + (what.empty() ? "" : " (skipped: " + what + ")");
}

bool LayOut(const Reader& reader, const Sheet& sheet, const DxfOptions& options,
            const std::string& path, Layout* layout, std::map<std::string, int>* skipped,
            std::string* error) {
    const double pageW = sheet.extentX * sheet.resolution, pageH = sheet.extentY * sheet.resolution;
    if (options.scaleDenominator > 0) {
        layout->scale = sheet.resolution / 25.4 / options.scaleDenominator;
        layout->offsetX = options.originX / 25.4 * sheet.resolution;
        layout->offsetY = options.originY / 25.4 * sheet.resolution;
        return dxf::Expand(reader, 0.5 / layout->scale, &layout->primitives, skipped, path, error);
    }
    // Fit: a coarse flattening only ever underestimates the extents (its
    // points lie on the curves), so the scale it gives is an upper bound;
    // flattened for that scale, the geometry drawn gives the extents.
    std::map<std::string, int> ignore;
    std::vector<Primitive> probe;
    if (!dxf::Expand(reader, 1e9, &probe, &ignore, path, error)) return false;
    Point2 low, high;
    if (!Measure(probe, &low, &high)) {
        for (const auto& [what, count] : ignore) (*skipped)[what] += count;
        *error = NothingToDraw(path, *skipped);
        return false;
    }
    FitDrawing(low, high, pageW, pageH, layout);
    if (!dxf::Expand(reader, 0.5 / layout->scale, &layout->primitives, skipped, path, error))
        return false;
    Measure(layout->primitives, &low, &high);
    FitDrawing(low, high, pageW, pageH, layout);
    return true;
}

// Clamped to the host's range; never a NaN into the integer cast.
Vertex ToSteps(Point2 q) {
    const double limit = 65535;
    const double sx = std::round(q.x), sy = std::round(q.y);
    const double x = std::isnan(sx) ? 0.0 : std::clamp(sx, 0.0, limit);
    const double y = std::isnan(sy) ? 0.0 : std::clamp(sy, 0.0, limit);
    return {static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y)};
}

// An area and its holes as one outline: every ring joined to the first by a
// bridge walked there and back, so even-odd filling keeps the holes.
bool EmitArea(const Primitive& p, const std::vector<Ring>& rings, const std::string& path,
              Plot* plot, std::string* error) {
    std::vector<Vertex> outline;
    auto flush = [&]() {
        if (outline.size() > kMaxPolygonVertices) {
            *error = path + ":" + std::to_string(p.line) + ": a polygon has at most 32767 vertices";
            return false;
        }
        if (outline.size() >= 3)
            plot->Polygon(static_cast<std::int16_t>(p.style.pen), std::move(outline), p.line);
        outline.clear();
        return true;
    };
    for (const Ring& r : rings) {
        if (!outline.empty() && outline.size() + r.size() + 2 > kOutlineCut && !flush())
            return false;
        const Vertex anchor = outline.empty() ? ToSteps(r.front()) : outline.front();
        for (const Point2& q : r) outline.push_back(ToSteps(q));
        outline.push_back(ToSteps(r.front()));
        if (outline.front() != anchor || outline.size() > r.size() + 1) outline.push_back(anchor);
    }
    return flush();
}

void EmitLines(const Primitive& p, const std::vector<Ring>& rings, Plot* plot) {
    for (const Ring& r : rings) {
        const Vertex first = ToSteps(r.front());
        plot->Move(first.first, first.second, p.line);
        for (std::size_t i = 1; i < r.size(); ++i) {
            const Vertex q = ToSteps(r[i]);
            plot->Draw(q.first, q.second, p.line);
        }
        if (r.size() == 1) plot->Draw(first.first, first.second, p.line);
    }
}

// The primitives' rings in host steps, cut at the sheet's edge.
std::vector<Ring> OnSheet(const Primitive& p, const Layout& layout, double pageW, double pageH) {
    std::vector<Ring> rings;
    for (const Ring& drawn : p.rings) {
        Ring r;
        for (const Point2& q : drawn)
            r.push_back({q.x * layout.scale + layout.offsetX, q.y * layout.scale + layout.offsetY});
        if (p.fill) {
            r = ClipArea(std::move(r), pageW, pageH);
            if (r.size() >= 3) rings.push_back(std::move(r));
            continue;
        }
        if (p.closed && r.size() > 1) r.push_back(r.front());
        for (Ring& run : ClipPolyline(r, pageW, pageH)) rings.push_back(std::move(run));
    }
    return rings;
}

// Requests, with pen, line type and width sent when they change.
bool Emit(const Layout& layout, const Sheet& sheet, const std::string& path, Plot* plot,
          std::string* error) {
    const double pageW = sheet.extentX * sheet.resolution, pageH = sheet.extentY * sheet.resolution;
    int pen = -1, lineType = -1;
    double width = -1;
    plot->LineTypes(8);
    for (const Primitive& p : layout.primitives) {
        const std::vector<Ring> rings = OnSheet(p, layout, pageW, pageH);
        if (rings.empty()) continue;
        if (p.style.pen != pen) plot->Pen(static_cast<std::uint16_t>(pen = p.style.pen), p.line);
        if (p.fill) {
            if (!EmitArea(p, rings, path, plot, error)) return false;
            continue;
        }
        if (p.style.lineType != lineType)
            plot->LineType(static_cast<std::uint16_t>(lineType = p.style.lineType), p.line);
        if (p.style.widthMm != width) plot->Width((width = p.style.widthMm) / 25.4, p.line);
        EmitLines(p, rings, plot);
    }
    return true;
}

}  // namespace

bool ReadDxfText(std::string text, const std::string& path, const Sheet& sheet,
                 const DxfOptions& options, Plot* plot, DxfReport* report, std::string* error) {
    Reader reader;
    if (!LoadDrawing(std::move(text), path, &reader, error)) return false;
    for (const std::string& name : options.layers) {
        reader.onlyLayers.insert(dxf::Upper(name));
        if (reader.layerNames.count(dxf::Upper(name)) == 0) report->unknownLayers.push_back(name);
    }
    std::map<std::string, int> skipped = reader.skipped;
    Layout layout;
    if (!LayOut(reader, sheet, options, path, &layout, &skipped, error)) return false;
    if (layout.primitives.empty()) {
        *error = NothingToDraw(path, skipped);
        return false;
    }
    *plot = Plot(path);
    if (!Emit(layout, sheet, path, plot, error)) return false;
    report->skipped = Report(skipped);
    return true;
}

bool ReadDxf(const std::string& path, const Sheet& sheet, const DxfOptions& options, Plot* plot,
             DxfReport* report, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = path + ": cannot be read";
        return false;
    }
    std::ostringstream raw;
    raw << file.rdbuf();
    return ReadDxfText(std::move(raw).str(), path, sheet, options, plot, report, error);
}

}  // namespace varnu::host
