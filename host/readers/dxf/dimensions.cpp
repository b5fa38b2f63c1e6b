// DIMENSIONs without their block, drawn from their own definition points
// and their dimension style as CAD programs draw them: extension lines,
// the dimension line or arc with filled arrows, and the measurement.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "readers/dxf/entities.h"

namespace varnu::host::dxf {

namespace {

Point2 Unit(Point2 v) {
    const double length = std::hypot(v.x, v.y);
    return length > 0 ? Point2{v.x / length, v.y / length} : Point2{0, 0};
}

double Dot(Point2 a, Point2 b) {
    return a.x * b.x + a.y * b.y;
}

Point2 Along(Point2 p, Point2 direction, double t) {
    return {p.x + direction.x * t, p.y + direction.y * t};
}

// An angle turned to read from below or the right (within (-90, 90] degrees).
double Upright(double angle) {
    while (angle > M_PI / 2 + 1e-9) angle -= M_PI;
    while (angle <= -M_PI / 2 + 1e-9) angle += M_PI;
    return angle;
}

// The angles from a0 to a1 (counter-clockwise) between two of `rays` next
// to each other that hold `at`.
std::pair<double, double> Sector(std::vector<double> rays, double at) {
    for (double& r : rays) r = std::fmod(std::fmod(r, 2 * M_PI) + 2 * M_PI, 2 * M_PI);
    std::sort(rays.begin(), rays.end());
    at = std::fmod(std::fmod(at, 2 * M_PI) + 2 * M_PI, 2 * M_PI);
    for (std::size_t i = 0; i < rays.size(); ++i) {
        const double a0 = rays[i], a1 = i + 1 < rays.size() ? rays[i + 1] : rays[0] + 2 * M_PI;
        if ((at >= a0 && at <= a1) || (at + 2 * M_PI >= a0 && at + 2 * M_PI <= a1)) return {a0, a1};
    }
    return {rays.front(), rays.back()};
}

}  // namespace

// The sizes a dimension is drawn with, in drawing units, its numbers' decimals
// and the zeros they drop, and its arrows.
struct Reader::DimSizes {
    double arrow, height, offset, beyond, factor;
    int decimals, angleDecimals;
    int zeros, angleZeros;  // DIMZIN, DIMAZIN
    bool ticks;             // architectural ticks for arrows
    bool placed;            // its text has its own point (11)
};

void Reader::DimArrow(Point2 tip, Point2 toward, const DimSizes& s) {
    const Point2 u = Unit(toward);
    const double size = s.arrow;
    if (!(size > 0) || (u.x == 0 && u.y == 0)) return;
    Entity arrow = Begin(Entity::Kind::Fill);
    if (s.ticks) {
        // A stroke from (-1/2, -1/2) to (1/2, 1/2) arrow sizes, x along the
        // line: the same at both ends; 0.15 of the size wide.
        const Point2 half{(u.x - u.y) * size / 2, (u.y + u.x) * size / 2};
        const double k = 0.075 * std::sqrt(2.0);
        const Point2 side{-half.y * k, half.x * k};
        arrow.rings = {{{tip.x - half.x - side.x, tip.y - half.y - side.y},
                        {tip.x + half.x - side.x, tip.y + half.y - side.y},
                        {tip.x + half.x + side.x, tip.y + half.y + side.y},
                        {tip.x - half.x + side.x, tip.y - half.y + side.y}}};
        Add(std::move(arrow));
        return;
    }
    // The closed filled arrow: a third as wide as it is long.
    const double ux = u.x * size, uy = u.y * size;
    arrow.rings = {{tip,
                    {tip.x + ux - uy / 6, tip.y + uy + ux / 6},
                    {tip.x + ux + uy / 6, tip.y + uy - ux / 6}}};
    Add(std::move(arrow));
}

// The measurement in the dimension's text: "<>" in it stands for the
// value, an empty text is the value alone, a space no text at all.
void Reader::DimText(const std::string& value, Point2 at, double angle, double height) {
    std::string text = ValueOf(1);
    if (text == " ") return;
    const std::size_t slot = text.find("<>");
    if (text.empty())
        text = value;
    else if (slot != std::string::npos)
        text.replace(slot, 2, value);
    const std::vector<std::vector<Run>> paragraphs =
        MTextParagraphs(Decoded(text), PlainRun(height), height);
    std::vector<Run> runs;
    for (const Run& r : paragraphs.front()) {
        const std::vector<Run> coded = PercentCodes(r.text, WithText(r, ""));
        runs.insert(runs.end(), coded.begin(), coded.end());
    }
    AddText(runs, height, angle, at, 4);
}

namespace {

// `v` with `decimals` places, without its zeros after the point (and the
// point with them) when `trailing`, and without a zero before it when `leading`.
std::string Number(double v, int decimals, bool leading, bool trailing) {
    char printed[64];
    std::snprintf(printed, sizeof printed, "%.*f", std::clamp(decimals, 0, 8), v);
    std::string text = printed;
    if (trailing && text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    const std::size_t zero = text[0] == '-' ? 1 : 0;
    if (leading && text.compare(zero, 2, "0.") == 0) text.erase(zero, 1);
    return text;
}

}  // namespace

bool Reader::ArchitecturalTicks(const DimStyle& style) const {
    std::string name = style.arrowBlock;
    if (!style.arrowRecord.empty()) {
        const auto found = blockRecords_.find(Upper(style.arrowRecord));
        name = found != blockRecords_.end() ? found->second : "";
    }
    name = Upper(name);
    return name == "_ARCHTICK" || name == "ARCHTICK";
}

std::string Reader::DrawDimension() {
    const DimStyle& style = DimStyleOf(ValueOf(3));
    const double scale = style.scale > 0 ? style.scale : 1;
    const auto point = [this](int code) { return Point2{RealOf(code), RealOf(code + 10)}; };
    // The text's point counts when the file says it placed the text there
    // (128), or gives one other than the origin: programs that leave the
    // text where the dimension puts it write the origin or nothing.
    const Point2 text = point(11);
    const bool placed =
        (IntOf(70) & 128) != 0 || (!ValueOf(11).empty() && (text.x != 0 || text.y != 0));
    const DimSizes sizes{style.arrow * scale,
                         style.text * scale,
                         style.extensionOffset * scale,
                         style.extensionBeyond * scale,
                         style.factor,
                         style.decimals,
                         style.angleDecimals,
                         style.zeros,
                         style.angleZeros,
                         ArchitecturalTicks(style),
                         placed};
    const int type = IntOf(70) & 7;
    // What measures nothing is not drawn, nor ordinates.
    const Point2 p13 = point(13), p14 = point(14), p10 = point(10), p15 = point(15);
    if (((type == 0 || type == 1) && p13.x == p14.x && p13.y == p14.y) ||
        ((type >= 2 && type <= 5) && p10.x == p15.x && p10.y == p15.y) || type > 5)
        return "";
    const std::string own = "\x01dimension " + std::to_string(sections_);
    const std::string outer = current_;
    current_ = own;
    if (type == 0 || type == 1) LinearDimension(sizes, type == 1);
    if (type == 3 || type == 4) RadialDimension(sizes, type == 3);
    if (type == 2 || type == 5) AngularDimension(sizes, type == 5);
    current_ = outer;
    return blocks.count(own) != 0 ? own : "";
}

// Rotated (50), or aligned with what it measures: from 13 and 14 to the
// dimension line through 10.
void Reader::LinearDimension(const DimSizes& s, bool aligned) {
    const auto point = [this](int code) { return Point2{RealOf(code), RealOf(code + 10)}; };
    const auto line = [this](Point2 a, Point2 b) { Add(Path({a, b}, false)); };
    const Point2 p1 = point(13), p2 = point(14), d = point(10);
    const double a = RealOf(50) * M_PI / 180;
    const Point2 u = aligned ? Unit({p2.x - p1.x, p2.y - p1.y}) : Point2{std::cos(a), std::sin(a)};
    const Point2 f1 = Along(d, u, Dot({p1.x - d.x, p1.y - d.y}, u));
    const Point2 f2 = Along(d, u, Dot({p2.x - d.x, p2.y - d.y}, u));
    for (const auto& [p, f] : {std::pair{p1, f1}, std::pair{p2, f2}}) {
        const Point2 v = Unit({f.x - p.x, f.y - p.y});
        if (v.x != 0 || v.y != 0) line(Along(p, v, s.offset), Along(f, v, s.beyond));
    }
    line(f1, f2);
    DimArrow(f1, {f2.x - f1.x, f2.y - f1.y}, s);
    DimArrow(f2, {f1.x - f2.x, f1.y - f2.y}, s);
    const Point2 n{-u.y, u.x};
    const Point2 middle{(f1.x + f2.x) / 2, (f1.y + f2.y) / 2};
    DimText(Number(std::fabs(Dot({p2.x - p1.x, p2.y - p1.y}, u)) * s.factor, s.decimals,
                   (s.zeros & 4) != 0, (s.zeros & 8) != 0),
            s.placed ? point(11) : Along(middle, n, s.height), Upright(std::atan2(u.y, u.x)),
            s.height);
}

// A diameter (10 to 15) or a radius (centre 10 to 15).
void Reader::RadialDimension(const DimSizes& s, bool diameter) {
    const auto point = [this](int code) { return Point2{RealOf(code), RealOf(code + 10)}; };
    const auto line = [this](Point2 a, Point2 b) { Add(Path({a, b}, false)); };
    const Point2 p = point(15), q = point(10);
    const double length = std::hypot(p.x - q.x, p.y - q.y);
    line(q, p);
    DimArrow(p, {q.x - p.x, q.y - p.y}, s);
    if (diameter) DimArrow(q, {p.x - q.x, p.y - q.y}, s);
    // Unplaced, the text reads along the line above its middle.
    const double angle = Upright(std::atan2(p.y - q.y, p.x - q.x));
    const Point2 above =
        Along({(p.x + q.x) / 2, (p.y + q.y) / 2}, {-std::sin(angle), std::cos(angle)}, s.height);
    DimText((diameter ? "%%c" : "R") +
                Number(length * s.factor, s.decimals, (s.zeros & 4) != 0, (s.zeros & 8) != 0),
            s.placed ? point(11) : above, angle, s.height);
}

// Between two lines (13-14, 15-10; the arc through 16), or at a vertex (15;
// 13 and 14 on its sides, the arc through 10).
void Reader::AngularDimension(const DimSizes& s, bool vertex) {
    const auto point = [this](int code) { return Point2{RealOf(code), RealOf(code + 10)}; };
    const auto line = [this](Point2 a, Point2 b) { Add(Path({a, b}, false)); };
    Point2 v{0, 0}, at{0, 0};
    std::vector<std::pair<Point2, Point2>> lines;  // each as two of its points
    if (vertex) {
        v = point(15), at = point(10);
        lines = {{v, point(13)}, {v, point(14)}};
    } else {
        const Point2 a = point(13), b = point(14), c = point(15), d = point(10);
        const Point2 first{b.x - a.x, b.y - a.y}, second{d.x - c.x, d.y - c.y};
        const double cross = first.x * second.y - first.y * second.x;
        if (!(std::fabs(cross) > 0)) return;
        const double t = ((c.x - a.x) * second.y - (c.y - a.y) * second.x) / cross;
        v = Along(a, first, t), at = point(16);
        lines = {{a, b}, {c, d}};
    }
    std::vector<double> rays;
    for (const auto& [p, q] : lines) {
        const Point2 far =
            std::hypot(p.x - v.x, p.y - v.y) > std::hypot(q.x - v.x, q.y - v.y) ? p : q;
        const double angle = std::atan2(far.y - v.y, far.x - v.x);
        rays.push_back(angle);
        if (!vertex) rays.push_back(angle + M_PI);
    }
    const double radius = std::hypot(at.x - v.x, at.y - v.y);
    const auto [a0, a1] = Sector(rays, std::atan2(at.y - v.y, at.x - v.x));
    if (!std::isfinite(a0) || !std::isfinite(a1) || !std::isfinite(radius) || !(radius > 0))
        return;  // not a drawing's numbers: nothing to measure
    Entity arc = Path({}, false);
    arc.curve = [v, radius, a0 = a0, a1 = a1](double tolerance) {
        return ArcPoints(v, radius, radius, 0, a0, a1, tolerance);
    };
    Add(std::move(arc));
    for (const double a : {a0, a1}) {
        const Point2 u{std::cos(a), std::sin(a)};
        double reach = 0;  // of the line's points along the ray
        for (const auto& [p, q] : lines)
            for (const Point2 e : {p, q})
                if (std::fabs(u.x * (e.y - v.y) - u.y * (e.x - v.x)) < 1e-9 * (1 + radius))
                    reach = std::max(reach, Dot({e.x - v.x, e.y - v.y}, u));
        if (reach + s.offset < radius)
            line(Along(v, u, reach + s.offset), Along(v, u, radius + s.beyond));
    }
    DimArrow(Along(v, {std::cos(a0), std::sin(a0)}, radius), {-std::sin(a0), std::cos(a0)}, s);
    DimArrow(Along(v, {std::cos(a1), std::sin(a1)}, radius), {std::sin(a1), -std::cos(a1)}, s);
    const double middle = (a0 + a1) / 2;
    DimText(
        Number((a1 - a0) * 180 / M_PI, s.angleDecimals, (s.angleZeros & 1) != 0,
               (s.angleZeros & 2) != 0) +
            "%%d",
        s.placed ? point(11) : Along(v, {std::cos(middle), std::sin(middle)}, radius + s.height),
        Upright(middle + M_PI / 2), s.height);
}

// A dimension style's sizes: DIMSCALE (40), DIMASZ (41), DIMEXO (42),
// DIMEXE (44), DIMTXT (140), DIMLFAC (144), DIMDEC (271), DIMADEC (179);
// its zeros, DIMZIN (78) and DIMAZIN (79), and arrows, DIMBLK by name (5)
// or block record (342), are its own: CAD programs leave out of a style
// the values they start with, and the header's are the current style's.
void Reader::DefineDimStyle() {
    DimStyle style = dimHeader_;
    style.zeros = style.angleZeros = 0;
    style.arrowBlock.clear();
    style.arrowRecord.clear();
    for (const auto& [code, value] : Pairs()) {
        const std::size_t first = value.find_first_not_of(' ');
        if (code == 5) style.arrowBlock = first == std::string::npos ? "" : value.substr(first);
        if (code == 342) style.arrowRecord = first == std::string::npos ? "" : value.substr(first);
        const double v = std::strtod(value.c_str(), nullptr);
        if (!std::isfinite(v)) continue;
        if (code == 40) style.scale = v;
        if (code == 41) style.arrow = v;
        if (code == 42) style.extensionOffset = v;
        if (code == 44) style.extensionBeyond = v;
        if (code == 140) style.text = v;
        if (code == 144) style.factor = v;
        if (code == 271) style.decimals = static_cast<int>(v);
        if (code == 179) style.angleDecimals = static_cast<int>(v);
        if (code == 78) style.zeros = static_cast<int>(v);
        if (code == 79) style.angleZeros = static_cast<int>(v);
    }
    dimStyles_[Upper(ValueOf(2))] = style;
}

const DimStyle& Reader::DimStyleOf(const std::string& name) const {
    const auto it = dimStyles_.find(Upper(name));
    return it != dimStyles_.end() ? it->second : dimHeader_;
}

}  // namespace varnu::host::dxf
