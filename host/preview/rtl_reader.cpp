// RTL/GL2: PJL around HP-GL/2, with HP-RTL raster blocks in MMR.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "preview/raster.h"
#include "preview/readers.h"
#include "varnu/pen_palette.h"

namespace varnu::preview {

namespace {

constexpr std::size_t kMaxPath = 4096;        // points stroked at once
constexpr std::size_t kMaxPolygon = 1 << 20;  // points in the polygon buffer
constexpr std::size_t kMaxText = 4096;        // a PJL line, a label, a number

// A stream's number as a whole number for selections: never an out-of-range cast.
int Whole(double v) {
    return std::isnan(v) ? 0 : static_cast<int>(std::clamp(v, -1e9, 1e9));
}

// Where user units land: scaling from P1 and P2 (IP, SC), then the turn of
// the coordinate system (RO) on the sheet, in plotter units (1/1016 inch).
struct Frame {
    double sheetX = 0, sheetY = 0;  // the sheet, x along its longer side
    double p1x = 0, p1y = 0, p2x = 0, p2y = 0;
    bool scaled = false;
    double xmin = 0, xmax = 1, ymin = 0, ymax = 1;
    int turn = 0;  // RO: 0, 90, 180 or 270

    void Defaults() {
        const bool upright = turn % 180 == 0;
        p1x = p1y = 0;
        p2x = upright ? sheetX : sheetY;
        p2y = upright ? sheetY : sheetX;
        scaled = false;
    }
    std::array<double, 2> Plotter(double u, double v) const {
        double x = u, y = v;
        if (scaled) {
            x = p1x + (u - xmin) * (p2x - p1x) / (xmax - xmin);
            y = p1y + (v - ymin) * (p2y - p1y) / (ymax - ymin);
        }
        switch (turn) {
            case 90:
                return {sheetX - y, x};
            case 180:
                return {sheetX - x, sheetY - y};
            case 270:
                return {y, sheetY - x};
            default:
                return {x, y};
        }
    }
    double Diagonal() const { return std::hypot(p2x - p1x, p2y - p1y); }
};

class RtlReader {
  public:
    RtlReader(Input& in, const Options& o, Rendering* out) : in_(in), options_(o), out_(out) {
        for (int p = 0; p < 256; ++p) {
            const auto c = varnu::PenPalette[p];
            greys_[p] = (0.30 * c.red + 0.59 * c.green + 0.11 * c.blue) / 255.0;
        }
        greys_[7] = 0;
    }

    void Read() {
        while (true) {
            const int c = in_.Peek();
            if (c < 0) break;
            if (c == 0x1B) {
                Escape();
            } else if (c == ';' || c == '\r' || c == '\n' || c == ' ') {
                in_.Skip(1);
            } else if (std::isalpha(c)) {
                Command();
            } else {
                throw StreamError(in_.Offset(), "unexpected byte in HP-GL/2");
            }
        }
        Flush();
        if (sheet_ != nullptr) DrawCarry(&carry_, sheet_.get());
        if (sheet_ == nullptr) throw StreamError(in_.Offset(), "the stream has no page size (PS)");
        // A job that stops before its page end was cut short.
        if (!pageEnded_)
            throw StreamError(in_.Offset(), "the stream ends before the page end (PG)");
    }

  private:
    // ---- bytes and numbers
    long Value() {
        std::string digits;
        if (in_.Peek() == '-' || in_.Peek() == '+') digits += static_cast<char>(in_.Get());
        while (std::isdigit(in_.Peek()) && digits.size() < 20)
            digits += static_cast<char>(in_.Get());
        if (std::isdigit(in_.Peek())) throw StreamError(in_.Offset(), "a number too long");
        return std::strtol(digits.c_str(), nullptr, 10);
    }
    char Next(const char* what) {
        const int c = in_.Get();
        if (c < 0) throw StreamError(in_.Offset(), std::string("stream ends inside ") + what);
        return static_cast<char>(c);
    }
    bool NextNumber(double* v);
    std::vector<double> Numbers() {
        std::vector<double> v;
        double x;
        while (NextNumber(&x))
            if (v.size() < 16) v.push_back(x);
        return v;
    }

    void Escape();
    void Pjl();
    void RtlEscape(char family, std::uint64_t start);
    void RasterBlock(std::uint64_t start, long count);
    void PolylineEncoded(std::uint64_t start);
    void Command();
    void Setup(const std::string& op, const std::vector<double>& v, std::uint64_t start);
    void Attributes(const std::string& op, const std::vector<double>& v);
    void PageSize(const std::vector<double>& v, std::uint64_t start);
    void Window(const std::vector<double>& v);

