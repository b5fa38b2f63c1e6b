#include "adihost/dxf.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <dxflib/dl_creationadapter.h>
#include <dxflib/dl_dxf.h>
#include <fontconfig/fontconfig.h>
#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string_view>
#include <tuple>

namespace adihost {

namespace {

struct Point2 {
    double x, y;
};
using Ring = std::vector<Point2>;

// A 2-D affine transform: x' = a x + c y + e, y' = b x + d y + f.
struct Transform {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    Point2 Apply(Point2 p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
    Transform Then(const Transform& o) const {  // this, then o
        return {o.a * a + o.c * b, o.b * a + o.d * b,       o.a * c + o.c * d,
                o.b * c + o.d * d, o.a * e + o.c * f + o.e, o.b * e + o.d * f + o.f};
    }
    double Scale() const { return std::sqrt(std::fabs(a * d - b * c)); }
};

struct Style {
    int pen = 7;  // kByBlock: the pen of the INSERT placing it
    int lineType = 0;
    double widthMm = 0.25;
    // Taken from the layer: in a block on layer "0", from the INSERT's layer.
    bool penByLayer = false, typeByLayer = false, widthByLayer = false;
};

constexpr int kByBlock = 0;

struct Entity {
    enum class Kind { Path, Fill, Insert } kind;
    Style style;
    std::string layer = "0";  // upper case, as layer names compare
    int line = 0;             // where the entity starts in the file
    std::vector<Ring>
        rings;  // Path: one open or closed polyline a ring; Fill: the rings of one area
    bool closed = false;
    std::string block;       // Insert
    Transform place;         // Insert
    bool dimension = false;  // Insert: a DIMENSION's own block
    // Curves are kept as functions of a tolerance, flattened once the scale is known.
    std::function<Ring(double tolerance)> curve;
};

constexpr int kMaxInsertDepth = 16;
// Nested arrays of blocks can multiply without end; a drawing that expands
// past this many points is refused rather than allowed to exhaust memory.
constexpr std::size_t kMaxPoints = 2000000;
// Arrays of blocks that draw nothing multiply the work alone: the entities
// visited while expanding are bounded as well.
constexpr std::size_t kMaxVisits = 2000000;
// INSERT arrays are cut to this many columns and rows.
constexpr int kMaxArray = 100;
// Coordinates beyond this (drawing units, after blocks are placed) are not
// a drawing but a broken or hostile file.
constexpr double kMaxCoordinate = 1e12;

// What one expansion may still do.
struct Budget {
    std::size_t points = 0, visits = 0;
    bool Spent() const { return points > kMaxPoints || visits > kMaxVisits; }
};

int LineTypeOf(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    if (name.empty() || name == "CONTINUOUS" || name == "BYLAYER" || name == "BYBLOCK") return 0;
    static const std::pair<const char*, int> kKnown[] = {
        {"DOT", 1},     {"DASHED", 2},  {"HIDDEN", 3}, {"CENTER", 4},
        {"PHANTOM", 5}, {"DASHDOT", 6}, {"DIVIDE", 7}, {"BORDER", 8}};
    for (const auto& [prefix, type] : kKnown)
        if (name.rfind(prefix, 0) == 0) return type;
    return 1 + static_cast<int>(std::hash<std::string>{}(name) % 8);
}

// Points along an arc of radius r around c from angle a0 to a1 (radians,
// counter-clockwise), with chords within `tolerance`.
Ring ArcPoints(Point2 c, double rx, double ry, double rotation, double a0, double a1,
               double tolerance) {
    while (a1 <= a0) a1 += 2 * M_PI;
    const double r = std::max(std::max(rx, ry), 1e-12);
    const double step = 2 * std::acos(std::max(-1.0, 1 - std::min(tolerance / r, 1.0)));
    // At least eight chords a turn: even the coarse measure of the extents is then
    // within 8% of the radius, and the scale it gives not much finer than needed.
    const int n = std::clamp(
        static_cast<int>(std::ceil((a1 - a0) / std::clamp(step, 1e-3, M_PI / 4))), 2, 20000);
    Ring ring;
    for (int i = 0; i <= n; ++i) {
        const double t = a0 + (a1 - a0) * i / n;
        const double x = rx * std::cos(t), y = ry * std::sin(t);
        ring.push_back({c.x + x * std::cos(rotation) - y * std::sin(rotation),
                        c.y + x * std::sin(rotation) + y * std::cos(rotation)});
    }
    return ring;
}

// A B-spline by de Boor's algorithm; the control polygon where the knots do not fit.
Ring SplinePoints(const std::vector<Point2>& control, const std::vector<double>& knots, int degree,
                  int samples) {
    const int n = static_cast<int>(control.size());
    if (n < 2 || degree < 1 || static_cast<int>(knots.size()) != n + degree + 1) return control;
    Ring ring;
    const double t0 = knots[degree], t1 = knots[n];
    if (!(t1 > t0)) return control;
    for (int s = 0; s <= samples; ++s) {
        const double t = std::min(t0 + (t1 - t0) * s / samples, t1 - 1e-12 * (t1 - t0));
        int k = degree;
        while (k < n - 1 && knots[k + 1] <= t) ++k;
        std::vector<Point2> d(control.begin() + (k - degree), control.begin() + k + 1);
        for (int r = 1; r <= degree; ++r)
            for (int j = degree; j >= r; --j) {
                const double denominator = knots[j + 1 + k - r] - knots[j + k - degree];
                const double alpha =
                    denominator > 0 ? (t - knots[j + k - degree]) / denominator : 0;
                d[j] = {(1 - alpha) * d[j - 1].x + alpha * d[j].x,
                        (1 - alpha) * d[j - 1].y + alpha * d[j].y};
            }
        ring.push_back(d[degree]);
    }
    return ring;
}

using Vertex = std::tuple<double, double, double>;  // x, y, bulge

// A polyline's points, each bulge (tan(angle / 4) of the arc to the next
// vertex) flattened with chords within `tolerance`.
Ring BulgedPolyline(const std::vector<Vertex>& vertices, bool closed, double tolerance) {
    Ring ring;
    const std::size_t n = vertices.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto& [x, y, bulge] = vertices[i];
        ring.push_back({x, y});
        if (bulge == 0 || (i + 1 == n && !closed)) continue;
        const auto& [x2, y2, unused] = vertices[(i + 1) % n];
        (void)unused;
        const double chord = std::hypot(x2 - x, y2 - y);
        if (chord == 0) continue;
        const double theta = 4 * std::atan(bulge);
        const double r = chord / (2 * std::sin(theta / 2));
        const double mx = (x + x2) / 2, my = (y + y2) / 2;
        const double h = r * std::cos(theta / 2);
        const double nx = -(y2 - y) / chord, ny = (x2 - x) / chord;
        const Point2 c{mx + nx * h, my + ny * h};
        double a0 = std::atan2(y - c.y, x - c.x), a1 = std::atan2(y2 - c.y, x2 - c.x);
        Ring arc = bulge > 0 ? ArcPoints(c, std::fabs(r), std::fabs(r), 0, a0, a1, tolerance)
                             : ArcPoints(c, std::fabs(r), std::fabs(r), 0, a1, a0, tolerance);
        if (bulge < 0) std::reverse(arc.begin(), arc.end());
        ring.insert(ring.end(), arc.begin() + 1, arc.end() - 1);
    }
    return ring;
}

// The font face of a TrueType or OpenType file a STYLE names ("arial.ttf"),
// found by fontconfig among the system's fonts by its file name; null when
// it has none by that name. Faces are made once and kept.
cairo_font_face_t* FontFace(const std::string& file) {
    static std::map<std::string, cairo_font_face_t*> faces;
    static std::map<std::string, FcPattern*> byName;  // lower-case file names
    static bool listed = false;
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), ::tolower);
        return s;
    };
    const std::string wanted = lower(file.substr(file.find_last_of("/\\") + 1));
    if (wanted.size() < 5 || (wanted.compare(wanted.size() - 4, 4, ".ttf") != 0 &&
                              wanted.compare(wanted.size() - 4, 4, ".otf") != 0))
        return nullptr;
    if (!listed) {
        listed = true;
        FcPattern* all = FcPatternCreate();
        FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_INDEX, nullptr);
        if (FcFontSet* fonts = FcFontList(nullptr, all, objects)) {
            for (int i = 0; i < fonts->nfont; ++i) {
                FcChar8* path = nullptr;
                if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &path) != FcResultMatch)
                    continue;
                const std::string name = reinterpret_cast<const char*>(path);
                FcPatternReference(fonts->fonts[i]);
                byName.emplace(lower(name.substr(name.find_last_of('/') + 1)), fonts->fonts[i]);
            }
            FcFontSetDestroy(fonts);
        }
        FcObjectSetDestroy(objects);
        FcPatternDestroy(all);
    }
    const auto found = byName.find(wanted);
    if (found == byName.end()) return nullptr;
    auto& face = faces[wanted];
    if (!face) face = cairo_ft_font_face_create_for_pattern(found->second);
    return face;
}

