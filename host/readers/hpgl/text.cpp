#include "readers/hpgl/text.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "readers/dxf/text_outlines.h"
#include "readers/hpgl/interpreter.h"
#include "readers/hpgl/limits.h"
#include "readers/hpgl/rtl.h"

namespace varnu::host::hpgl {

namespace {

constexpr double kUnitsPerCm = 400;
constexpr double kUnitsPerPoint = kUnitsPerInch / 72;
// A stroke font's cap height and line spacing to its point size; an
// absolute or relative size's advance to its width and line spacing to its
// height (as GhostPCL draws its stroke font).
constexpr double kCapToPoints = 0.71, kLineToPoints = 4.0 / 3;
constexpr double kAdvanceToWidth = 1.25, kLineToHeight = 1.9;
// The font of fixed-pitch labels; the system's sans-serif where it is missing.
const std::string kFixedFont = "DejaVuSansMono.ttf";

// A byte of the label as UTF-8 (Latin-1 for the upper half).
std::string Utf8(unsigned char c) {
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    return {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
}

const dxf::TextShape& Glyph(unsigned char c, bool proportional) {
    static std::map<std::pair<bool, unsigned char>, dxf::TextShape> glyphs;
    auto found = glyphs.find({proportional, c});
    if (found == glyphs.end())
        found = glyphs
                    .emplace(std::pair{proportional, c},
                             dxf::TextOutlines(Utf8(c), kGlyphCap, true,
                                               proportional ? std::string() : kFixedFont))
                    .first;
    return found->second;
}

}  // namespace

const std::vector<Ring>& GlyphRings(unsigned char c, bool proportional) {
    return Glyph(c, proportional).rings;
}

double GlyphAdvance(unsigned char c, bool proportional) {
    return Glyph(c, proportional).advance;
}

double GlyphDescent(unsigned char c, bool proportional) {
    return Glyph(c, proportional).descent;
}

Cell CellOf(const State& s) {
    const Labels& l = s.labels;
    const Font& f = l.fonts[l.alternate ? 1 : 0];
    const Frame& fr = s.frame;
    Cell cell;
    double sx = 1, sy = 1;  // mirrored by negative sizes
    cell.proportional = f.proportional;
    if (l.size == Labels::Size::Font) {
        cell.cap = f.height * kUnitsPerPoint * kCapToPoints;
        cell.advance = kUnitsPerInch / f.pitch;
        cell.line = f.height * kUnitsPerPoint * kLineToPoints;
    } else {
        const bool rel = l.size == Labels::Size::Relative;
        const double w = l.width * (rel ? std::fabs(fr.p2.x - fr.p1.x) / 100 : kUnitsPerCm);
        const double h = l.height * (rel ? std::fabs(fr.p2.y - fr.p1.y) / 100 : kUnitsPerCm);
        sx = w < 0 ? -1 : 1, sy = h < 0 ? -1 : 1;
        cell.cap = std::fabs(h);
        cell.advance = std::fabs(w) * kAdvanceToWidth;
        cell.line = std::fabs(h) * kLineToHeight;
    }
    // The glyphs widened or narrowed: to fill their cells at a fixed pitch,
    // an H to the width asked for when proportional.
    const double natural = GlyphAdvance('H', cell.proportional) * cell.cap / kGlyphCap;
    const bool fitted = !cell.proportional || l.size != Labels::Size::Font;
    cell.widthScale = sx * (fitted && natural > 0 ? cell.advance / natural : 1);
    if (sy < 0) cell.cap = -cell.cap;
    return cell;
}

Point2 TextDirection(const State& s) {
    Point2 d = s.labels.direction;
    const Frame& f = s.frame;
    if (s.labels.relativeDirection) d = {d.x * (f.p2.x - f.p1.x), d.y * (f.p2.y - f.p1.y)};
    const double n = std::hypot(d.x, d.y);
    return n > 0 ? Point2{d.x / n, d.y / n} : Point2{1, 0};
}

namespace {

// A label laid out along its run, from the pen: each glyph's place, the
// block's extent and where the next character goes.
struct Layout {
    struct Placed {
        unsigned char c;
        double x, y;
    };
    std::vector<Placed> glyphs;
    double width = 0;  // the longest line
    int lines = 1;
    Point2 end{0, 0};
};

// `lineStart`: where a carriage return goes, along the run from the pen.
Layout LayOut(const std::string& text, const Cell& cell, const Labels& l, double lineStart) {
    Layout out;
    double x = 0, y = 0;
    const double extra = l.extraSpace * cell.advance;
    const double scale = cell.cap / kGlyphCap * std::fabs(cell.widthScale);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r') {
            x = lineStart;
        } else if (c == '\n') {
            y -= cell.line * (1 + l.extraLine);
            ++out.lines;
        } else if (c == 8) {
            x -= cell.advance;
        } else if (c >= 32) {
            const double glyph = GlyphAdvance(c, cell.proportional) * scale;
            if (c != ' ') out.glyphs.push_back({c, x, y});
            x += (cell.proportional ? glyph : cell.advance) + extra;
        }
        out.width = std::max(out.width, x);
    }
    out.end = {x, y};
    return out;
}

// Where the block starts against the label's origin (LO).
Point2 OriginOffset(const Layout& layout, const Cell& cell, int origin) {
    const bool away = origin > 10 && origin < 20;
    const int o = away ? origin - 10 : origin >= 1 && origin <= 9 ? origin : 1;
    const double below = (layout.lines - 1) * cell.line;
    const int column = (o - 1) / 3, row = (o - 1) % 3;  // left, centre, right; bottom, middle, top
    Point2 at{-layout.width * column / 2, 0};
    if (o != 1) at.y = row == 0 ? below : row == 1 ? (below - cell.cap) / 2 : -cell.cap;
    if (away) {  // half a cell away from the point
        at.x += column == 0 ? cell.advance / 2 : column == 2 ? -cell.advance / 2 : 0;
        at.y += row == 0 ? cell.line / 2 : row == 2 ? -cell.line / 2 : 0;
    }
    return at;
}

}  // namespace

