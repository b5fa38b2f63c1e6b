// Labels: LB with DT, SI, SR, DI, DR, LO, CP, SD, AD, SS, SA, SL, ES, SM,
// BL and PB, drawn as filled outlines of the system's sans-serif font set
// in the cells a stroke font would use.
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
// absolute size's advance to its width and line spacing to its height.
constexpr double kCapToPoints = 0.71, kLineToPoints = 4.0 / 3;
constexpr double kAdvanceToWidth = 1.25, kLineToHeight = 1.9;
// Glyphs are outlined once, at this cap height, and scaled.
constexpr double kGlyphCap = 100;

// A byte of the label as UTF-8 (Latin-1 for the upper half).
std::string Utf8(unsigned char c) {
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    return {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
}

const dxf::TextShape& Glyph(unsigned char c) {
    static std::map<unsigned char, dxf::TextShape> glyphs;
    auto found = glyphs.find(c);
    if (found == glyphs.end())
        found = glyphs.emplace(c, dxf::TextOutlines(Utf8(c), kGlyphCap)).first;
    return found->second;
}

// The size of a character cell in plotter units: cap height, advance (0:
// the glyph's own) and line spacing.
struct Cell {
    double cap = 0, advance = 0, line = 0;
    double widthScale = 1;  // of the glyphs, across the text
};

Cell CellOf(const State& s) {
    const Labels& l = s.labels;
    const Font& f = l.fonts[l.alternate ? 1 : 0];
    const Frame& fr = s.frame;
    Cell cell;
    double sx = 1, sy = 1;  // mirrored by negative sizes
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
    // The glyphs widened or narrowed so that an H fills its cell as it would.
    const double natural = Glyph('H').advance * cell.cap / kGlyphCap;
    cell.widthScale = sx * (natural > 0 ? cell.advance / natural : 1);
    if (sy < 0) cell.cap = -cell.cap;
    return cell;
}

// The run of the text: a unit vector in plotter units.
Point2 TextDirection(const State& s) {
    Point2 d = s.labels.direction;
    const Frame& f = s.frame;
    if (s.labels.relativeDirection) d = {d.x * (f.p2.x - f.p1.x), d.y * (f.p2.y - f.p1.y)};
    const double n = std::hypot(d.x, d.y);
    return n > 0 ? Point2{d.x / n, d.y / n} : Point2{1, 0};
}

}  // namespace

void Interpreter::DefineTerminator() {
    const int c = in_.Peek();
    if (c == ';' || c < 0) {
        in_.Skip(c < 0 ? 0 : 1);
        s_.labels.terminator = 3;
        s_.labels.printTerminator = false;
        return;
    }
    in_.Skip(1);
    s_.labels.terminator = c;
    s_.labels.printTerminator = NextInt(in_, 1) == 0;
    EndCommand(in_);
}

std::string Interpreter::ReadLabelText() {
    std::string text;
    const std::size_t start = in_.offset();
    for (int c = in_.Get(); c != s_.labels.terminator; c = in_.Get()) {
        if (c < 0) in_.Fail("a label without its terminator", start);
        if (text.size() >= kMaxLabelChars)
            in_.Fail("a label longer than 16384 characters (no terminator?)", start);
        text += static_cast<char>(c);
    }
    if (s_.labels.printTerminator && s_.labels.terminator >= 32)
        text += static_cast<char>(s_.labels.terminator);
    return text;
}

void Interpreter::Label() {
    const std::string text = ReadLabelText();
    if ((labelChars_ += text.size()) > kMaxPageLabelChars)
        Fail("more than 1000000 label characters on a page: refused rather than followed");
    s_.labels.lineStart = s_.pen;
    DrawText(text, false);
}

void Interpreter::CharacterSize(bool relative) {
    double w = 0, h = 0;
    const bool given = NextNumber(in_, &w) && NextNumber(in_, &h);
    EndCommand(in_);
    Labels& l = s_.labels;
    l.size = !given     ? Labels::Size::Font
             : relative ? Labels::Size::Relative
                        : Labels::Size::Absolute;
    l.width = w, l.height = h;
}

void Interpreter::Direction(bool relative) {
    double run = 1, rise = 0;
    const bool given = NextNumber(in_, &run) && NextNumber(in_, &rise);
    EndCommand(in_);
    Labels& l = s_.labels;
    if (!given || (run == 0 && rise == 0)) run = 1, rise = 0;
    l.direction = {run, rise};
    l.relativeDirection = given && relative;
}

void Interpreter::FontDefinition(int which) {
    Font& f = s_.labels.fonts[static_cast<std::size_t>(which)];
    double kind = 0, value = 0;
    bool any = false;
    while (NextNumber(in_, &kind) && NextNumber(in_, &value)) {
        any = true;
        switch (static_cast<int>(kind)) {
            case 2:
                f.proportional = value == 1;
                break;
            case 3:
                if (value > 0) f.pitch = std::min(value, 1000.0);
                break;
            case 4:
                if (value > 0) f.height = std::min(value, 10000.0);
                break;
            case 5:
                f.posture = static_cast<int>(value);
                break;
            case 6:
                f.weight = static_cast<int>(value);
                break;
        }
    }
    EndCommand(in_);
    if (!any) f = Font{};
}