// Text as filled outlines from a font, in text units with the baseline
// at 0, and how far its pen advances and its descenders reach below the baseline.
struct TextShape {
    std::vector<Ring> rings;
    double advance = 0, descent = 0;
};
TextShape TextOutlines(const std::string& text, double height, bool outlines = true,
                       const std::string& font = "") {
    TextShape shape;
    if (text.empty() || !(height > 0)) return shape;
    cairo_surface_t* surface = cairo_recording_surface_create(CAIRO_CONTENT_ALPHA, nullptr);
    cairo_t* cr = cairo_create(surface);
    if (cairo_font_face_t* face = FontFace(font))
        cairo_set_font_face(cr, face);
    else
        cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    // Cap height near the text height: size the em at 1.4 times it.
    const double em = 100.0;
    cairo_set_font_size(cr, em);
    const double k = height * 1.4 / em;
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    cairo_font_extents_t metrics;
    cairo_font_extents(cr, &metrics);
    shape.advance = extents.x_advance * k;
    shape.descent = metrics.descent * k;
    if (!outlines) {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        return shape;
    }
    cairo_move_to(cr, 0, 0);
    cairo_text_path(cr, text.c_str());
    cairo_set_tolerance(cr, 0.5);
    cairo_path_t* path = cairo_copy_path_flat(cr);
    std::vector<Ring>& rings = shape.rings;
    for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
        const cairo_path_data_t& h = path->data[i];
        if (h.header.type == CAIRO_PATH_MOVE_TO) rings.emplace_back();
        if ((h.header.type == CAIRO_PATH_MOVE_TO || h.header.type == CAIRO_PATH_LINE_TO) &&
            !rings.empty())
            rings.back().push_back({path->data[i + 1].point.x * k, -path->data[i + 1].point.y * k});
    }
    cairo_path_destroy(path);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    std::erase_if(rings, [](const Ring& r) { return r.size() < 3; });
    return shape;
}

void AppendUtf8(std::string* out, unsigned cp) {
    if (cp < 0x80) {
        *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out += static_cast<char>(0xC0 | cp >> 6);
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out += static_cast<char>(0xE0 | cp >> 12);
        *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A \U+XXXX escape at text[i] appended as UTF-8; its length, 0 when there is none.
std::size_t UnicodeEscape(const std::string& text, std::size_t i, std::string* out) {
    if (i + 7 > text.size() || text[i] != '\\' || (text[i + 1] != 'U' && text[i + 1] != 'u') ||
        text[i + 2] != '+')
        return 0;
    unsigned cp = 0;
    for (std::size_t k = i + 3; k < i + 7; ++k) {
        if (!std::isxdigit(static_cast<unsigned char>(text[k]))) return 0;
        cp = cp * 16 + std::stoul(std::string(1, text[k]), nullptr, 16);
    }
    AppendUtf8(out, cp);
    return 7;
}

// A piece of text drawn alike: its height, pen (0 for the entity's) and lines.
struct Run {
    std::string text;
    double height = 0;
    int pen = 0;
    bool under = false, over = false;
    std::string font;  // a font file of the text's STYLE; "" for the system sans
};

bool SameFormat(const Run& a, const Run& b) {
    return a.height == b.height && a.pen == b.pen && a.under == b.under && a.over == b.over &&
           a.font == b.font;
}

// `run` at the end of `runs`, as part of the last run when drawn alike: each
// run is measured and outlined once.
void Append(std::vector<Run>* runs, const Run& run) {
    if (!runs->empty() && SameFormat(runs->back(), run))
        runs->back().text += run.text;
    else
        runs->push_back(run);
}

std::string Joined(const std::vector<Run>& runs) {
    std::string text;
    for (const Run& r : runs) text += r.text;
    return text;
}

// The %% codes: %%d degree, %%p plus-minus, %%c diameter, %%% percent, %%nnn
// a character code; %%u and %%o turn under- and overlining on and off.
std::vector<Run> PercentCodes(const std::string& text, Run format) {
    std::vector<Run> runs;
    std::string out;
    auto cut = [&]() {
        if (!out.empty()) {
            runs.push_back(format);
            runs.back().text = std::move(out);
        }
        out.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "%%") != 0 || i + 2 >= text.size()) {
            out += text[i];
            continue;
        }
        const char code = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 2])));
        if (code == 'd') {
            AppendUtf8(&out, 0xB0);
        } else if (code == 'p') {
            AppendUtf8(&out, 0xB1);
        } else if (code == 'c') {
            AppendUtf8(&out, 0x2300);
        } else if (code == '%') {
            out += '%';
        } else if (code == 'u' || code == 'o') {
            cut();
            (code == 'u' ? format.under : format.over) ^= true;
        } else if (i + 4 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
                   std::isdigit(static_cast<unsigned char>(text[i + 3])) &&
                   std::isdigit(static_cast<unsigned char>(text[i + 4]))) {
            AppendUtf8(&out, static_cast<unsigned>(std::stoi(text.substr(i + 2, 3))));
            i += 2;
        } else {
            out += text[i];
            continue;
        }
        i += 2;
    }
    cut();
    return runs;
}

bool ValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int n = c < 0x80         ? 0
                      : (c >> 5) == 6  ? 1
                      : (c >> 4) == 14 ? 2
                      : (c >> 3) == 30 ? 3
                                       : -1;
        if (n < 0 || i + n >= text.size()) return false;
        for (int k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
        i += n + 1;
    }
    return true;
}

// `text` from the code page `name` ("ANSI_1252", as $DWGCODEPAGE gives it)
// into UTF-8; false when it cannot be.
bool FromCodePage(const std::string& text, std::string name, std::string* out) {
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    if (name.rfind("ANSI_", 0) == 0) name = "CP" + name.substr(5);
    if (name.rfind("DOS", 0) == 0) name = "CP" + name.substr(3);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in = text;
    out->assign(in.size() * 4 + 4, '\0');
    char* src = in.data();
    char* dst = out->data();
    std::size_t left = in.size(), room = out->size();
    const bool ok = iconv(cd, &src, &left, &dst, &room) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out->resize(out->size() - room);
    return ok;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), ::toupper);
    return text;
}

// The objects of the file as dxflib reads them, each from a group code 0
// (or 9, a header variable) to the next: the n-th is the one dxflib hands
// over before its n-th endSection(). Of most only the line they start on is
// kept (memory stays near the file's size); of the types named here the type,
// and of the first four the group pairs, which dxflib does not pass on.
constexpr std::string_view kTypes[] = {"DIMENSION", "ATTRIB",      "ATTDEF", "HATCH",
                                       "WIPEOUT",   "MULTILEADER", "MLEADER"};
constexpr std::size_t kPairsKept = 4;
struct Records {
    struct Object {
        int line;
        int type;  // index into kTypes, -1 for the others
    };
    std::vector<Object> objects;
    std::map<std::size_t, std::vector<std::pair<int, std::string>>> pairs;  // by object
};

// dxflib makes room for as many points, knots or edges as an entity says it
// has before reading them: a count beyond the pairs the whole file holds is
// refused (`why` says where) rather than allowed to take gigabytes.
struct CountCode {
    std::string_view type;
    int code;
    const char* what;
};
constexpr CountCode kCounts[] = {
    {"LWPOLYLINE", 90, "vertices"},     {"SPLINE", 72, "knots"},
    {"SPLINE", 73, "control points"},   {"SPLINE", 74, "fit points"},
    {"LEADER", 76, "vertices"},         {"HATCH", 91, "boundary loops"},
    {"HATCH", 93, "edges or vertices"}, {"HATCH", 95, "knots"},
    {"HATCH", 96, "control points"},    {"HATCH", 97, "source objects"},
    {"HATCH", 78, "pattern lines"},     {"HATCH", 79, "dash lengths"},
    {"HATCH", 98, "seed points"}};

