#include "readers/dxf/entities.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace varnu::host::dxf {

int StandardLineType(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    static const std::pair<const char*, int> kKnown[] = {
        {"DOT", 1},     {"DASHED", 2},  {"HIDDEN", 3}, {"CENTER", 4},
        {"PHANTOM", 5}, {"DASHDOT", 6}, {"DIVIDE", 7}, {"BORDER", 8}};
    for (const auto& [prefix, type] : kKnown)
        if (name.rfind(prefix, 0) == 0) return type;
    return 0;
}

int LineTypeOf(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    if (name.empty() || name == "CONTINUOUS" || name == "BYLAYER" || name == "BYBLOCK") return 0;
    if (const int type = StandardLineType(name)) return type;
    return 1 + static_cast<int>(std::hash<std::string>{}(name) % 8);
}

int Reader::LineTypeId(const std::string& name) {
    std::string upper = Upper(name);
    if (upper.empty() || upper == "BYLAYER" || upper == "BYBLOCK") upper = "CONTINUOUS";
    const auto [it, added] = lineTypeIds_.emplace(upper, static_cast<int>(lineTypes.size()));
    if (added) lineTypes.push_back({upper, false, {}});
    return it->second;
}

void Reader::setVariableString(const std::string& key, const std::string& value, int) {
    if (key == "$DWGCODEPAGE") codePage_ = value;
    if (key == "$DIMBLK") dimHeader_.arrowBlock = value;
}

void Reader::addLayer(const DL_LayerData& data) {
    const DL_Attributes a = getAttributes();
    const std::string name = Upper(data.name);
    layerNames.insert(name);
    layerOff[name] = a.getColor() < 0;
    layerFrozen[name] = (data.flags & 1) != 0;
    layers_[name] = {std::abs(a.getColor()) % 256 == 0 ? 7 : std::abs(a.getColor()) % 256,
                     LineTypeId(a.getLinetype()), 1,
                     a.getWidth() > 0 ? a.getWidth() / 100.0 : 0.25};
}

void Reader::addBlock(const DL_BlockData& data) {
    current_ = data.name;
    basePoints_[data.name] = {data.bpx, data.bpy};
}

void Reader::addArc(const DL_ArcData& a) {
    const Point2 c{a.cx, a.cy};
    const double r = a.radius, a0 = a.angle1 * M_PI / 180, a1 = a.angle2 * M_PI / 180;
    Entity e = Path({}, false);
    e.curve = [=](double tolerance) { return ArcPoints(c, r, r, 0, a0, a1, tolerance); };
    Add(Planar(std::move(e)));
}

void Reader::addCircle(const DL_CircleData& cd) {
    const Point2 c{cd.cx, cd.cy};
    const double r = cd.radius;
    Entity e = Path({}, true);
    e.curve = [=](double tolerance) { return ArcPoints(c, r, r, 0, 0, 2 * M_PI, tolerance); };
    Add(Planar(std::move(e)));
}

void Reader::addEllipse(const DL_EllipseData& el) {
    const Point2 c{el.cx, el.cy};
    const double major = std::hypot(el.mx, el.my), rotation = std::atan2(el.my, el.mx);
    // The sweep turns about the extrusion: seen from above, clockwise for (0, 0, -1).
    const double ratio = getExtrusion()->getDirection()[2] < 0 ? -el.ratio : el.ratio;
    const double a0 = el.angle1, a1 = el.angle2;
    Entity e = Path({}, false);
    e.curve = [=](double tolerance) {
        return ArcPoints(c, major, major * ratio, rotation, a0, a1, tolerance);
    };
    Add(std::move(e));
}

void Reader::addPolyline(const DL_PolylineData& data) {
    FinishPolyline();
    polyline_ = std::make_unique<Entity>(Path({}, (data.flags & 1) != 0));
    polylineOcs_ = (data.flags & 8) != 0 ? Transform{} : Ocs();  // 3-D polylines are in world
    vertices_.clear();
    widths_.clear();
    const Records::Object* r = Current();
    if (!r || r->type < 0 || kTypes[r->type] != "LWPOLYLINE") return;
    double all = 0;
    for (const auto& [code, value] : Pairs()) {
        const double v = std::strtod(value.c_str(), nullptr);
        if (code == 43) all = v;
        if (code == 10) widths_.emplace_back(all, all);
        if (code == 40 && !widths_.empty()) widths_.back().first = v;
        if (code == 41 && !widths_.empty()) widths_.back().second = v;
    }
}