    // ---- drawing
    Point Pixel(double u, double v) const {
        const auto p = frame_.Plotter(u, v);
        return sheet_->At(p[0], p[1]);
    }
    void MoveTo(double u, double v, bool down);
    void Flush() {
        if (sheet_ != nullptr && path_.size() >= 2) DrawCarry(&carry_, sheet_.get());
        if (sheet_ != nullptr && path_.size() >= 2)
            StrokeDashed(*sheet_, path_, width_ * sheet_->Scale(), Ink(), &dashes_, clip_);
        path_.clear();
    }
    std::uint8_t Ink() const { return static_cast<std::uint8_t>(std::lround(255 * (1 - grey_))); }

    Input& in_;
    const Options& options_;
    Rendering* out_;
    std::shared_ptr<Sheet> sheet_;
    Frame frame_;
    Rect clip_{};
    double greys_[256];
    double grey_ = 0, width_ = 0.35 / 25.4 * 1016;
    int pen_ = 0;
    Dashes dashes_;
    double penX_ = 0, penY_ = 0;  // user units
    bool down_ = false, relative_ = false, polygonMode_ = false, pageEnded_ = false;
    bool longEdge_ = true, sourceOpaque_ = false, patternOpaque_ = false;
    std::vector<Point> path_, polygon_;
    // Raster: resolution, the next raster's size, the rows it still takes
    // (-1 outside a raster), the active position (plotter units).
    long dpi_ = 0, rasterWidth_ = 0, rasterRows_ = 0, rasterLeft_ = -1;
    double capX_ = 0, capY_ = 0;
    int bands_ = 0;
    BandCarry carry_;
};

bool RtlReader::NextNumber(double* v) {
    while (in_.Peek() == ',' || in_.Peek() == ' ') in_.Skip(1);
    const int c = in_.Peek();
    if (c == '"') {  // a label reads as 0
        in_.Skip(1);
        for (std::size_t n = 0;; ++n) {
            const int d = in_.Get();
            if (d < 0) throw StreamError(in_.Offset(), "label without its closing quote");
            if (d == '"') break;
            if (n > kMaxText) throw StreamError(in_.Offset(), "a label longer than 4096 bytes");
        }
        *v = 0;
        return true;
    }
    if (!(std::isdigit(c) || c == '-' || c == '+' || c == '.')) return false;
    // What strtod reads of the next 64 bytes: exponents, infinities and NaNs too.
    std::string text;
    for (std::size_t i = 0; i < 64; ++i) {
        const int d = in_.Peek(i);
        if (d <= 0 || std::strchr("0123456789+-.eEnNaAiIfFtTyY", d) == nullptr) break;
        text += static_cast<char>(d);
    }
    char* end = nullptr;
    *v = std::strtod(text.c_str(), &end);
    // A lone sign or point reads nothing: stop rather than read it forever.
    if (end == text.c_str()) throw StreamError(in_.Offset(), "a sign or point without a number");
    in_.Skip(static_cast<std::size_t>(end - text.c_str()));
    return true;
}

// A PCL/RTL escape sequence or the universal exit.
void RtlReader::Escape() {
    const std::uint64_t start = in_.Offset();
    if (in_.StartsWith("\x1b%-12345X")) {
        in_.Skip(9);
        Pjl();
        return;
    }
    in_.Skip(1);
    const char family = Next("an escape sequence");
    if (family == '%') {
        const long v = Value();
        const char end = Next("an escape sequence");
        if (end == 'B') {  // into HP-GL/2
            return;
        }
        if (end == 'A') {  // into RTL; 1: at the pen's position
            if (v == 1 && sheet_ != nullptr) {
                const auto p = frame_.Plotter(penX_, penY_);
                capX_ = p[0], capY_ = p[1];
            }
            return;
        }
        throw StreamError(start, "unknown % escape");
    }
    if (family == '&' || family == '*') {
        RtlEscape(family, start);
        return;
    }
    throw StreamError(start, "unknown escape sequence");
}

void RtlReader::RtlEscape(char family, std::uint64_t start) {
    const char group = Next("an escape sequence");
    const long v = Value();
    const char end = Next("an escape sequence");
    const auto is = [&](char f, char g, char e) { return family == f && group == g && end == e; };
    if (is('&', 'a', 'N')) return;  // negative motion allowed: nothing to draw
    if (is('*', 'v', 'N')) {
        sourceOpaque_ = v == 1;  // source transparency: 0 transparent, 1 opaque
    } else if (is('*', 'v', 'O')) {
        // Pattern transparency: with the solid black pattern every pattern
        // pixel is black, so it changes nothing that is drawn.
        patternOpaque_ = v == 1;
    } else if (is('*', 't', 'R')) {
        dpi_ = v;
    } else if (family == '*' && group == 'r' && (end == 'S' || end == 'T')) {
        (end == 'S' ? rasterWidth_ : rasterRows_) = v;
    } else if (family == '*' && group == 'r' && end == 'A') {
        rasterLeft_ = rasterRows_;  // a raster of that many rows starts
    } else if (family == '*' && group == 'r' && end == 'C') {
        rasterLeft_ = -1;
    } else if (is('*', 'b', 'M')) {
        if (v != 8) throw StreamError(start, "raster compression other than MMR");
    } else if (is('*', 'b', 'Y')) {  // rows skipped
        if (dpi_ <= 0) throw StreamError(start, "raster without a resolution");
        (longEdge_ ? capX_ : capY_) += static_cast<double>(v) * 1016.0 / dpi_;
    } else if (is('*', 'b', 'W')) {
        RasterBlock(start, v);
    } else {
        throw StreamError(start, "unknown escape sequence");
    }
}

void RtlReader::Pjl() {
    while (in_.StartsWith("@PJL")) {
        std::string line;
        for (int c = in_.Get(); c != '\n'; c = in_.Get()) {
            if (c < 0) throw StreamError(in_.Offset(), "PJL line without an end");
            if (line.size() > kMaxText)
                throw StreamError(in_.Offset(), "a PJL line longer than 4096 bytes");
            line += static_cast<char>(c);
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out_->pjl.push_back(line);
        if (out_->pjl.size() > 1000) throw StreamError(in_.Offset(), "more than 1000 PJL lines");
        if (options_.verbose) std::fprintf(stderr, "%s\n", line.c_str());
    }
}

// One block of MMR rows, each row as wide as the block says (the raster's
// width of it printed), as many as its end of block says (at most what the
// raster has left), after the rows before it.
void RtlReader::RasterBlock(std::uint64_t start, long count) {
    if (count < 4) throw StreamError(start, "raster block too short");
    const unsigned char* w = reinterpret_cast<const unsigned char*>(in_.Need(4, "a raster block"));
    const long width = static_cast<long>(std::uint32_t(w[0]) << 24 | w[1] << 16 | w[2] << 8 | w[3]);
    in_.Skip(4);
    if (width < rasterWidth_ || rasterWidth_ <= 0)
        throw StreamError(start, "raster block narrower than its raster");
    if (sheet_ == nullptr) throw StreamError(start, "raster before the page size (PS)");
    if (dpi_ <= 0) throw StreamError(start, "raster without a resolution");
    if (rasterLeft_ < 0) rasterLeft_ = rasterRows_;  // a block starts a raster by itself
    if (rasterLeft_ == 0) {                          // rows past the raster's height print nothing
        for (std::uint64_t left = static_cast<std::uint64_t>(count - 4); left > 0;) {
            char skip[4096];
            const std::size_t got = in_.Read(skip, std::min<std::uint64_t>(left, sizeof skip));
            if (got == 0) throw StreamError(in_.Offset(), "stream ends inside raster data");
            left -= got;
        }
        return;
    }
    // The raster starts at the active position; pixels are 1016 / dpi units.
    BandPlace place{capX_, capY_, 1016.0 / dpi_, longEdge_, sourceOpaque_};
    const int band = bands_++;
    std::function<void(long, int, const std::uint8_t*)> observe;
    if (options_.bandRow)
        observe = [&](long rows, int row, const std::uint8_t* bits) {
            options_.bandRow(band, static_cast<int>(width), static_cast<int>(rows), row, bits);
        };
    const long rows =
        DrawBand(in_, start, static_cast<std::uint64_t>(count - 4),
                 {width, rasterWidth_, rasterLeft_, true}, place, sheet_.get(), &carry_, observe);
    rasterLeft_ -= rows;
    // The next rows follow the last ones.
    (longEdge_ ? capX_ : capY_) += rows * place.pixel;
}

void RtlReader::MoveTo(double u, double v, bool down) {
    if (sheet_ == nullptr) {
        if (down || polygonMode_)
            throw StreamError(in_.Offset(), "drawing before the page size (PS)");
        penX_ = u, penY_ = v;
        return;
    }
    const Point to = Pixel(u, v);
    if (polygonMode_) {
        if (polygon_.size() >= kMaxPolygon)
            throw StreamError(in_.Offset(), "a polygon of more than a million points");
        polygon_.push_back(to);
    } else if (down) {
        if (path_.empty()) {
            path_.push_back(Pixel(penX_, penY_));
            dashes_.phase = 0;
        }
        path_.push_back(to);
        // A long polyline is stroked in parts, the pattern carried on.
        if (path_.size() >= kMaxPath) {
            const Point last = path_.back();
            const double phase = dashes_.phase;
            Flush();
            dashes_.phase = phase;
            path_.push_back(last);
        }
    } else {
        Flush();
    }
    penX_ = u;
    penY_ = v;
}

void RtlReader::PolylineEncoded(std::uint64_t start) {
    bool penUp = false, absolute = false;
    int base = 64;
    double pending[2];
    int have = 0;
    while (true) {
        const int c = in_.Peek();
        if (c < 0) throw StreamError(start, "PE sequence without its closing ;");
        if (c == 0x1B) break;
        in_.Skip(1);
        if (c == ';') break;
        if (c == '<' || c == '=' || c == '7') {  // flags: pen up, absolute, 7-bit digits
            penUp = penUp || c == '<';
            absolute = absolute || c == '=';
            if (c == '7') base = 32;
            continue;
        }
        if (c == '>') throw StreamError(in_.Offset() - 1, "fractional PE data");
        // One number: groups low first, the last one marked by its range.
        long long value = 0, weight = 1;
        for (int d = c;; d = in_.Get()) {
            if (d < 0) throw StreamError(start, "PE number without its final digit");
            const bool final = base == 32 ? (d >= 95 && d <= 126) : (d >= 191 && d <= 254);
            const bool more = base == 32 ? (d >= 63 && d <= 94) : (d >= 63 && d <= 126);
            if (!final && !more)
                throw StreamError(in_.Offset() - 1, "byte out of the PE digit range");
            value += static_cast<long long>(d - (final ? (base == 32 ? 95 : 191) : 63)) * weight;
            if (final) break;
            weight *= base;
            if (weight > (1LL << 40)) throw StreamError(in_.Offset(), "PE number too long");
        }
        pending[have++] = static_cast<double>(value & 1 ? -(value >> 1) : value >> 1);
        if (have == 2) {
            MoveTo(absolute ? pending[0] : penX_ + pending[0],
                   absolute ? pending[1] : penY_ + pending[1], !penUp);
            penUp = absolute = false;
            have = 0;
        }
    }
}

void RtlReader::Command() {
    const std::uint64_t start = in_.Offset();
    const char* two = in_.Need(2, "a command");
    const std::string op(two, 2);
    in_.Skip(2);
    if (op == "PE") {
        PolylineEncoded(start);
        return;
    }
    if (op == "PU" || op == "PD" || op == "PA" || op == "PR") {
        if (op == "PU" || op == "PD") down_ = op == "PD";
        if (op == "PA" || op == "PR") relative_ = op == "PR";
        double x, y;
        while (NextNumber(&x) && NextNumber(&y))
            MoveTo(relative_ ? penX_ + x : x, relative_ ? penY_ + y : y, down_);
        if (!down_) Flush();
        return;
    }
    const std::vector<double> v = Numbers();
    if (op == "PS" || op == "IP" || op == "SC" || op == "IW" || op == "RO" || op == "IN" ||
        op == "PG")
        Setup(op, v, start);
    else if (op == "SP" || op == "PC" || op == "PW" || op == "LT" || op == "PM" || op == "FP" ||
             op == "TR")
        Attributes(op, v);
    else if (op != "BP" && op != "MT" && op != "XF" && op != "LA" && op != "RF" && op != "NP" &&
             op != "CR" && op != "DF")
        throw StreamError(start, "unknown HP-GL/2 command " + op);
}

// The sheet and where drawings land on it.
void RtlReader::Setup(const std::string& op, const std::vector<double>& v, std::uint64_t start) {
    Flush();
    if (op == "PS") {
        PageSize(v, start);
    } else if (op == "IN") {
        frame_.turn = 0;
        frame_.Defaults();
        if (sheet_ != nullptr) clip_ = sheet_->Whole();
    } else if (op == "IP") {
        if (v.empty()) {
            frame_.Defaults();
        } else if (v.size() >= 2) {
            const double dx = frame_.p2x - frame_.p1x, dy = frame_.p2y - frame_.p1y;
            frame_.p1x = v[0], frame_.p1y = v[1];
            frame_.p2x = v.size() >= 4 ? v[2] : v[0] + dx;
            frame_.p2y = v.size() >= 4 ? v[3] : v[1] + dy;
        }
    } else if (op == "SC") {
        frame_.scaled = v.size() >= 4 && v[1] != v[0] && v[3] != v[2];
        if (frame_.scaled)
            frame_.xmin = v[0], frame_.xmax = v[1], frame_.ymin = v[2], frame_.ymax = v[3];
    } else if (op == "IW") {
        Window(v);
    } else if (op == "RO") {
        frame_.turn = ((Whole(v.empty() ? 0 : v[0]) % 360 + 360) % 360) / 90 * 90;
        frame_.Defaults();
    } else if (op == "PG") {
        pageEnded_ = true;
    }
}

// PS: the sheet, its longer side along x; the raster's rows run along the
// side across the feed. A new size starts the sheet anew.
void RtlReader::PageSize(const std::vector<double>& v, std::uint64_t start) {
    if (v.size() != 2 || !(v[0] > 0) || !(v[1] > 0)) throw StreamError(start, "PS without a size");
    const double along = std::max(v[0], v[1]), across = std::min(v[0], v[1]);
    carry_.held = false;
    sheet_ = OpenSheet(along, across, 1016.0, options_, start, in_);
    out_->sheet = sheet_;
    longEdge_ = v[0] >= v[1];
    frame_.sheetX = along, frame_.sheetY = across, frame_.turn = 0;
    frame_.Defaults();
    clip_ = sheet_->Whole();
    penX_ = penY_ = 0;
}

// IW: the window vectors are cut to, fixed on the sheet when it is given.
void RtlReader::Window(const std::vector<double>& v) {
    if (sheet_ == nullptr) return;
    if (v.size() < 4) {
        clip_ = sheet_->Whole();
        return;
    }
    const Point a = Pixel(v[0], v[1]), b = Pixel(v[2], v[3]);
    clip_ = {std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

void RtlReader::Attributes(const std::string& op, const std::vector<double>& v) {
    if (op == "SP") {
        Flush();
        pen_ = v.empty() ? 0 : Whole(v[0]) & 255;
        grey_ = greys_[pen_];
    } else if (op == "PC") {
        if (v.size() == 4)
            greys_[Whole(v[0]) & 255] = (0.30 * v[1] + 0.59 * v[2] + 0.11 * v[3]) / 255.0;
        Flush();
        grey_ = std::clamp(greys_[pen_], 0.0, 1.0);
    } else if (op == "PW") {
        Flush();
        width_ = (v.empty() ? 0.35 : v[0]) / 25.4 * 1016.0;
    } else if (op == "LT") {
        Flush();
        dashes_ = {};
        if (!v.empty()) {
            const double percent = v.size() > 1 ? v[1] : 4.0;
            // Percent of the P1-P2 diagonal, or millimetres with mode 1.
            const double length = v.size() > 2 && v[2] == 1 ? percent / 25.4 * 1016.0
                                                            : percent / 100.0 * frame_.Diagonal();
            for (double p : LineTypePercent(Whole(std::fabs(v[0]))))
                dashes_.lengths.push_back(p / 100.0 * length * (sheet_ ? sheet_->Scale() : 1));
            dashes_.adaptive = v[0] < 0;
        }
    } else if (op == "PM") {
        const int mode = v.empty() ? 0 : Whole(v[0]);
        if (mode == 0 && sheet_ != nullptr) {
            Flush();
            polygonMode_ = true;
            polygon_ = {Pixel(penX_, penY_)};
        } else if (mode == 2) {
            polygonMode_ = false;
        }
    } else if (op == "FP") {
        if (polygon_.size() >= 3 && sheet_ != nullptr) {
            DrawCarry(&carry_, sheet_.get());
            sheet_->FillPolygon(polygon_, Fill{Ink()}, clip_);
        }
        polygon_.clear();
    }
    // TR sets how white parts of HP-GL/2 fills print; every fill here is solid.
}

}  // namespace

void ReadRtl(Input& in, const Options& options, Rendering* out) {
    out->mode = "RTL/GL2";
    RtlReader(in, options, out).Read();
}

}  // namespace varnu::preview