// Group codes whose values dxflib reads as reals.
bool IsRealCode(long code) {
    return (code >= 10 && code <= 59) || (code >= 110 && code <= 149) ||
           (code >= 210 && code <= 239) || (code >= 460 && code <= 469) ||
           (code >= 1010 && code <= 1059);
}

// Reads the records and mends, line for line, two things dxflib would
// otherwise read differently from file to file, or from run to run:
// - It takes MTEXT angles as radians in files whose comment says a dxflib
//   newer than 2.0.2.0 wrote them, and throws on a bare "dxflib" comment.
//   The comment is renamed so that every file's angles read as degrees.
// - It reads a real from an empty value line as whatever its stack held.
//   An empty real reads as 0.
bool ReadRecords(std::string* textToMend, Records* out, std::string* why) {
    std::string& text = *textToMend;
    Records& records = *out;
    std::vector<std::size_t> zeros;  // where an empty real's value line starts
    const auto pairs = static_cast<long long>(std::count(text.begin(), text.end(), '\n') / 2 + 1);
    std::string_view current;
    std::size_t at = 0;
    int line = 1;
    auto next = [&]() {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string_view value(text.data() + at, end - at);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n'))
            value.remove_suffix(1);
        at = end + 1;
        return value;
    };
    std::vector<std::pair<int, std::string>>* kept = nullptr;
    while (at < text.size()) {
        std::string_view code = next();
        const std::size_t valueAt = at;
        const std::string_view value = at <= text.size() ? next() : std::string_view();
        while (!code.empty() && (code.front() == ' ' || code.front() == '\t'))
            code.remove_prefix(1);
        const int number = std::atoi(std::string(code.substr(0, 16)).c_str());
        const std::size_t first = value.find_first_not_of(" \t");
        const bool comment = code.substr(0, 3) == "999" &&
                             code.find_first_not_of(" \t", 3) == std::string_view::npos;
        if (first == std::string_view::npos) {
            if (IsRealCode(number) && valueAt < text.size()) zeros.push_back(valueAt);
        } else if (comment && value.substr(first, 6) == "dxflib") {
            text[valueAt + first] = 'D';
        }
        if (number == 0 || number == 9) {
            std::string_view type = value;
            while (!type.empty() && (type.front() == ' ' || type.front() == '\t'))
                type.remove_prefix(1);
            while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
                type.remove_suffix(1);
            const auto found = std::find(std::begin(kTypes), std::end(kTypes), type);
            const int index = found == std::end(kTypes) ? -1 : static_cast<int>(found - kTypes);
            kept = index >= 0 && static_cast<std::size_t>(index) < kPairsKept
                       ? &records.pairs[records.objects.size()]
                       : nullptr;
            records.objects.push_back({line, index});
            current = type;
        } else {
            for (const CountCode& c : kCounts) {
                if (c.code != number || c.type != current) continue;
                const long long count = std::atoll(std::string(value.substr(0, 24)).c_str());
                if (count >= 0 && count <= pairs) continue;
                *why = "line " + std::to_string(line + 1) + ": " + std::string(current) + " with " +
                       std::to_string(count) + " " + c.what + ", which the file cannot hold";
                return false;
            }
            if (kept) kept->emplace_back(number, value);
        }
        line += 2;
    }
    if (zeros.empty()) return true;
    std::string mended;
    mended.reserve(text.size() + zeros.size());
    std::size_t from = 0;
    for (const std::size_t z : zeros) {
        mended.append(text, from, z - from).push_back('0');
        from = z;
    }
    mended.append(text, from, std::string::npos);
    text = std::move(mended);
    return true;
}

// One family of a hatch pattern's lines: through base + k offset for every
// whole k, at `angle`, dashed by `dashes` (a dash when positive, a gap when
// negative, a dot when 0) from the base point on.
struct PatternLine {
    double angle = 0;
    Point2 base{0, 0}, offset{0, 0};
    std::vector<double> dashes;
};

// What the patterns of a whole drawing may still draw: dashes, and lines
// times boundary edges tried.
struct PatternBudget {
    std::size_t dashes = kMaxPoints / 2;
    double work = 2e8;
};

// The pattern's lines inside `boundary` (even-odd), each dash a ring of two
// points; false when they would be more than `budget` allows.
bool PatternLines(const std::vector<Ring>& boundary, const std::vector<PatternLine>& families,
                  std::vector<Ring>* out, PatternBudget* budget) {
    std::size_t edges = 0;
    for (const Ring& r : boundary) edges += r.size();
    for (const PatternLine& family : families) {
        const Point2 u{std::cos(family.angle), std::sin(family.angle)}, n{-u.y, u.x};
        const double spacing = family.offset.x * n.x + family.offset.y * n.y;
        if (!(std::fabs(spacing) > 0)) continue;
        double low = 1e300, high = -1e300;
        for (const Ring& r : boundary)
            for (const Point2& p : r) {
                const double d = (p.x - family.base.x) * n.x + (p.y - family.base.y) * n.y;
                low = std::min(low, d), high = std::max(high, d);
            }
        const double first = std::ceil(std::min(low / spacing, high / spacing));
        const double last = std::floor(std::max(low / spacing, high / spacing));
        const double work = (last - first + 1) * static_cast<double>(edges);
        if (!(last - first < 1e6) || work > budget->work) return false;
        budget->work -= work;
        double period = 0;
        for (const double d : family.dashes) period += std::fabs(d);
        // Counted from 0: far from the origin, first + 1 may equal first.
        for (double j = 0; j <= last - first; ++j) {
            const double k = first + j;
            const Point2 o{family.base.x + k * family.offset.x,
                           family.base.y + k * family.offset.y};
            // Where the line crosses the boundary, along it from o.
            std::vector<double> cuts;
            for (const Ring& r : boundary)
                for (std::size_t i = 0; i < r.size(); ++i) {
                    const Point2 p = r[i], q = r[(i + 1) % r.size()];
                    const double dp = (p.x - o.x) * n.x + (p.y - o.y) * n.y;
                    const double dq = (q.x - o.x) * n.x + (q.y - o.y) * n.y;
                    if ((dp > 0) == (dq > 0)) continue;
                    const double tp = (p.x - o.x) * u.x + (p.y - o.y) * u.y;
                    const double tq = (q.x - o.x) * u.x + (q.y - o.y) * u.y;
                    const double t = tp + (tq - tp) * dp / (dp - dq);
                    if (std::isfinite(t)) cuts.push_back(t);  // NaN would break the sort
                }
            std::sort(cuts.begin(), cuts.end());
            auto at = [&](double t) { return Point2{o.x + t * u.x, o.y + t * u.y}; };
            for (std::size_t i = 0; i + 1 < cuts.size(); i += 2) {
                const double a = cuts[i], b = cuts[i + 1];
                if (!(period > 0)) {
                    out->push_back({at(a), at(b)});
                } else {
                    const double origin = std::floor(a / period) * period;
                    const double count = std::ceil((b - origin) / period);
                    if (!(count < static_cast<double>(budget->dashes))) return false;
                    for (double j = 0; j < count; ++j) {
                        double t = origin + j * period;
                        for (const double d : family.dashes) {
                            const double from = std::max(t, a), to = std::min(t + std::fabs(d), b);
                            if (d >= 0 && from <= to) out->push_back({at(from), at(to)});
                            t += std::fabs(d);
                        }
                        if (out->size() > budget->dashes) return false;
                    }
                }
                if (out->size() > budget->dashes) return false;
            }
        }
    }
    return true;
}