void Reader::addVertex(const DL_VertexData& v) {
    if (polyline_) vertices_.push_back({v.x, v.y, v.bulge});
}

void Reader::addSpline(const DL_SplineData& data) {
    FinishPolyline();
    spline_ = std::make_unique<Entity>(Path({}, (data.flags & 1) != 0));
    splineDegree_ = static_cast<int>(data.degree);
    control_.clear();
    knots_.clear();
    fit_.clear();
}

void Reader::addControlPoint(const DL_ControlPointData& p) {
    control_.push_back({p.x, p.y});
}

void Reader::addInsert(const DL_InsertData& data) {
    Entity e = Begin(Entity::Kind::Insert);
    e.block = data.name;
    const double angle = data.angle * M_PI / 180;
    const double sx = data.sx == 0 ? 1 : data.sx, sy = data.sy == 0 ? 1 : data.sy;
    e.place = {sx * std::cos(angle),
               sx * std::sin(angle),
               -sy * std::sin(angle),
               sy * std::cos(angle),
               data.ipx,
               data.ipy};
    const int cols = std::clamp(data.cols, 1, kMaxArray),
              rows = std::clamp(data.rows, 1, kMaxArray);
    if (data.cols > kMaxArray || data.rows > kMaxArray) ++skipped["INSERT array cut to 100 x 100"];
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            Entity copy = e;
            copy.place.e += c * data.colSp * std::cos(angle) - r * data.rowSp * std::sin(angle);
            copy.place.f += c * data.colSp * std::sin(angle) + r * data.rowSp * std::cos(angle);
            Add(Planar(std::move(copy)));
        }
}

void Reader::Dimension() {
    const std::string name = ValueOf(2), own = DrawDimension();
    if (name.empty() && own.empty()) {
        ++skipped["DIMENSION"];
        return;
    }
    Entity e = Begin(Entity::Kind::Insert);
    e.block = name.empty() ? own : name;
    e.fallback = own;
    e.dimension = true;
    Add(Planar(std::move(e)));
}

void Reader::addDimDiametric(const DL_DimensionData&, const DL_DimDiametricData&) {
    Dimension();
}

void Reader::addDimAngular(const DL_DimensionData&, const DL_DimAngular2LData&) {
    Dimension();
}

void Reader::addDimAngular3P(const DL_DimensionData&, const DL_DimAngular3PData&) {
    Dimension();
}

void Reader::addDimOrdinate(const DL_DimensionData&, const DL_DimOrdinateData&) {
    Dimension();
}

void Reader::addLeader(const DL_LeaderData& data) {
    FinishPolyline();
    leader_ = std::make_unique<Entity>(Path({}, false));
    leaderArrow_ = data.arrowHeadFlag == 1;
}

void Reader::addLeaderVertex(const DL_LeaderVertexData& v) {
    if (leader_) {
        if (leader_->rings.empty()) leader_->rings.emplace_back();
        leader_->rings.back().push_back({v.x, v.y});
    }
}

void Reader::setVariableDouble(const std::string& key, double value, int) {
    if (key == "$DIMASZ") arrowSize_ = dimHeader_.arrow = value;
    if (key == "$DIMSCALE") dimScale_ = dimHeader_.scale = value;
    if (key == "$DIMTXT") dimHeader_.text = value;
    if (key == "$DIMEXO") dimHeader_.extensionOffset = value;
    if (key == "$DIMEXE") dimHeader_.extensionBeyond = value;
    if (key == "$DIMLFAC") dimHeader_.factor = value;
    if (key == "$LTSCALE" && value > 0 && std::isfinite(value)) lineTypeScale = value;
}