void Interpreter::SymbolMode() {
    const int c = in_.Peek();
    s_.labels.symbol = c > 32 && c != ';' && c < 127 ? c : 0;
    if (s_.labels.symbol != 0) in_.Skip(1);
    EndCommand(in_);
}

void Interpreter::CharacterPlot() {
    double spaces = 0, lines = 0;
    const bool given = NextNumber(in_, &spaces) && NextNumber(in_, &lines);
    EndCommand(in_);
    Flush();
    const Cell cell = CellOf(s_);
    const Point2 d = TextDirection(s_);
    if (!given) {  // carriage return and line feed
        s_.pen = {s_.labels.lineStart.x + d.y * cell.line, s_.labels.lineStart.y - d.x * cell.line};
        s_.labels.lineStart = s_.pen;
        return;
    }
    const double x = spaces * cell.advance, y = -lines * cell.line;
    s_.pen = {s_.pen.x + d.x * x - d.y * y, s_.pen.y + d.y * x + d.x * y};
    if (lines != 0) s_.labels.lineStart = s_.pen;
}

namespace {

// A label laid out along its run: each glyph's place, and the block's extent.
struct Layout {
    struct Placed {
        unsigned char c;
        double x, y;
    };
    std::vector<Placed> glyphs;
    double width = 0;  // the longest line
    int lines = 1;
    Point2 end{0, 0};  // where the next character would go
};

Layout LayOut(const std::string& text, const Cell& cell, const Labels& l, bool proportional) {
    Layout out;
    double x = 0, y = 0;
    const double extra = l.extraSpace * cell.advance;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r') {
            x = 0;
        } else if (c == '\n') {
            y -= cell.line * (1 + l.extraLine);
            ++out.lines;
        } else if (c == 8) {
            x -= cell.advance;
        } else if (c >= 32) {
            const double glyph =
                Glyph(c).advance * cell.cap / kGlyphCap * std::fabs(cell.widthScale);
            if (c != ' ') out.glyphs.push_back({c, x, y});
            x += (proportional ? glyph : cell.advance) + extra;
        }
        out.width = std::max(out.width, x);
    }
    out.end = {x, y};
    return out;
}

// Where the block starts against the label's origin (LO).
Point2 OriginOffset(const Layout& layout, const Cell& cell, int origin) {
    const int o = origin > 10 && origin < 20   ? origin - 10
                  : origin >= 1 && origin <= 9 ? origin
                                               : 1;
    const double below = (layout.lines - 1) * cell.line;
    const int column = (o - 1) / 3, row = (o - 1) % 3;  // left, centre, right; bottom, middle, top
    Point2 at{-layout.width * column / 2, 0};
    if (o != 1) at.y = row == 0 ? below : row == 1 ? (below - cell.cap) / 2 : -cell.cap;
    if (origin > 10 && origin < 20) {  // half a cell away from the point
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
    const Font& font = l.fonts[l.alternate ? 1 : 0];
    const bool proportional = l.size == Labels::Size::Font && font.proportional;
    const Layout layout = LayOut(text, cell, l, proportional);
    const Point2 offset = OriginOffset(layout, cell, symbol ? 5 : l.origin);
    const Point2 d = TextDirection(s_);
    const double slant = l.slant + (font.posture != 0 ? 0.2 : 0);
    const Point2 pen = s_.pen;
    auto place = [&](double x, double y) {  // text space to the page
        x += offset.x + slant * (y - offset.y);
        y += offset.y;
        return s_.frame.Page({pen.x + d.x * x - d.y * y, pen.y + d.y * x + d.x * y});
    };
    const double ky = cell.cap / kGlyphCap, kx = ky * cell.widthScale;
    const Stroke style = StrokeStyle();
    for (const Layout::Placed& g : layout.glyphs) {
        Filled area;
        area.colour = style.colour;
        area.clipped = style.clipped;
        area.clip = style.clip;
        const dxf::TextShape& shape = Glyph(g.c);
        if (sink_->Shapes()) {
            for (const Ring& r : shape.rings) {
                Ring& placed = area.rings.emplace_back();
                for (const Point2& p : r) placed.push_back(place(g.x + p.x * kx, g.y + p.y * ky));
                pagePoints_ += r.size();
            }
        } else {  // its cell's box stands for it
            const double w = shape.advance * std::fabs(kx), down = shape.descent * ky;
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
    if (symbol || (l.origin != 1 && l.origin != 11)) return;
    const Point2 end{layout.end.x + offset.x, layout.end.y + offset.y};
    s_.pen = {pen.x + d.x * end.x - d.y * end.y, pen.y + d.y * end.x + d.x * end.y};
    if (layout.lines > 1) l.lineStart = {pen.x - d.y * layout.end.y, pen.y + d.x * layout.end.y};
}

}  // namespace varnu::host::hpgl