// The edges of a boundary loop as one ring, each edge followed by the one
// that starts (or, turned round, ends) where it ends; in the file's order
// when none does, or when there are too many edges to sort.
Ring Chained(std::vector<Ring> edges) {
    std::erase_if(edges, [](const Ring& r) { return r.empty(); });
    Ring ring;
    if (edges.empty()) return ring;
    double size = 0;
    for (const Ring& r : edges)
        for (const Point2& p : r) size = std::max({size, std::fabs(p.x), std::fabs(p.y)});
    const double near = std::max(size, 1.0) * 1e-9;
    auto meets = [&](Point2 a, Point2 b) {
        return std::fabs(a.x - b.x) <= near && std::fabs(a.y - b.y) <= near;
    };
    const bool sort = edges.size() <= 1024;
    std::vector<bool> used(edges.size());
    std::size_t next = 0;
    for (std::size_t n = 0; n < edges.size(); ++n) {
        if (sort && !ring.empty()) {
            next = edges.size();
            bool turn = false;
            for (std::size_t i = 0; i < edges.size() && next == edges.size(); ++i)
                if (!used[i] && (meets(edges[i].front(), ring.back()) ||
                                 (turn = meets(edges[i].back(), ring.back()))))
                    next = i;
            if (next == edges.size())
                next = static_cast<std::size_t>(std::find(used.begin(), used.end(), false) -
                                                used.begin());
            else if (turn)
                std::reverse(edges[next].begin(), edges[next].end());
        }
        used[next] = true;
        ring.insert(ring.end(), edges[next].begin(), edges[next].end());
        ++next;
    }
    return ring;
}

// Collects the entities of every block and of model space.
class Reader : public DL_CreationAdapter {
  public:
    std::map<std::string, std::vector<Entity>> blocks;  // "" is model space
    std::map<std::string, int> skipped;

    void setVariableString(const std::string& key, const std::string& value, int) override {
        if (key == "$DWGCODEPAGE") codePage_ = value;
    }
    // Text that is not UTF-8 is read in the drawing's code page (Windows-1252
    // when it names none); what cannot be is reported and not drawn.
    std::string Decoded(const std::string& text) {
        if (ValidUtf8(text)) return text;
        std::string out;
        const std::string page = codePage_.empty() ? "ANSI_1252" : codePage_;
        if (FromCodePage(text, page, &out)) return out;
        ++skipped["text not in code page " + page];
        return "";
    }

    void addTextStyle(const DL_StyleData& data) override {
        styleFonts_[Upper(data.name)] = data.primaryFontFile;
    }
    std::string FontOf(const std::string& style) const {
        const auto it = styleFonts_.find(Upper(style));
        return it != styleFonts_.end() ? it->second : "";
    }
    void addLayer(const DL_LayerData& data) override {
        const DL_Attributes a = getAttributes();
        const std::string name = Upper(data.name);
        layerNames.insert(name);
        layerOff[name] = a.getColor() < 0;
        layerFrozen[name] = (data.flags & 1) != 0;
        layers_[name] = {std::abs(a.getColor()) % 256 == 0 ? 7 : std::abs(a.getColor()) % 256,
                         LineTypeOf(a.getLinetype()),
                         a.getWidth() > 0 ? a.getWidth() / 100.0 : 0.25};
    }
    void addBlock(const DL_BlockData& data) override {
        current_ = data.name;
        basePoints_[data.name] = {data.bpx, data.bpy};
    }
    void endBlock() override { current_.clear(); }

    void addPoint(const DL_PointData& p) override { Add(Path({{p.x, p.y}, {p.x, p.y}}, false)); }
    void addLine(const DL_LineData& l) override { Add(Path({{l.x1, l.y1}, {l.x2, l.y2}}, false)); }
    void addArc(const DL_ArcData& a) override {
        const Point2 c{a.cx, a.cy};
        const double r = a.radius, a0 = a.angle1 * M_PI / 180, a1 = a.angle2 * M_PI / 180;
        Entity e = Path({}, false);
        e.curve = [=](double tolerance) { return ArcPoints(c, r, r, 0, a0, a1, tolerance); };
        Add(Planar(std::move(e)));
    }
    void addCircle(const DL_CircleData& cd) override {
        const Point2 c{cd.cx, cd.cy};
        const double r = cd.radius;
        Entity e = Path({}, true);
        e.curve = [=](double tolerance) { return ArcPoints(c, r, r, 0, 0, 2 * M_PI, tolerance); };
        Add(Planar(std::move(e)));
    }
    void addEllipse(const DL_EllipseData& el) override {
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
    void addPolyline(const DL_PolylineData& data) override {
        FinishPolyline();
        polyline_ = std::make_unique<Entity>(Path({}, (data.flags & 1) != 0));
        polylineOcs_ = (data.flags & 8) != 0 ? Transform{} : Ocs();  // 3-D polylines are in world
        vertices_.clear();
    }
    void addVertex(const DL_VertexData& v) override {
        if (polyline_) vertices_.push_back({v.x, v.y, v.bulge});
    }
    void endEntity() override { FinishPolyline(); }
    void endSequence() override { FinishPolyline(); }

    void addSpline(const DL_SplineData& data) override {
        FinishPolyline();
        spline_ = std::make_unique<Entity>(Path({}, (data.flags & 1) != 0));
        splineDegree_ = static_cast<int>(data.degree);
        control_.clear();
        knots_.clear();
    }
    void addControlPoint(const DL_ControlPointData& p) override {
        control_.push_back({p.x, p.y});
        FinishSplineIfComplete();
    }
    void addKnot(const DL_KnotData& k) override { knots_.push_back(k.k); }

    void addInsert(const DL_InsertData& data) override {
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
        if (data.cols > kMaxArray || data.rows > kMaxArray)
            ++skipped["INSERT array cut to 100 x 100"];
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                Entity copy = e;
                copy.place.e += c * data.colSp * std::cos(angle) - r * data.rowSp * std::sin(angle);
                copy.place.f += c * data.colSp * std::sin(angle) + r * data.rowSp * std::cos(angle);
                Add(Planar(std::move(copy)));
            }
    }
    void addSolid(const DL_SolidData& s) override { Quad(s); }
    void addTrace(const DL_TraceData& t) override { Quad(t); }
    void addText(const DL_TextData& t) override { Text(t); }
    // Attributes are text placed on their own, after the INSERT they belong
    // to; invisible ones (flag 1) are not drawn.
    void addAttribute(const DL_AttributeData& a) override {
        if ((IntOf(70) & 1) == 0) Text(a);
    }
    // A dimension is drawn from the block it names, as it was last drawn by
    // the program that wrote the file.
    void Dimension() {
        const std::string name = ValueOf(2);
        if (name.empty()) {
            ++skipped["DIMENSION"];
            return;
        }
        Entity e = Begin(Entity::Kind::Insert);
        e.block = name;
        e.dimension = true;
        Add(Planar(std::move(e)));
    }
    void addDimAlign(const DL_DimensionData&, const DL_DimAlignedData&) override { Dimension(); }
    void addDimLinear(const DL_DimensionData&, const DL_DimLinearData&) override { Dimension(); }
    void addDimRadial(const DL_DimensionData&, const DL_DimRadialData&) override { Dimension(); }
    void addDimDiametric(const DL_DimensionData&, const DL_DimDiametricData&) override {
        Dimension();
    }
    void addDimAngular(const DL_DimensionData&, const DL_DimAngular2LData&) override {
        Dimension();
    }
    void addDimAngular3P(const DL_DimensionData&, const DL_DimAngular3PData&) override {
        Dimension();
    }
    void addDimOrdinate(const DL_DimensionData&, const DL_DimOrdinateData&) override {
        Dimension();
    }

    void addLeader(const DL_LeaderData& data) override {
        FinishPolyline();
        leader_ = std::make_unique<Entity>(Path({}, false));
        leaderArrow_ = data.arrowHeadFlag == 1;
    }
    void addLeaderVertex(const DL_LeaderVertexData& v) override {
        if (leader_) {
            if (leader_->rings.empty()) leader_->rings.emplace_back();
            leader_->rings.back().push_back({v.x, v.y});
        }
    }
    void setVariableDouble(const std::string& key, double value, int) override {
        if (key == "$DIMASZ") arrowSize_ = value;
        if (key == "$DIMSCALE") dimScale_ = value;
    }