void Reader::setVariableInt(const std::string& key, int value, int) {
    if (key == "$DIMDEC") dimHeader_.decimals = value;
    if (key == "$DIMADEC") dimHeader_.angleDecimals = value;
    if (key == "$DIMZIN") dimHeader_.zeros = value;
    if (key == "$DIMAZIN") dimHeader_.angleZeros = value;
}

void Reader::addHatch(const DL_HatchData& data) {
    FinishPolyline();
    hatch_ = std::make_unique<Entity>(Begin(Entity::Kind::Fill));
    hatchOcs_ = Ocs();
    hatchSolid_ = data.solid;
    hatchLines_.clear();
    hatchEdges_.clear();
    // The pattern's line families (78), each an angle (53), base point
    // (43, 44), offset between its lines (45, 46) and dashes (79, 49),
    // scaled and turned as the hatch draws them.
    if (!data.solid) {
        bool pattern = false;
        for (const auto& [code, value] : Pairs()) {
            const double v = std::strtod(value.c_str(), nullptr);
            if (code == 78) pattern = true;
            if (!pattern) continue;
            if (code == 53 && hatchLines_.size() < 64)
                hatchLines_.push_back({v * M_PI / 180, {0, 0}, {0, 0}, {}});
            if (hatchLines_.empty()) continue;
            PatternLine& line = hatchLines_.back();
            if (code == 43) line.base.x = v;
            if (code == 44) line.base.y = v;
            if (code == 45) line.offset.x = v;
            if (code == 46) line.offset.y = v;
            if (code == 49 && line.dashes.size() < 64) line.dashes.push_back(v);
        }
    }
}

void Reader::addHatchLoop(const DL_HatchLoopData&) {
    if (hatch_) hatchEdges_.emplace_back();
}

void Reader::addHatchEdge(const DL_HatchEdgeData& e) {
    if (!hatch_ || hatchEdges_.empty()) return;
    Ring& ring = hatchEdges_.back().emplace_back();
    if (!e.vertices.empty()) {
        // Chords within a thousandth of the loop's size.
        std::vector<BulgeVertex> vertices;
        double low = 1e300, high = -1e300;
        for (const auto& v : e.vertices)
            if (v.size() >= 2) {
                vertices.emplace_back(v[0], v[1], v.size() >= 3 ? v[2] : 0);
                low = std::min({low, v[0], v[1]}), high = std::max({high, v[0], v[1]});
            }
        ring = BulgedPolyline(vertices, true, std::max(high - low, 1e-9) * 1e-3);
    } else if (e.type == 1) {
        ring.push_back({e.x1, e.y1});
        ring.push_back({e.x2, e.y2});
    } else if (e.type == 2) {
        double a0 = e.angle1, a1 = e.angle2;
        if (!e.ccw) std::swap(a0, a1);
        Ring arc = ArcPoints({e.cx, e.cy}, e.radius, e.radius, 0, a0, a1, e.radius * 0.01);
        if (!e.ccw) std::reverse(arc.begin(), arc.end());
        ring.insert(ring.end(), arc.begin(), arc.end());
    } else if (e.type == 3) {
        const double major = std::hypot(e.mx, e.my);
        Ring arc = ArcPoints({e.cx, e.cy}, major, major * e.ratio, std::atan2(e.my, e.mx), e.angle1,
                             e.angle2, major * 0.01);
        if (!e.ccw) std::reverse(arc.begin(), arc.end());
        ring.insert(ring.end(), arc.begin(), arc.end());
    } else if (e.type == 4) {
        std::vector<Point2> control;
        for (const auto& p : e.controlPoints)
            if (p.size() >= 2) control.push_back({p[0], p[1]});
        Ring s = SplinePoints(control, e.knots, static_cast<int>(e.degree), 64);
        ring.insert(ring.end(), s.begin(), s.end());
    }
}

void Reader::Finish() {
    FinishLeader();
    FinishPolyline();
    FinishHatch();
    mtextChunks_.clear();  // pieces of an MTEXT the file ends inside
}

