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
#include "readers/dxf/text_outlines.h"

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
    double tolerance = 0.5;  // drawing units the curves are flattened within
    int coarseness = 0;      // of text outlines (text_outlines.h)
};

// The extents of what the drawing draws, flattened within `tolerance`;
// false with `error` set when it cannot be expanded.
struct Extents {
    Point2 low{1e300, 1e300}, high{-1e300, -1e300};
    bool Any() const { return high.x >= low.x; }
};
bool Measure(const Reader& reader, double tolerance, std::map<std::string, int>* skipped,
             const std::string& path, Extents* extents, std::size_t* areaPoints,
             std::string* error) {
    dxf::Pass pass;
    pass.areaLimit = 2 * dxf::kMaxAreaPoints;  // nothing is held
    const bool ok = dxf::Expand(
        reader, tolerance,
        [extents](Primitive&& p) {
            for (const auto& r : p.rings)
                for (const auto& q : r) {
                    if (!std::isfinite(q.x) || !std::isfinite(q.y)) continue;
                    extents->low.x = std::min(extents->low.x, q.x);
                    extents->low.y = std::min(extents->low.y, q.y);
                    extents->high.x = std::max(extents->high.x, q.x);
                    extents->high.y = std::max(extents->high.y, q.y);
                }
            return true;
        },
        skipped, path, error, &pass);
    *areaPoints = pass.areaPoints;
    return ok;
}