    void Text(const DL_TextData& t) {
        std::string text;
        const std::string raw = Decoded(t.text);
        for (std::size_t i = 0; i < raw.size(); ++i)
            if (const std::size_t n = UnicodeEscape(raw, i, &text))
                i += n - 1;
            else
                text += raw[i];
        // dxflib gives TEXT's angle in radians already.
        double angle = t.angle, height = t.height;
        std::vector<Run> runs = PercentCodes(text, {"", height, 0, false, false, FontOf(t.style)});
        double widthFactor = t.xScaleFactor > 0 ? t.xScaleFactor : 1;
        int h = t.hJustification, v = t.vJustification;
        const Point2 first{t.ipx, t.ipy}, second{t.apx, t.apy};
        if ((h == 3 || h == 5) && v == 0) {
            // Aligned and fit: the text runs from the first point to the
            // second, aligned scaling its height with its width, fit only its width.
            const double length = std::hypot(second.x - first.x, second.y - first.y);
            const double advance =
                TextOutlines(Joined(runs), height, false, FontOf(t.style)).advance;
            if (length > 0 && advance > 0) {
                angle = std::atan2(second.y - first.y, second.x - first.x);
                if (h == 3) height *= length / (advance * widthFactor);
                if (h == 3)
                    for (Run& r : runs) r.height = height;
                else
                    widthFactor = length / advance;
            }
            AddText(runs, height, angle, first, 0, 0, widthFactor);
            return;
        }
        if (h > 5 || h < 0) h = 0;
        if (v > 3 || v < 0) v = 0;
        // Any alignment but left/baseline places the text at the second point.
        AddText(runs, height, angle, h == 0 && v == 0 ? first : second, h, v, widthFactor);
    }
    void addMText(const DL_MTextData& t) override {
        mtext_ = t;
        mtextChunks_.clear();
        AddMText(t.text);
    }
    void addMTextChunk(const std::string& text) override { mtextChunks_ += text; }