void Reader::endSection() {
    FinishLeader();
    if (const Records::Object* r = Current(); r && r->type >= 0) {
        const std::string_view type = kTypes[r->type];
        // The printer's pens have no white to wipe out with.
        if (type == "WIPEOUT") ++skipped["WIPEOUT"];
        if (type == "MULTILEADER" || type == "MLEADER") ++skipped["MLEADER"];
        if (type == "LTYPE") DefineLineType();
        if (type == "MLINE") MultiLine();
        if (type == "DIMSTYLE") DefineDimStyle();
        if (type == "BLOCK_RECORD") blockRecords_[Upper(ValueOf(5))] = ValueOf(2);
        // A layer may be kept from plotting (290 = 0) while it is shown.
        if (type == "LAYER" && !ValueOf(290).empty() && IntOf(290) == 0)
            layerNoPlot.insert(Upper(ValueOf(2)));
        // A constant attribute definition draws its value in every INSERT
        // of its block; the others are templates of the ATTRIBs.
        // In model space, where no INSERT fills it in, a definition shows its
        // tag (2), as CAD programs draw it.
        const int flags = IntOf(70);
        const bool loose = current_.empty() && (flags & 2) == 0;
        if (type == "ATTDEF" && (((flags & 2) != 0 && (flags & 1) == 0) || loose)) {
            const DL_TextData t(RealOf(10), RealOf(20), 0, RealOf(11), RealOf(21), 0, RealOf(40),
                                RealOf(41, 1), IntOf(71), IntOf(72), IntOf(74),
                                ValueOf(loose ? 2 : 1), ValueOf(7), RealOf(50) * M_PI / 180);
            Text(t);
        }
    }
    ++sections_;
}

void Reader::MultiLine() {
    struct Vertex {
        Point2 at{0, 0}, miter{0, 0};
        std::vector<double> offsets;  // of each element along the miter
    };
    std::vector<Vertex> vertices;
    for (const auto& [code, value] : Pairs()) {
        const double v = std::strtod(value.c_str(), nullptr);
        if (code == 11) vertices.emplace_back().at.x = v;
        if (vertices.empty()) continue;
        Vertex& last = vertices.back();
        if (code == 21) last.at.y = v;
        if (code == 13) last.miter.x = v;
        if (code == 23) last.miter.y = v;
        // An element's first parameter (41) after its count (74) is its offset.
        if (code == 74) last.offsets.push_back(std::nan(""));
        if (code == 41 && !last.offsets.empty() && std::isnan(last.offsets.back()))
            last.offsets.back() = v;
    }
    if (vertices.size() < 2 || vertices.size() > kMaxPoints) return;
    const bool closed = (IntOf(71) & 2) != 0;
    for (std::size_t k = 0; k < vertices.front().offsets.size() && k < 64; ++k) {
        Ring line;
        for (const Vertex& v : vertices) {
            const double o = k < v.offsets.size() && std::isfinite(v.offsets[k]) ? v.offsets[k] : 0;
            line.push_back({v.at.x + v.miter.x * o, v.at.y + v.miter.y * o});
        }
        Add(Path(std::move(line), closed));  // in world coordinates
    }
}

// A table entry's dashes (49); shapes and text in a pattern (74) are not drawn.
void Reader::DefineLineType() {
    LineType& type = lineTypes[static_cast<std::size_t>(LineTypeId(ValueOf(2)))];
    type.defined = true;
    type.dashes.clear();
    for (const auto& [code, value] : Pairs()) {
        const double length = std::strtod(value.c_str(), nullptr);
        if (code == 49 && std::isfinite(length) && type.dashes.size() < 64)
            type.dashes.push_back(length);
    }
    if (std::all_of(type.dashes.begin(), type.dashes.end(), [](double d) { return d == 0; }))
        type.dashes.clear();
}

Style Reader::LayerStyle(const std::string& layer) const {
    const auto it = layers_.find(layer);
    return it != layers_.end() ? it->second : Style{};
}

bool Reader::Frozen(const std::string& layer) const {
    const auto it = layerFrozen.find(layer);
    return onlyLayers.empty() && it != layerFrozen.end() && it->second;
}

bool Reader::Plotted(const std::string& layer) const {
    if (!onlyLayers.empty()) return onlyLayers.count(layer) != 0;
    const auto off = layerOff.find(layer);
    return !Frozen(layer) && (off == layerOff.end() || !off->second) && layer != "DEFPOINTS" &&
           layerNoPlot.count(layer) == 0;
}