void Interpreter::DrawText(const std::string& text, bool symbol) {
    Flush();
    Labels& l = s_.labels;
    const Cell cell = CellOf(s_);
    const Point2 d = TextDirection(s_), pen = s_.pen;
    const double crX = (l.lineStart.x - pen.x) * d.x + (l.lineStart.y - pen.y) * d.y;
    const Layout layout = LayOut(text, cell, l, symbol ? 0 : crX);
    const Point2 offset = OriginOffset(layout, cell, symbol ? 5 : l.origin);
    const double slant = l.slant + (l.fonts[l.alternate ? 1 : 0].posture != 0 ? 0.2 : 0);
    auto place = [&](double x, double y) {  // text space to the page
        x += offset.x + slant * (y - offset.y);
        y += offset.y;
        return s_.frame.Page({pen.x + d.x * x - d.y * y, pen.y + d.y * x + d.x * y});
    };
    const double ky = cell.cap / kGlyphCap, kx = std::fabs(ky) * cell.widthScale;
    const Stroke style = StrokeStyle();
    for (const Layout::Placed& g : layout.glyphs) {
        Filled area;
        area.colour = style.colour;
        area.clipped = style.clipped;
        area.clip = style.clip;
        if (sink_->Shapes()) {
            for (const Ring& r : GlyphRings(g.c, cell.proportional)) {
                Ring& placed = area.rings.emplace_back();
                for (const Point2& p : r) placed.push_back(place(g.x + p.x * kx, g.y + p.y * ky));
                pagePoints_ += r.size();
            }
        } else {  // its cell's box stands for it
            const double w = GlyphAdvance(g.c, cell.proportional) * std::fabs(kx);
            const double down = GlyphDescent(g.c, cell.proportional) * ky;
            area.rings.push_back({place(g.x, g.y - down), place(g.x + w, g.y - down),
                                  place(g.x + w, g.y + cell.cap), place(g.x, g.y + cell.cap)});
        }
        if (pagePoints_ > kMaxPagePoints)
            Fail("the page draws more than 20000000 points: refused rather than followed");
        if (area.rings.empty()) continue;
        raster_->FlushPending(sink_);
        sink_->Fill(area);
        MarkDrawn();
    }
    if (symbol) return;
    // Line feeds move the carriage return point down with the label.
    l.lineStart = {l.lineStart.x - d.y * layout.end.y, l.lineStart.y + d.x * layout.end.y};
    if (l.origin != 1 && l.origin != 11) return;  // the pen stays at the origin
    const Point2 end{layout.end.x + offset.x, layout.end.y + offset.y};
    s_.pen = {pen.x + d.x * end.x - d.y * end.y, pen.y + d.y * end.x + d.x * end.y};
}

}  // namespace varnu::host::hpgl
