// The page, where user units land, pens and line styles: IN, DF, PS, IP,
// IR, SC, IW, RO, SP, PC, CR, NP, PW, WU, LT, UL, FT.
#include <algorithm>
#include <cmath>

#include "readers/hpgl/interpreter.h"
#include "readers/hpgl/limits.h"

namespace varnu::host::hpgl {

namespace {

// The standard line types' shapes, percent of the pattern: dash, gap, ...
const std::array<std::vector<double>, 8> kStandardTypes = {{
    {0, 100},
    {50, 50},
    {70, 30},
    {80, 10, 0, 10},
    {70, 10, 10, 10},
    {50, 10, 10, 10, 10, 10},
    {70, 10, 0, 10, 0, 10},
    {50, 10, 0, 10, 10, 10, 0, 10},
}};

const std::array<Colour, 8> kDefaultColours = {{{255, 255, 255},
                                                {0, 0, 0},
                                                {255, 0, 0},
                                                {0, 255, 0},
                                                {255, 255, 0},
                                                {0, 0, 255},
                                                {255, 0, 255},
                                                {0, 255, 255}}};

}  // namespace

const std::vector<double>& StandardLineType(int type) {
    return kStandardTypes[static_cast<std::size_t>(std::clamp(type, 1, 8) - 1)];
}

void Pens::Defaults() {
    count = 8;
    black = {0, 0, 0};
    white = {255, 255, 255};
    for (int p = 0; p < kPens; ++p) colour[p] = p < 8 ? kDefaultColours[p] : kBlack;
    relativeWidth = false;
    DefaultWidths();
}

void Pens::DefaultWidths() {
    width.fill(relativeWidth ? 0.1 : 0.35);
}

int Pens::Index(int pen) const {
    if (pen <= 0) return 0;
    if (pen < count) return pen;
    return count > 1 ? (pen - 1) % (count - 1) + 1 : 1;  // numbers past the palette wrap round
}

void Lines::Defaults() {
    current = previous = LineType{};
    for (int t = 0; t < 8; ++t) user[t] = kStandardTypes[t];
    redefined.fill(false);
}

void Interpreter::Initialize(bool everything) {
    Flush();
    EndCommand(in_);
    polygonMode_ = false;
    polygon_.clear();
    edgesDown_.clear();
    polygonPoints_ = 0;
    s_.lines.Defaults();
    s_.fill = FillStyle{};
    s_.labels = Labels{};
    s_.frame.scaling = Scaling::Off;
    s_.frame.window = false;
    s_.relative = false;
    s_.chordAngle = 5;
    s_.transparent = true;
    s_.pens.relativeWidth = false;
    s_.pens.DefaultWidths();
    if (!everything) return;
    s_.pens.Defaults();
    s_.pens.selected = 1;
    s_.frame.turn = 0;
    s_.frame.DefaultPoints();
    s_.pen = {0, 0};
    s_.down = false;
}

bool Interpreter::PageSize() {
    double length = 0, width = 0;
    const bool haveLength = NextNumber(in_, &length);
    const bool haveWidth = haveLength && NextNumber(in_, &width);
    EndCommand(in_);
    if (!haveLength) {
        length = std::max(defaultX_, defaultY_);
        width = std::min(defaultX_, defaultY_);
    } else if (!haveWidth) {
        width = std::min(length, std::min(defaultX_, defaultY_));
    }
    if (!(length >= 1 && width >= 1))
        Fail("PS without a page size (" + std::to_string(length) + " x " + std::to_string(width) +
             ")");
    if (length > kMaxPageUnits || width > kMaxPageUnits)
        Fail("a page of " + std::to_string(static_cast<long long>(length)) + " x " +
             std::to_string(static_cast<long long>(width)) +
             " plotter units, larger than any paper (at most 100 m a side)");
    if (drawn_) return false;  // it sizes the next page
    Flush();
    s_.frame.pageX = std::max(length, width);
    s_.frame.pageY = std::min(length, width);
    s_.frame.hardClip = true;
    s_.pageSized = true;
    s_.longEdge = length >= width;
    s_.frame.turn = 0;
    s_.frame.DefaultPoints();
    s_.frame.window = false;
    s_.pen = {0, 0};
    return true;
}

void Interpreter::InputPoints(bool relative) {
    double v[4];
    int n = 0;
    while (n < 4 && NextNumber(in_, &v[n])) ++n;
    EndCommand(in_);
    Frame& f = s_.frame;
    if (n == 0) {
        f.DefaultPoints();
        return;
    }
    if (n != 2 && n != 4) return;
    const Point2 size{f.p2.x - f.p1.x, f.p2.y - f.p1.y};
    for (int i = 0; relative && i < n; ++i)  // percent of the page
        v[i] = v[i] / 100 * (i % 2 == 0 ? f.TurnedX() : f.TurnedY());
    f.p1 = {v[0], v[1]};
    f.p2 = n == 4 ? Point2{v[2], v[3]} : Point2{v[0] + size.x, v[1] + size.y};
    if (f.p2.x == f.p1.x) f.p2.x += 1;  // P1 and P2 never meet
    if (f.p2.y == f.p1.y) f.p2.y += 1;
}

void Interpreter::Scale() {
    double v[7] = {0, 0, 0, 0, 0, 50, 50};
    int n = 0;
    while (n < 7 && NextNumber(in_, &v[n])) ++n;
    EndCommand(in_);
    Frame& f = s_.frame;
    if (n == 0) {
        f.scaling = Scaling::Off;
        return;
    }
    if (n < 4) return;
    const int type = n >= 5 ? static_cast<int>(v[4]) : 0;
    const bool factors = type == 2;
    if (factors ? (v[1] == 0 || v[3] == 0) : (v[0] == v[1] || v[2] == v[3])) return;
    f.scaling = factors     ? Scaling::PointFactor
                : type == 1 ? Scaling::Isotropic
                            : Scaling::Anisotropic;
    f.xmin = v[0], f.xmax = v[1], f.ymin = v[2], f.ymax = v[3];
    f.left = n >= 6 ? std::clamp(v[5], 0.0, 100.0) : 50;
    f.bottom = n >= 7 ? std::clamp(v[6], 0.0, 100.0) : 50;
}

void Interpreter::InputWindow() {
    double v[4];
    int n = 0;
    while (n < 4 && NextNumber(in_, &v[n])) ++n;
    EndCommand(in_);
    Flush();
    Frame& f = s_.frame;
    if (n < 4) {
        f.window = false;
        return;
    }
    const Point2 a = f.Page(f.Plotter({v[0], v[1]})), b = f.Page(f.Plotter({v[2], v[3]}));
    f.window = true;
    f.windowRect = {std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

void Interpreter::Rotate() {
    const int angle = NextInt(in_, 0);
    EndCommand(in_);
    Flush();
    const int turn = ((angle % 360 + 360) % 360) / 90 * 90;
    if (turn == s_.frame.turn) return;
    // The pen keeps its place on the page; P1 and P2 keep their values (IP
    // or IR puts them at the turned page's corners).
    const Point2 page = s_.frame.Page(s_.pen);
    s_.frame.turn = turn;
    s_.pen = s_.frame.Turned(page);
}

void Interpreter::SelectPen() {
    const int pen = NextInt(in_, 0);
    EndCommand(in_);
    Flush();
    s_.pens.selected = std::clamp(pen, 0, 1 << 20);
}

void Interpreter::PenColour() {
    double v[4];
    int n = 0;
    while (n < 4 && NextNumber(in_, &v[n])) ++n;
    EndCommand(in_);
    Flush();
    Pens& p = s_.pens;
    if (n == 0) {
        const Pens defaults = [] {
            Pens d;
            d.Defaults();
            return d;
        }();
        p.colour = defaults.colour;
        return;
    }
    const int pen = static_cast<int>(v[0]);
    if (n != 4 || pen < 0 || pen >= kPens) return;
    double c[3];
    for (int i = 0; i < 3; ++i) {
        const double span = p.white[i] - p.black[i];
        c[i] = span == 0 ? 0 : std::clamp(255 * (v[i + 1] - p.black[i]) / span, 0.0, 255.0);
    }
    p.colour[pen] = {c[0], c[1], c[2]};
}

void Interpreter::ColourRange() {
    double v[6];
    int n = 0;
    while (n < 6 && NextNumber(in_, &v[n])) ++n;
    EndCommand(in_);
    if (n == 0) {
        s_.pens.black = {0, 0, 0};
        s_.pens.white = {255, 255, 255};
    } else if (n == 6) {
        for (int i = 0; i < 3; ++i) s_.pens.black[i] = v[2 * i], s_.pens.white[i] = v[2 * i + 1];
    }
}

void Interpreter::PenCount() {
    const int n = NextInt(in_, 8);
    EndCommand(in_);
    // A power of two from 2 to 256.
    int count = 2;
    while (count < n && count < kPens) count *= 2;
    s_.pens.count = count;
}

void Interpreter::PenWidth() {
    double width = 0, pen = -1;
    const bool given = NextNumber(in_, &width);
    NextNumber(in_, &pen);
    EndCommand(in_);
    Flush();
    if (!given) {
        s_.pens.DefaultWidths();
        return;
    }
    width = std::clamp(width, 0.0, s_.pens.relativeWidth ? 100.0 : 1000.0);
    if (pen < 0)
        s_.pens.width.fill(width);
    else if (pen < kPens)
        s_.pens.width[static_cast<std::size_t>(pen)] = width;
}

void Interpreter::WidthUnits() {
    const int unit = NextInt(in_, 0);
    EndCommand(in_);
    Flush();
    s_.pens.relativeWidth = unit == 1;
    s_.pens.DefaultWidths();
}

void Interpreter::LineTypeCommand() {
    double type = 0, length = 4, mode = 0;
    const bool given = NextNumber(in_, &type);
    const bool lengthGiven = given && NextNumber(in_, &length);
    if (lengthGiven) NextNumber(in_, &mode);
    EndCommand(in_);
    Flush();
    Lines& l = s_.lines;
    if (given && type == 99) {
        std::swap(l.current, l.previous);
        return;
    }
    l.previous = l.current;
    l.current = LineType{};
    const int t = static_cast<int>(std::fabs(type));
    if (!given || t > 8) return;  // solid; unknown types too
    l.current.solid = false;
    l.current.type = t;
    l.current.adaptive = type < 0;
    l.current.metric = mode == 1;
    l.current.length = lengthGiven && length > 0 ? std::min(length, 1e6) : 4;
}

void Interpreter::UserLineType() {
    double index = 0, v[20];
    int n = 0;
    const bool given = NextNumber(in_, &index);
    while (given && n < 20 && NextNumber(in_, &v[n])) ++n;
    EndCommand(in_);
    Lines& l = s_.lines;
    const int t = static_cast<int>(std::fabs(index));
    if (!given) {
        for (int i = 0; i < 8; ++i) l.user[i] = kStandardTypes[i], l.redefined[i] = false;
        return;
    }
    if (t < 1 || t > 8) return;
    double total = 0;
    for (int i = 0; i < n; ++i) total += std::max(v[i], 0.0);
    if (n == 0 || total <= 0) {
        l.user[t - 1] = kStandardTypes[t - 1];
        l.redefined[t - 1] = false;
        return;
    }
    l.user[t - 1].clear();
    for (int i = 0; i < n; ++i) l.user[t - 1].push_back(std::max(v[i], 0.0) * 100 / total);
    l.redefined[t - 1] = true;
}

void Interpreter::FillType() {
    double v[3] = {1, 0, 0};
    int n = 0;
    while (n < 3 && NextNumber(in_, &v[n])) ++n;
    EndCommand(in_);
    FillStyle& f = s_.fill;
    const int type = n == 0 ? 1 : static_cast<int>(v[0]);
    f.type = type;
    if (type == 3 || type == 4) {
        if (n >= 2) f.spacing = std::max(v[1], 0.0);
        if (n >= 3) f.angle = v[2];
    } else if (type == 10) {
        f.level = n >= 2 ? std::clamp(v[1], 0.0, 100.0) : f.level;
    } else if (type != 1 && type != 2) {
        ++skipped_["fill type " + std::to_string(type) + " (drawn shaded)"];
    }
}

}  // namespace varnu::host::hpgl