const Records::Object* Reader::Current() const {
    return sections_ >= 1 && sections_ <= records_.objects.size() ? &records_.objects[sections_ - 1]
                                                                  : nullptr;
}

const std::vector<std::pair<int, std::string>>& Reader::Pairs() const {
    static const std::vector<std::pair<int, std::string>> kNone;
    const auto it = records_.pairs.find(sections_ - 1);
    return it != records_.pairs.end() ? it->second : kNone;
}

std::string Reader::ValueOf(int code) const {
    for (const auto& [c, value] : Pairs())
        if (c == code)
            return value.substr(value.find_first_not_of(' ') == std::string::npos
                                    ? value.size()
                                    : value.find_first_not_of(' '));
    return "";
}

double Reader::RealOf(int code, double otherwise) const {
    const std::string value = ValueOf(code);
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    return end != value.c_str() && std::isfinite(v) ? v : otherwise;
}

void Reader::FinishLeader() {
    if (!leader_) return;
    Entity e = std::move(*leader_);
    leader_.reset();
    if (e.rings.empty() || e.rings[0].size() < 2) return;
    const Ring& r = e.rings[0];
    const double size = arrowSize_ * (dimScale_ > 0 ? dimScale_ : 1);
    const double dx = r[1].x - r[0].x, dy = r[1].y - r[0].y, length = std::hypot(dx, dy);
    if (leaderArrow_ && size > 0 && length > 0) {
        Entity arrow = e;
        arrow.kind = Entity::Kind::Fill;
        // The closed filled arrow: a third as wide as it is long.
        const double ux = dx / length * size, uy = dy / length * size;
        arrow.rings = {{r[0],
                        {r[0].x + ux - uy / 6, r[0].y + uy + ux / 6},
                        {r[0].x + ux + uy / 6, r[0].y + uy - ux / 6}}};
        Add(std::move(arrow));
    }
    Add(std::move(e));
}

Entity Reader::Begin(Entity::Kind kind) {
    Entity e;
    e.kind = kind;
    e.style = StyleNow();
    e.layer = Upper(getAttributes().getLayer());
    layerNames.insert(e.layer);
    if (const Records::Object* r = Current()) e.line = r->line;
    return e;
}

Style Reader::StyleNow() {
    const DL_Attributes a = getAttributes();
    Style s;
    const auto layer = layers_.find(Upper(a.getLayer()));
    const Style layerStyle = layer != layers_.end() ? layer->second : Style{};
    const int colour = a.getColor();
    s.penByLayer = colour == 256 || colour < 0;
    s.pen = s.penByLayer        ? layerStyle.pen
            : colour == 0       ? kByBlock
            : colour % 256 == 0 ? 7
                                : colour % 256;
    const std::string lt = a.getLinetype();
    s.typeByLayer = lt.empty() || lt == "BYLAYER" || lt == "ByLayer";
    s.lineType = s.typeByLayer ? layerStyle.lineType : LineTypeId(lt);
    s.typeScale = a.getLinetypeScale() > 0 ? a.getLinetypeScale() : 1;
    s.widthByLayer = !(a.getWidth() > 0);
    s.widthMm = s.widthByLayer ? layerStyle.widthMm : a.getWidth() / 100.0;
    return s;
}

Transform Reader::Ocs() {
    const double* d = getExtrusion()->getDirection();
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(length > 0) || !std::isfinite(length)) return {};
    const double nx = d[0] / length, ny = d[1] / length, nz = d[2] / length;
    if (nx == 0 && ny == 0 && nz > 0) return {};
    double ax = 0, ay = 0, az = 0;
    if (std::fabs(nx) < 1.0 / 64 && std::fabs(ny) < 1.0 / 64)
        ax = nz, az = -nx;  // world y cross N
    else
        ax = -ny, ay = nx;  // world z cross N
    const double a = std::sqrt(ax * ax + ay * ay + az * az);
    ax /= a, ay /= a, az /= a;
    return {ax, ay, ny * az - nz * ay, nz * ax - nx * az, 0, 0};
}