    void addHatch(const DL_HatchData& data) override {
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
    void addHatchLoop(const DL_HatchLoopData&) override {
        if (hatch_) hatchEdges_.emplace_back();
    }
    // Each edge of a loop kept apart: loops need not list them end to end.
    void addHatchEdge(const DL_HatchEdgeData& e) override {
        if (!hatch_ || hatchEdges_.empty()) return;
        Ring& ring = hatchEdges_.back().emplace_back();
        if (!e.vertices.empty()) {
            // Chords within a thousandth of the loop's size.
            std::vector<Vertex> vertices;
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
            Ring arc = ArcPoints({e.cx, e.cy}, major, major * e.ratio, std::atan2(e.my, e.mx),
                                 e.angle1, e.angle2, major * 0.01);
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
    void endHatch() {}

    // Entities we read but do not draw.
    void addXLine(const DL_XLineData&) override { ++skipped["XLINE"]; }
    void addRay(const DL_RayData&) override { ++skipped["RAY"]; }
    void add3dFace(const DL_3dFaceData&) override { ++skipped["3DFACE"]; }
    void addImage(const DL_ImageData&) override { ++skipped["IMAGE"]; }
    void addArcAlignedText(const DL_ArcAlignedTextData&) override { ++skipped["ARCALIGNEDTEXT"]; }

    void Finish() {
        FinishLeader();
        FinishPolyline();
        FinishHatch();
        if (!mtextChunks_.empty() || mtextPending_) AddMText(mtextChunks_);
    }
    std::map<std::string, Point2> basePoints_;

    void SetRecords(Records records) { records_ = std::move(records); }
    // dxflib ends every object with this, after handing it over.
    void endSection() override {
        FinishLeader();
        if (const Records::Object* r = Current(); r && r->type >= 0) {
            const std::string_view type = kTypes[r->type];
            // The printer's pens have no white to wipe out with.
            if (type == "WIPEOUT") ++skipped["WIPEOUT"];
            if (type == "MULTILEADER" || type == "MLEADER") ++skipped["MLEADER"];
            // A constant attribute definition draws its value in every INSERT
            // of its block; the others are templates of the ATTRIBs.
            const int flags = IntOf(70);
            if (type == "ATTDEF" && (flags & 2) != 0 && (flags & 1) == 0) {
                const DL_TextData t(RealOf(10), RealOf(20), 0, RealOf(11), RealOf(21), 0,
                                    RealOf(40), RealOf(41, 1), 0, IntOf(72), IntOf(74), ValueOf(1),
                                    ValueOf(7), RealOf(50) * M_PI / 180);
                Text(t);
            }
        }
        ++sections_;
    }

    // Layers that are off (negative colour) or frozen; every layer named in
    // the table or by an entity.
    std::map<std::string, bool> layerOff, layerFrozen;
    std::set<std::string> layerNames;
    std::set<std::string> onlyLayers;  // the layers to plot; empty for all

    // Layers named to plot are plotted whatever their state.
    Style LayerStyle(const std::string& layer) const {
        const auto it = layers_.find(layer);
        return it != layers_.end() ? it->second : Style{};
    }
    bool Frozen(const std::string& layer) const {
        const auto it = layerFrozen.find(layer);
        return onlyLayers.empty() && it != layerFrozen.end() && it->second;
    }
    // DEFPOINTS holds the points dimensions measure from, never plotted.
    bool Plotted(const std::string& layer) const {
        if (!onlyLayers.empty()) return onlyLayers.count(layer) != 0;
        const auto off = layerOff.find(layer);
        return !Frozen(layer) && (off == layerOff.end() || !off->second) && layer != "DEFPOINTS";
    }

  private:
    // The object dxflib is handing over now.
    const Records::Object* Current() const {
        return sections_ >= 1 && sections_ <= records_.objects.size()
                   ? &records_.objects[sections_ - 1]
                   : nullptr;
    }
    const std::vector<std::pair<int, std::string>>& Pairs() const {
        static const std::vector<std::pair<int, std::string>> kNone;
        const auto it = records_.pairs.find(sections_ - 1);
        return it != records_.pairs.end() ? it->second : kNone;
    }
    // The value of `code` in the object dxflib is handing over; "" or `otherwise` without one.
    std::string ValueOf(int code) const {
        for (const auto& [c, value] : Pairs())
            if (c == code)
                return value.substr(value.find_first_not_of(' ') == std::string::npos
                                        ? value.size()
                                        : value.find_first_not_of(' '));
        return "";
    }
    int IntOf(int code) const { return std::atoi(ValueOf(code).c_str()); }
    double RealOf(int code, double otherwise = 0) const {
        const std::string value = ValueOf(code);
        char* end = nullptr;
        const double v = std::strtod(value.c_str(), &end);
        return end != value.c_str() && std::isfinite(v) ? v : otherwise;
    }
    // A leader's polyline, with a filled arrowhead at its first vertex when it has one.
    void FinishLeader() {
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
    Entity Begin(Entity::Kind kind) {
        Entity e;
        e.kind = kind;
        e.style = StyleNow();
        e.layer = Upper(getAttributes().getLayer());
        layerNames.insert(e.layer);
        if (const Records::Object* r = Current()) e.line = r->line;
        return e;
    }
    Style StyleNow() {
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
        s.lineType = s.typeByLayer ? layerStyle.lineType : LineTypeOf(lt);
        s.widthByLayer = !(a.getWidth() > 0);
        s.widthMm = s.widthByLayer ? layerStyle.widthMm : a.getWidth() / 100.0;
        return s;
    }
    // The current entity's coordinate system seen from above, by the arbitrary
    // axis algorithm; (0, 0, -1) mirrors x.
    Transform Ocs() {
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
    // `e`, drawn in the coordinate system `ocs` (the current entity's by default).
    Entity Planar(Entity e) { return Planar(std::move(e), Ocs()); }
    Entity Planar(Entity e, const Transform& ocs) {
        if (e.kind == Entity::Kind::Insert) {
            e.place = e.place.Then(ocs);
            return e;
        }
        for (Ring& r : e.rings)
            for (Point2& p : r) p = ocs.Apply(p);
        if (e.curve)
            e.curve = [curve = std::move(e.curve), ocs](double tolerance) {
                Ring ring = curve(tolerance);
                for (Point2& p : ring) p = ocs.Apply(p);
                return ring;
            };
        return e;
    }

    Entity Path(Ring points, bool closed) {
        FinishHatch();
        Entity e = Begin(Entity::Kind::Path);
        e.closed = closed;
        if (!points.empty()) e.rings.push_back(std::move(points));
        return e;
    }
    void Add(Entity e) { blocks[current_].push_back(std::move(e)); }

    template <typename Q>
    void Quad(const Q& q) {
        Entity e = Begin(Entity::Kind::Fill);
        // Corners 1, 2, 4, 3 go round the quadrilateral.
        e.rings.push_back({{q.x[0], q.y[0]}, {q.x[1], q.y[1]}, {q.x[3], q.y[3]}, {q.x[2], q.y[2]}});
        Add(Planar(std::move(e)));
    }

    // Text at `at`, placed by the TEXT alignments: h 0 left, 1 centre, 2 right,
    // 4 middle (centred both ways); v 0 baseline, 1 bottom, 2 middle, 3 top
    // (of `height`).
    void AddText(const std::vector<Run>& runs, double height, double angle, Point2 at, int h = 0,
                 int v = 0, double widthFactor = 1) {
        std::vector<TextShape> shapes;
        double width = 0, descent = 0;
        for (const Run& r : runs) {
            shapes.push_back(TextOutlines(r.text, r.height, true, r.font));
            width += shapes.back().advance * widthFactor;
            descent = std::max(descent, shapes.back().descent);
        }
        const double dx = h == 1 || h == 4 ? -width / 2 : h == 2 ? -width : 0;
        const double dy = h == 4 || v == 2 ? -height / 2 : v == 1 ? descent : v == 3 ? -height : 0;
        auto place = [&](double x, double y) {
            return Point2{at.x + (x + dx) * std::cos(angle) - (y + dy) * std::sin(angle),
                          at.y + (x + dx) * std::sin(angle) + (y + dy) * std::cos(angle)};
        };
        double x = 0;
        for (std::size_t k = 0; k < runs.size(); ++k) {
            const Run& run = runs[k];
            const double advance = shapes[k].advance * widthFactor;
            Entity e = Begin(Entity::Kind::Fill);
            if (run.pen > 0) e.style.pen = run.pen, e.style.penByLayer = false;
            for (Ring& r : shapes[k].rings) {
                for (Point2& p : r) p = place(x + p.x * widthFactor, p.y);
                e.rings.push_back(std::move(r));
            }
            if (!e.rings.empty()) Add(Planar(std::move(e)));
            // Under- and overlines a fifth of the height below the baseline and above the caps.
            for (const auto& [on, y] : {std::pair{run.under, -0.2}, std::pair{run.over, 1.2}}) {
                if (!on || !(advance > 0)) continue;
                Entity line = Begin(Entity::Kind::Path);
                if (run.pen > 0) line.style.pen = run.pen, line.style.penByLayer = false;
                line.rings.push_back(
                    {place(x, y * run.height), place(x + advance, y * run.height)});
                Add(Planar(std::move(line)));
            }
            x += advance;
        }
    }
    double Advance(const std::vector<Run>& runs) {
        double advance = 0;
        for (const Run& r : runs) advance += TextOutlines(r.text, r.height, false, r.font).advance;
        return advance;
    }
    // A paragraph broken into lines at spaces to fit `width` (none when 0).
    std::vector<std::vector<Run>> Wrap(const std::vector<Run>& paragraph, double width) {
        if (!(width > 0)) return {paragraph};
        std::vector<std::vector<Run>> words(1);
        for (const Run& run : paragraph)
            for (std::size_t at = 0;;) {
                const std::size_t space = run.text.find(' ', at);
                Run piece = run;
                piece.text = run.text.substr(at, space == std::string::npos ? space : space - at);
                if (!piece.text.empty()) words.back().push_back(std::move(piece));
                if (space == std::string::npos) break;
                words.emplace_back();
                at = space + 1;
            }
        std::vector<std::vector<Run>> lines;
        std::vector<Run> line;
        for (std::size_t k = 0; k < words.size(); ++k) {
            std::vector<Run> longer = line;
            if (k > 0) {
                Run space = longer.empty() ? words[k].empty()
                                                 ? Run{"", mtext_.height, 0, false, false, ""}
                                                 : words[k][0]
                                           : longer.back();
                space.text = " ";
                Append(&longer, space);
            }
            for (const Run& piece : words[k]) Append(&longer, piece);
            if (!line.empty() && Advance(longer) > width) {
                lines.push_back(std::move(line));
                line = words[k];
            } else {
                line = std::move(longer);
            }
        }
        lines.push_back(std::move(line));
        return lines;
    }
    void AddMText(const std::string& chunk) {
        const std::string text = Decoded(mtextChunks_ + chunk);
        // Paragraphs of runs: \H height (absolute, or relative ending in x), \C
        // colour, \L \l underline, \O \o overline, in groups { }; fonts and the
        // other codes with a value are read past.
        Run format{"", mtext_.height, 0, false, false, FontOf(mtext_.style)};
        std::vector<Run> groups;
        std::vector<std::vector<Run>> paragraphs(1);
        auto put = [&](const std::string& piece) {
            Run run = format;
            run.text = piece;
            Append(&paragraphs.back(), run);
        };
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                const char code = text[i + 1];
                if (code == 'P') {
                    paragraphs.emplace_back();
                    ++i;
                    continue;
                }
                std::string character;
                if (const std::size_t n = UnicodeEscape(text, i, &character)) {
                    put(character);
                    i += n - 1;
                    continue;
                }
                if (code == '~' || code == '\\' || code == '{' || code == '}') {
                    if (code == '~')
                        AppendUtf8(&character, 0xA0);  // a space that does not break
                    else
                        character = code;
                    put(character);
                    ++i;
                    continue;
                }
                if (std::string("LlOoKk").find(code) != std::string::npos) {
                    if (code == 'L' || code == 'l') format.under = code == 'L';
                    if (code == 'O' || code == 'o') format.over = code == 'O';
                    ++i;
                    continue;
                }
                const std::size_t end = text.find(';', i);
                if (std::string("ACFHQTWfcp").find(code) != std::string::npos &&
                    end != std::string::npos) {
                    const std::string value = text.substr(i + 2, end - i - 2);
                    char* stop = nullptr;
                    const double number = std::strtod(value.c_str(), &stop);
                    if (code == 'H' && stop != value.c_str() && number > 0 &&
                        std::isfinite(number)) {
                        const bool relative = *stop == 'x' || *stop == 'X';
                        format.height =
                            std::clamp(relative ? format.height * number : number,
                                       mtext_.height * 1e-3, std::max(mtext_.height, 1e-9) * 1e3);
                    }
                    if (code == 'C') {
                        const int pen = std::atoi(value.c_str());
                        format.pen = pen >= 1 && pen <= 255 ? pen : 0;  // 0 and 256: the entity's
                    }
                    i = end;
                    continue;
                }
            }
            if (text[i] == '{') {
                if (groups.size() < 64) groups.push_back(format);
                continue;
            }
            if (text[i] == '}') {
                if (!groups.empty()) format = groups.back(), groups.pop_back();
                continue;
            }
            put(std::string(1, text[i]));
        }
        const double angle = std::atan2(mtext_.diry, mtext_.dirx) +
                             (mtext_.dirx == 0 && mtext_.diry == 0 ? mtext_.angle * M_PI / 180 : 0);
        std::vector<std::vector<Run>> lines;
        for (const auto& paragraph : paragraphs) {
            std::vector<Run> runs;
            for (const Run& r : paragraph) {
                const std::vector<Run> coded = PercentCodes(r.text, r);
                runs.insert(runs.end(), coded.begin(), coded.end());
            }
            for (auto& line : Wrap(runs, mtext_.width)) lines.push_back(std::move(line));
        }
        // Baselines 5/3 of the height apart at spacing factor 1 (of the
        // tallest text in a line); the caps of the first line reach the top,
        // the last baseline is the bottom.
        const double factor = mtext_.lineSpacingFactor > 0 ? mtext_.lineSpacingFactor : 1;
        std::vector<double> down;
        for (const auto& line : lines) {
            double tallest = line.empty() ? mtext_.height : 0;
            for (const Run& r : line) tallest = std::max(tallest, r.height);
            down.push_back(down.empty() ? tallest : down.back() + tallest * 5 / 3 * factor);
        }
        const int attach =
            mtext_.attachmentPoint >= 1 && mtext_.attachmentPoint <= 9 ? mtext_.attachmentPoint : 1;
        const double block = down.back();
        const double lift = attach >= 7 ? block : attach >= 4 ? block / 2 : 0;
        for (std::size_t k = 0; k < lines.size(); ++k) {
            const double d = down[k] - lift;
            AddText(lines[k], mtext_.height, angle,
                    {mtext_.ipx + d * std::sin(angle), mtext_.ipy - d * std::cos(angle)},
                    (attach - 1) % 3);
        }
        mtextChunks_.clear();
        mtextPending_ = false;
    }

    void FinishPolyline() {
        FinishHatch();
        if (polyline_) {
            Entity e = std::move(*polyline_);
            polyline_.reset();
            auto vertices = vertices_;
            const bool closed = e.closed;
            e.curve = [vertices, closed](double tolerance) {
                return BulgedPolyline(vertices, closed, tolerance);
            };
            Add(Planar(std::move(e), polylineOcs_));
        }
        if (spline_) FinishSpline();
    }
    void FinishSplineIfComplete() {}
    void FinishSpline() {
        Entity e = std::move(*spline_);
        spline_.reset();
        auto control = control_;
        auto knots = knots_;
        const int degree = splineDegree_;
        e.curve = [control, knots, degree](double) {
            return SplinePoints(control, knots, degree,
                                std::max<int>(32, 8 * static_cast<int>(control.size())));
        };
        Add(std::move(e));
    }
    void FinishHatch() {
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

    std::string codePage_;
    Records records_;
    std::size_t sections_ = 0;
    std::map<std::string, Style> layers_;
    std::map<std::string, std::string> styleFonts_;  // of each STYLE
    std::string current_;
    std::unique_ptr<Entity> polyline_, spline_, hatch_, leader_;
    bool leaderArrow_ = false;
    double arrowSize_ = 0.18, dimScale_ = 1;
    Transform polylineOcs_, hatchOcs_;
    std::vector<Vertex> vertices_;
    std::vector<Point2> control_;
    std::vector<double> knots_;
    int splineDegree_ = 3;
    bool hatchSolid_ = false;
    std::vector<PatternLine> hatchLines_;
    PatternBudget patternBudget_;
    std::vector<std::vector<Ring>> hatchEdges_;  // of each loop
    DL_MTextData mtext_{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "", "", 0};
    std::string mtextChunks_;
    bool mtextPending_ = false;
};

// A flattened primitive in drawing coordinates.
struct Primitive {
    bool fill;
    Style style;
    std::vector<Ring> rings;
    bool closed;
    int line;  // of the entity in the file
};

// `open` holds the blocks being expanded, outermost first: a block that
// inserts itself, directly or through others, is skipped rather than
// expanded until the depth limit (2^16 copies for a block inserting itself twice).
// What the INSERT placing a block passes to its entities: its layer to
// those on layer "0" for whether they are plotted, its pen to those BYBLOCK.
struct Inherited {
    const std::string& layer;
    int pen;
};

bool ExpandBlock(const Reader& reader, const std::string& block, const Inherited& from,
                 const Transform& t, std::vector<const std::string*>* open, double tolerance,
                 std::vector<Primitive>* out, std::map<std::string, int>* skipped, Budget* budget) {
    const auto it = reader.blocks.find(block);
    if (it == reader.blocks.end()) return true;
    for (const Entity& e : it->second) {
        ++budget->visits;
        if (budget->Spent()) return false;
        const std::string& layer = e.layer == "0" ? from.layer : e.layer;
        Style style = e.style;
        if (&layer != &e.layer) {
            const Style of = reader.LayerStyle(layer);
            if (style.penByLayer) style.pen = of.pen;
            if (style.typeByLayer) style.lineType = of.lineType;
            if (style.widthByLayer) style.widthMm = of.widthMm;
        }
        const int pen = style.pen == kByBlock ? from.pen : style.pen;
        if (e.kind == Entity::Kind::Insert) {
            if (reader.Frozen(layer)) continue;  // a frozen reference hides all it places
            const char* refusal = nullptr;
            if (reader.blocks.count(e.block) == 0)
                refusal = e.dimension ? "DIMENSION" : "INSERT (no such block)";
            else if (std::any_of(open->begin(), open->end(),
                                 [&](const std::string* name) { return *name == e.block; }))
                refusal = "INSERT (block inserts itself)";
            else if (static_cast<int>(open->size()) > kMaxInsertDepth)
                refusal = "INSERT (nested too deep)";
            if (refusal) {
                ++(*skipped)[refusal];
                continue;
            }
            const auto base = reader.basePoints_.find(e.block);
            Transform inner;
            if (base != reader.basePoints_.end())
                inner = {1, 0, 0, 1, -base->second.x, -base->second.y};
            open->push_back(&e.block);
            const bool ok = ExpandBlock(reader, e.block, {layer, pen}, inner.Then(e.place).Then(t),
                                        open, tolerance, out, skipped, budget);
            open->pop_back();
            if (!ok) return false;
            continue;
        }
        if (!reader.Plotted(layer)) continue;
        Primitive p{e.kind == Entity::Kind::Fill, style, {}, e.closed, e.line};
        p.style.pen = pen;
        if (e.curve) {
            const double scale = t.Scale() > 0 ? t.Scale() : 1;
            p.rings.push_back(e.curve(tolerance / scale));
        } else {
            p.rings = e.rings;
        }
        bool inRange = true;
        for (Ring& r : p.rings)
            for (Point2& q : r) {
                q = t.Apply(q);
                inRange = inRange && std::fabs(q.x) <= kMaxCoordinate &&
                          std::fabs(q.y) <= kMaxCoordinate;  // false for NaN too
            }
        if (!inRange) {
            ++(*skipped)["entity with coordinates beyond 1e12 or not numbers"];
            continue;
        }
        std::erase_if(p.rings, [](const Ring& r) { return r.empty(); });
        for (const Ring& r : p.rings) budget->points += r.size();
        if (!p.rings.empty()) out->push_back(std::move(p));
    }
    return !budget->Spent();
}

// The whole drawing (its entities outside blocks); false with `error` set
// past kMaxPoints or kMaxVisits.
bool Expand(const Reader& reader, double tolerance, std::vector<Primitive>* out,
            std::map<std::string, int>* skipped, const std::string& path, std::string* error) {
    // The entities outside blocks are kept as the block "", which an INSERT
    // may name too.
    static const std::string kModelSpace;
    std::vector<const std::string*> open{&kModelSpace};
    Budget budget;
    static const std::string kLayer0 = "0";
    if (ExpandBlock(reader, kModelSpace, {kLayer0, 7}, {}, &open, tolerance, out, skipped, &budget))
        return true;
    *error = path +
             ": the drawing expands to more than 2 million points or block entities (nested block "
             "arrays?)";
    return false;
}

// The parts of the polyline `r` on the sheet [0, w] x [0, h] (host steps),
// each a run of points: what lies beyond is cut at the edge, not pressed onto it.
std::vector<Ring> ClipPolyline(const Ring& r, double w, double h) {
    std::vector<Ring> runs;
    if (r.size() == 1) {
        if (r[0].x >= 0 && r[0].x <= w && r[0].y >= 0 && r[0].y <= h) runs.push_back(r);
        return runs;
    }
    bool open = false;  // the last run ends where this segment starts
    for (std::size_t i = 1; i < r.size(); ++i) {
        const Point2 a = r[i - 1];
        const double dx = r[i].x - a.x, dy = r[i].y - a.y;
        double t0 = 0, t1 = 1;
        bool visible = true;
        for (const auto& [p, q] : {std::pair{-dx, a.x}, std::pair{dx, w - a.x}, std::pair{-dy, a.y},
                                   std::pair{dy, h - a.y}}) {
            if (p == 0) {
                visible = visible && q >= 0;
                continue;
            }
            if (p < 0)
                t0 = std::max(t0, q / p);
            else
                t1 = std::min(t1, q / p);
        }
        if (!visible || t0 > t1) {
            open = false;
            continue;
        }
        if (!open || t0 > 0) runs.push_back({{a.x + t0 * dx, a.y + t0 * dy}});
        runs.back().push_back({a.x + t1 * dx, a.y + t1 * dy});
        open = t1 >= 1;
    }
    return runs;
}

// The part of the area `r` on the sheet [0, w] x [0, h], cut edge by edge.
Ring ClipArea(Ring r, double w, double h) {
    const struct {
        bool y;
        double bound;
        bool below;
    } edges[] = {{false, 0, false}, {false, w, true}, {true, 0, false}, {true, h, true}};
    for (const auto& e : edges) {
        auto at = [&](Point2 q) { return e.y ? q.y : q.x; };
        auto in = [&](Point2 q) { return e.below ? at(q) <= e.bound : at(q) >= e.bound; };
        auto cross = [&](Point2 a, Point2 b) {
            const double t = (e.bound - at(a)) / (at(b) - at(a));
            return Point2{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
        };
        Ring out;
        for (std::size_t i = 0; i < r.size(); ++i) {
            const Point2 prev = r[(i + r.size() - 1) % r.size()], cur = r[i];
            if (in(cur) != in(prev)) out.push_back(cross(prev, cur));
            if (in(cur)) out.push_back(cur);
        }
        r = std::move(out);
    }
    return r;
}

}  // namespace

bool DxfScript(const std::string& path, const PageData& page, const DxfOptions& options,
               Script* script, std::string* skippedReport, std::string* error,
               std::vector<std::string>* unknownLayers) {
    Reader reader;
    DL_Dxf dxf;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = path + ": cannot be read";
        return false;
    }
    std::ostringstream raw;
    raw << file.rdbuf();
    std::string text = std::move(raw).str();
    Records records;
    std::string why;
    if (!ReadRecords(&text, &records, &why)) {
        *error = path + ": " + why;
        return false;
    }
    reader.SetRecords(std::move(records));
    std::istringstream stream(std::move(text));
    try {
        if (!dxf.in(stream, &reader)) {
            *error = path + ": not a readable DXF file";
            return false;
        }
    } catch (const std::exception& e) {
        *error = path + ": " + e.what();
        return false;
    }
    reader.Finish();
    script->path = path;
    for (const std::string& name : options.layers) {
        reader.onlyLayers.insert(Upper(name));
        if (unknownLayers && reader.layerNames.count(Upper(name)) == 0)
            unknownLayers->push_back(name);
    }

    // Host steps per drawing unit, and where the drawing's origin lands.
    const double pageW = page.extentX * page.resolution, pageH = page.extentY * page.resolution;
    std::map<std::string, int> skipped = reader.skipped;
    std::vector<Primitive> primitives;
    double scale = 1, offsetX = 0, offsetY = 0;
    if (options.scaleDenominator > 0) {
        scale = page.resolution / 25.4 / options.scaleDenominator;
        offsetX = options.originX / 25.4 * page.resolution;
        offsetY = options.originY / 25.4 * page.resolution;
        if (!Expand(reader, 0.5 / scale, &primitives, &skipped, path, error)) return false;
    } else {
        // Fit: a coarse flattening only ever underestimates the extents (its
        // points lie on the curves), so the scale it gives is an upper bound;
        // flattened for that scale, the geometry drawn gives the extents.
        std::map<std::string, int> ignore;
        double minX = 0, minY = 0, maxX = 0, maxY = 0;
        auto measure = [&](const std::vector<Primitive>& drawn) {
            minX = minY = 1e300, maxX = maxY = -1e300;
            for (const auto& p : drawn)
                for (const auto& r : p.rings)
                    for (const auto& q : r) {
                        if (!std::isfinite(q.x) || !std::isfinite(q.y)) continue;
                        minX = std::min(minX, q.x), minY = std::min(minY, q.y),
                        maxX = std::max(maxX, q.x), maxY = std::max(maxY, q.y);
                    }
            return maxX >= minX;
        };
        auto fit = [&]() {
            const double w = std::max(maxX - minX, 1e-9), h = std::max(maxY - minY, 1e-9);
            const double margin = 0.02;
            scale = std::min(pageW * (1 - 2 * margin) / w, pageH * (1 - 2 * margin) / h);
            offsetX = (pageW - w * scale) / 2 - minX * scale;
            offsetY = (pageH - h * scale) / 2 - minY * scale;
        };
        std::vector<Primitive> probe;
        if (!Expand(reader, 1e9, &probe, &ignore, path, error)) return false;
        if (!measure(probe)) {
            *error = path + ": nothing to draw";
            return false;
        }
        fit();
        if (!Expand(reader, 0.5 / scale, &primitives, &skipped, path, error)) return false;
        measure(primitives);
        fit();
    }
    if (primitives.empty()) {
        *error = path + ": nothing to draw";
        return false;
    }

    // Requests, with pen, line type and width sent when they change.
    std::ostringstream t;
    int pen = -1, lineType = -1;
    double width = -1;
    const double limit = 65535;
    auto toSteps = [&](Point2 q) { return Point2{q.x * scale + offsetX, q.y * scale + offsetY}; };
    auto step = [&](Point2 q) {
        // Clamped to the host's range; never a NaN into the integer cast.
        const double sx = std::round(q.x), sy = std::round(q.y);
        const double x = std::isnan(sx) ? 0.0 : std::clamp(sx, 0.0, limit);
        const double y = std::isnan(sy) ? 0.0 : std::clamp(sy, 0.0, limit);
        return std::pair<long, long>{static_cast<long>(x), static_cast<long>(y)};
    };
    // The line of the file each request comes from, for the errors that name it.
    std::vector<int> origins;
    auto request = [&](int line) -> std::ostream& {
        origins.push_back(line);
        return t;
    };
    request(0) << "linetypes 8\n";
    for (const Primitive& p : primitives) {
        std::vector<Ring> rings;
        for (const Ring& drawn : p.rings) {
            Ring r;
            for (const Point2& q : drawn) r.push_back(toSteps(q));
            if (p.fill) {
                r = ClipArea(std::move(r), pageW, pageH);
                if (r.size() >= 3) rings.push_back(std::move(r));
                continue;
            }
            if (p.closed && r.size() > 1) r.push_back(r.front());
            for (Ring& run : ClipPolyline(r, pageW, pageH)) rings.push_back(std::move(run));
        }
        if (rings.empty()) continue;
        if (p.style.pen != pen) request(p.line) << "pen " << (pen = p.style.pen) << '\n';
        if (!p.fill && p.style.lineType != lineType)
            request(p.line) << "linetype " << (lineType = p.style.lineType) << '\n';
        if (!p.fill && p.style.widthMm != width)
            request(p.line) << "width " << (width = p.style.widthMm) << "mm\n";
        if (!p.fill) {
            for (const Ring& r : rings) {
                const auto first = step(r.front());
                request(p.line) << "move " << first.first << ' ' << first.second << '\n';
                for (std::size_t i = 1; i < r.size(); ++i) {
                    const auto q = step(r[i]);
                    request(p.line) << "draw " << q.first << ' ' << q.second << '\n';
                }
                if (r.size() == 1)
                    request(p.line) << "draw " << first.first << ' ' << first.second << '\n';
            }
            continue;
        }
        // An area and its holes as one outline: every ring joined to the first
        // by a bridge walked there and back, so even-odd filling keeps the holes.
        std::vector<std::pair<long, long>> outline;
        auto flush = [&]() {
            if (outline.size() >= 3) {
                request(p.line) << "polygon " << p.style.pen;
                for (const auto& q : outline) t << ' ' << q.first << ',' << q.second;
                t << '\n';
            }
            outline.clear();
        };
        for (const Ring& r : rings) {
            if (!outline.empty() && outline.size() + r.size() + 2 > 16000) flush();
            const std::pair<long, long> anchor =
                outline.empty() ? step(r.front()) : outline.front();
            for (const Point2& q : r) outline.push_back(step(q));
            outline.push_back(step(r.front()));
            if (outline.front() != anchor || outline.size() > r.size() + 1)
                outline.push_back(anchor);
        }
        flush();
    }
    Script parsed;
    if (!ParseScriptText(t.str(), path, &parsed, error)) return false;
    script->steps = std::move(parsed.steps);
    for (ScriptStep& s : script->steps)
        if (s.line >= 1 && static_cast<std::size_t>(s.line) <= origins.size() &&
            origins[s.line - 1] > 0)
            s.line = origins[s.line - 1];

    std::ostringstream report;
    for (const auto& [name, count] : skipped)
        report << (report.tellp() > 0 ? ", " : "") << count << ' ' << name;
    *skippedReport = report.str();
    return true;
}

}  // namespace adihost