// Text outlined as finely as the plot can hold its filled areas: the
// coarseness whose points (a quarter or so of the last's, each step) fit.
int CoarsenessFor(std::size_t areaPoints) {
    int coarseness = 0;
    for (double points = static_cast<double>(areaPoints);
         points > static_cast<double>(dxf::kMaxAreaPoints) && coarseness < dxf::kCoarsest;
         points /= 2)
        ++coarseness;
    return coarseness;
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

// The scale and place of the drawing on the sheet, and the tolerance its
// curves are flattened within.
bool LayOut(const Reader& reader, const Sheet& sheet, const DxfOptions& options,
            const std::string& path, Layout* layout, std::map<std::string, int>* skipped,
            std::string* error) {
    const double pageW = sheet.extentX * sheet.resolution, pageH = sheet.extentY * sheet.resolution;
    if (options.scaleDenominator > 0) {
        layout->scale = sheet.resolution / 25.4 / options.scaleDenominator;
        layout->offsetX = options.originX / 25.4 * sheet.resolution;
        layout->offsetY = options.originY / 25.4 * sheet.resolution;
        layout->tolerance = 0.5 / layout->scale;
        Extents unused;
        std::map<std::string, int> ignore;
        std::size_t areaPoints = 0;
        if (!Measure(reader, layout->tolerance, &ignore, path, &unused, &areaPoints, error))
            return false;
        layout->coarseness = CoarsenessFor(areaPoints);
        return true;
    }
    // Fit: a coarse flattening only ever underestimates the extents (its
    // points lie on the curves), so the scale it gives is an upper bound;
    // flattened for that scale, the geometry drawn gives the extents.
    std::map<std::string, int> ignore;
    Extents probe;
    std::size_t areaPoints = 0;
    if (!Measure(reader, 1e9, &ignore, path, &probe, &areaPoints, error)) return false;
    if (!probe.Any()) {
        for (const auto& [what, count] : ignore) (*skipped)[what] += count;
        *error = NothingToDraw(path, *skipped);
        return false;
    }
    FitDrawing(probe.low, probe.high, pageW, pageH, layout);
    layout->tolerance = 0.5 / layout->scale;
    Extents drawn;
    ignore.clear();
    if (!Measure(reader, layout->tolerance, &ignore, path, &drawn, &areaPoints, error))
        return false;
    layout->coarseness = CoarsenessFor(areaPoints);
    FitDrawing(drawn.low, drawn.high, pageW, pageH, layout);
    return true;
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
        outline.shrink_to_fit();  // held in the plot: a drawing's text is millions of them
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
class Emitter {
  public:
    Emitter(const Layout& layout, const Sheet& sheet, const std::string& path, Plot* plot,
            std::string* error)
        : layout_(layout),
          pageW_(sheet.extentX * sheet.resolution),
          pageH_(sheet.extentY * sheet.resolution),
          path_(path),
          plot_(plot),
          error_(error) {
        plot->LineTypes(8);
    }

    bool operator()(Primitive&& p) {
        ++count;
        const std::vector<Ring> rings = OnSheet(p, layout_, pageW_, pageH_);
        if (rings.empty()) return true;
        if (p.style.pen != pen_) plot_->Pen(static_cast<std::uint16_t>(pen_ = p.style.pen), p.line);
        if (p.fill) return EmitArea(p, rings, path_, plot_, error_);
        if (p.style.lineType != lineType_)
            plot_->LineType(static_cast<std::uint16_t>(lineType_ = p.style.lineType), p.line);
        if (p.style.widthMm != width_) plot_->Width((width_ = p.style.widthMm) / 25.4, p.line);
        EmitLines(p, rings, plot_);
        return true;
    }

    std::size_t count = 0;  // primitives the drawing made, on the sheet or not

  private:
    const Layout& layout_;
    const double pageW_, pageH_;
    const std::string& path_;
    Plot* plot_;
    std::string* error_;
    int pen_ = -1, lineType_ = -1;
    double width_ = -1;
};

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
    // Made and sent one primitive at a time: none is held. Text that the
    // plot cannot hold at its coarseness is outlined coarser still.
    Plot drawn(path);
    std::size_t made = 0;
    const std::map<std::string, int> before = skipped;
    for (dxf::Pass pass{layout.coarseness};; ++pass.coarseness) {
        drawn = Plot(path);
        skipped = before;
        Emitter emit(layout, sheet, path, &drawn, error);
        const bool ok = dxf::Expand(
            reader, layout.tolerance, [&emit](Primitive&& p) { return emit(std::move(p)); },
            &skipped, path, error, &pass);
        made = emit.count;
        if (ok) {
            layout.coarseness = pass.coarseness;
            break;
        }
        if (!pass.areaSpent || pass.coarseness >= dxf::kCoarsest) return false;
    }
    if (layout.coarseness > 0)
        skipped["drawing's text outlined coarser (past 80 million points of filled areas)"] = 1;
    if (made == 0) {
        *error = NothingToDraw(path, skipped);
        return false;
    }
    *plot = std::move(drawn);
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

namespace {

class DxfPage : public Document {
  public:
    DxfPage(const std::string& path, const DocumentOptions& options) : path_(path) {
        options_.scaleDenominator = options.scaleDenominator;
        options_.originX = options.originX;
        options_.originY = options.originY;
        options_.layers = options.layers;
    }
    int pages() const override { return 1; }
    bool Plan(int, const Sheet& sheet, int, std::string* error) override {
        plot_ = Plot(path_);
        report_ = DxfReport{};
        return ReadDxf(path_, sheet, options_, &plot_, &report_, error);
    }
    bool Draw(int, const Sheet&, int, Plot* plot, std::string*) override {
        *plot = std::move(plot_);
        return true;
    }
    std::vector<std::string> notes() const override {
        std::vector<std::string> notes;
        for (const std::string& name : report_.unknownLayers)
            notes.push_back("the drawing has no layer named \"" + name + "\"");
        if (!report_.skipped.empty()) notes.push_back("skipped: " + report_.skipped);
        return notes;
    }

  private:
    std::string path_;
    DxfOptions options_;
    Plot plot_;
    DxfReport report_;
};

}  // namespace

std::unique_ptr<Document> OpenDxf(const std::string& path, const DocumentOptions& options,
                                  std::string*) {
    return std::make_unique<DxfPage>(path, options);
}

}  // namespace varnu::host