Entity Reader::Planar(Entity e, const Transform& ocs) {
    if (e.kind == Entity::Kind::Insert) {
        e.place = e.place.Then(ocs);
        return e;
    }
    for (Ring& r : e.rings)
        for (Point2& p : r) p = ocs.Apply(p);
    if (e.shape && !ocs.Identity())
        e.shape = [shape = std::move(e.shape), ocs](int coarseness) {
            std::vector<Ring> rings = shape(coarseness);
            for (Ring& r : rings)
                for (Point2& p : r) p = ocs.Apply(p);
            return rings;
        };
    if (e.curve)
        e.curve = [curve = std::move(e.curve), ocs](double tolerance) {
            Ring ring = curve(tolerance);
            for (Point2& p : ring) p = ocs.Apply(p);
            return ring;
        };
    return e;
}

Entity Reader::Path(Ring points, bool closed) {
    FinishHatch();
    Entity e = Begin(Entity::Kind::Path);
    e.closed = closed;
    if (!points.empty()) e.rings.push_back(std::move(points));
    return e;
}

void Reader::FinishPolyline() {
    FinishHatch();
    if (polyline_) {
        Entity e = std::move(*polyline_);
        polyline_.reset();
        auto vertices = vertices_;
        const bool closed = e.closed;
        const bool wide = widths_.size() == vertices.size() &&
                          std::any_of(widths_.begin(), widths_.end(), [](const auto& w) {
                              return std::fabs(w.first) > 0 || std::fabs(w.second) > 0;
                          });
        if (wide) {
            WidePolyline(std::move(e), vertices);
        } else {
            e.curve = [vertices, closed](double tolerance) {
                return BulgedPolyline(vertices, closed, tolerance);
            };
            Add(Planar(std::move(e), polylineOcs_));
        }
        widths_.clear();
    }
    if (spline_) FinishSpline();
}

// Each segment a filled area from its start width to its end width, an
// arc's flattened chords sharing its widths out along it; bevelled joints,
// a closed polyline's last segment joined to its first too.
void Reader::WidePolyline(Entity e, const std::vector<BulgeVertex>& vertices) {
    const bool closed = e.closed;
    const std::size_t n = vertices.size(), segments = closed ? n : n - 1;
    e.curve = nullptr;
    e.closed = false;
    Entity area = e;
    area.kind = Entity::Kind::Fill;
    Point2 lastNormal{0, 0};  // of the previous segment's end, for the joint
    double lastWidth = 0;
    // The bevel at `p` between the end of a segment and the start of the next.
    const auto joint = [&](Point2 p, Point2 endNormal, double endWidth, Point2 startNormal,
                           double startWidth) {
        const double a = endWidth / 2, b = startWidth / 2;
        area.rings = {{{p.x + endNormal.x * a, p.y + endNormal.y * a},
                       {p.x + startNormal.x * b, p.y + startNormal.y * b},
                       {p.x - endNormal.x * a, p.y - endNormal.y * a},
                       {p.x - startNormal.x * b, p.y - startNormal.y * b}}};
        Add(Planar(area, polylineOcs_));
    };
    Point2 firstNormal{0, 0};  // of the first segment's start, for a closed one's last joint
    double firstWidth = 0;
    for (std::size_t i = 0; i < segments && n >= 2; ++i) {
        const auto [x0, y0, bulge] = vertices[i];
        const double x1 = std::get<0>(vertices[(i + 1) % n]),
                     y1 = std::get<1>(vertices[(i + 1) % n]);
        const auto [w0, w1] = widths_[i];
        // Arcs flattened to chords within a thousandth of their chord's length.
        const double span = std::hypot(x1 - x0, y1 - y0);
        Ring points =
            BulgedPolyline({{x0, y0, bulge}, {x1, y1, 0}}, false, std::max(span, 1e-9) * 1e-3);
        points.push_back({x1, y1});
        if (!(std::fabs(w0) + std::fabs(w1) > 0) || !(span > 0)) {
            Entity line = e;
            line.rings = {std::move(points)};
            Add(Planar(std::move(line), polylineOcs_));
            lastWidth = 0;
            continue;
        }
        std::vector<double> along{0};
        for (std::size_t k = 1; k < points.size(); ++k)
            along.push_back(along.back() + std::hypot(points[k].x - points[k - 1].x,
                                                      points[k].y - points[k - 1].y));
        // Each point offset along the mean of its chords' normals.
        Ring left, right;
        Point2 first{0, 0}, normal{0, 0};
        for (std::size_t k = 0; k < points.size(); ++k) {
            Point2 sum{0, 0};
            for (const std::size_t c : {k, k + 1}) {
                if (c == 0 || c >= points.size()) continue;
                const double dx = points[c].x - points[c - 1].x, dy = points[c].y - points[c - 1].y;
                const double length = std::hypot(dx, dy);
                if (length > 0) sum = {sum.x - dy / length, sum.y + dx / length};
            }
            const double length = std::hypot(sum.x, sum.y);
            normal = length > 0 ? Point2{sum.x / length, sum.y / length} : normal;
            if (k == 0) first = normal;
            const double half =
                (w0 + (w1 - w0) * (along.back() > 0 ? along[k] / along.back() : 0)) / 2;
            left.push_back({points[k].x + normal.x * half, points[k].y + normal.y * half});
            right.push_back({points[k].x - normal.x * half, points[k].y - normal.y * half});
        }
        if (lastWidth > 0) joint({x0, y0}, lastNormal, lastWidth, first, w0);
        if (i == 0) firstNormal = first, firstWidth = w0;
        left.insert(left.end(), right.rbegin(), right.rend());
        area.rings = {std::move(left)};
        Add(Planar(area, polylineOcs_));
        lastNormal = normal;
        lastWidth = w1;
    }
    if (closed && n >= 2 && lastWidth > 0 && firstWidth > 0)
        joint({std::get<0>(vertices[0]), std::get<1>(vertices[0])}, lastNormal, lastWidth,
              firstNormal, firstWidth);
}

void Reader::FinishSpline() {
    Entity e = std::move(*spline_);
    spline_.reset();
    if (control_.size() < 2 && fit_.size() >= 2) {
        auto fit = fit_;
        const bool closed = e.closed;
        e.closed = false;
        e.curve = [fit, closed](double) { return FitPointCurve(fit, closed, 16); };
        Add(std::move(e));
        return;
    }
    auto control = control_;
    auto knots = knots_;
    const int degree = splineDegree_;
    e.curve = [control, knots, degree](double) {
        return SplinePoints(control, knots, degree,
                            std::max<int>(32, 8 * static_cast<int>(control.size())));
    };
    Add(std::move(e));
}

void Reader::FinishHatch() {
    if (!hatch_) return;
    Entity e = std::move(*hatch_);
    hatch_.reset();
    for (auto& edges : hatchEdges_) e.rings.push_back(Chained(std::move(edges)));
    hatchEdges_.clear();
    std::erase_if(e.rings, [](const Ring& r) { return r.size() < 3; });
    if (e.rings.empty()) return;
    if (hatchSolid_) {
        Add(Planar(std::move(e), hatchOcs_));
        return;
    }
    if (hatchLines_.empty()) {
        ++skipped["HATCH (pattern without its lines)"];
        return;
    }
    const auto gaps = [](const PatternLine& l) {
        return !l.dashes.empty() &&
               std::none_of(l.dashes.begin(), l.dashes.end(), [](double d) { return d >= 0; });
    };
    if (std::all_of(hatchLines_.begin(), hatchLines_.end(), gaps)) {
        ++skipped["HATCH (pattern of gaps alone)"];
        return;
    }
    Entity lines = e;
    lines.kind = Entity::Kind::Path;
    lines.style.lineType = 0;  // the pattern's dashes are its own
    lines.rings.clear();
    if (!PatternLines(e.rings, hatchLines_, &lines.rings, &patternBudget_)) {
        ++skipped["HATCH (pattern too dense)"];
        return;
    }
    patternBudget_.dashes -= lines.rings.size();
    if (!lines.rings.empty()) Add(Planar(std::move(lines), hatchOcs_));
}

}  // namespace varnu::host::dxf
