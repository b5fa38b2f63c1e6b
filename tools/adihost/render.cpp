#include "adihost/render.h"

#include <cairo.h>
#include <sys/mman.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "varnu/pen_palette.h"
#include "varnu/vcgl_commands.h"

namespace adihost {

namespace {

// Reading stops with the offset where the stream stopped making sense.
struct StreamError : std::runtime_error {
    std::size_t offset;
    StreamError(std::size_t at, const std::string& what) : std::runtime_error(what), offset(at) {}
};

// A stream's number as a whole number for selections (pens, line types,
// modes): whatever it says, never an out-of-range cast.
int Whole(double v) {
    return std::isnan(v) ? 0 : static_cast<int>(std::clamp(v, -1e9, 1e9));
}

// The printer's line-type patterns (dash and gap lengths in percent of the
// pattern), from the VCGL pattern commands of the printer's data tables.
std::vector<double> DashPercent(int type) {
    if (type < 1 || type > 8) return {};
    const auto& p = varnu::vcgl::kLineTypePatterns[type - 1];
    std::vector<double> lengths;
    for (int i = 4; i + 1 < p.length; i += 2) lengths.push_back(p.bytes[i] << 8 | p.bytes[i + 1]);
    // The first and last entries are halves of one dash around the pattern's end.
    if (lengths.size() >= 3) {
        lengths.front() += lengths.back();
        lengths.pop_back();
    }
    return lengths;
}

// What the bands of one stream may decode to in all: a gigabyte, and more
// only for a stream long enough to code it.
std::uint64_t DecodeBudget(const std::string& stream) {
    return (std::uint64_t{1} << 30) + 64 * static_cast<std::uint64_t>(stream.size());
}

// Refuses a band its data cannot code or the stream's budget cannot hold:
// every coded row takes at least one bit.
void CheckBand(std::size_t start, std::size_t codedBytes, long width, long rows,
               std::uint64_t* budget) {
    if (width <= 0 || rows <= 0 || width > (1 << 17) || rows > (1 << 24))
        throw StreamError(start, "raster band of " + std::to_string(width) + " x " +
                                     std::to_string(rows) + " pixels");
    if (static_cast<std::uint64_t>(rows) > 8 * static_cast<std::uint64_t>(codedBytes) + 64)
        throw StreamError(start, "raster band with more rows than its data can code");
    const std::uint64_t bytes = static_cast<std::uint64_t>((width + 7) / 8) * rows;
    if (bytes > *budget)
        throw StreamError(start, "raster bands decode to more than the stream can hold");
    *budget -= bytes;
}

// libtiff's Group 4 decoder on a band held in memory.
bool DecodeBand(const std::string& coded, int width, int rows, std::vector<std::uint8_t>* bits) {
    const int fd = memfd_create("band", 0);
    if (fd < 0) return false;
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    bool ok = false;
    if (TIFF* out = TIFFFdOpen(dup(fd), "band", "w")) {
        TIFFSetField(out, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
        TIFFSetField(out, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(rows));
        TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
        TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(rows));
        TIFFWriteRawStrip(out, 0, const_cast<char*>(coded.data()),
                          static_cast<tmsize_t>(coded.size()));
        TIFFClose(out);
        lseek(fd, 0, SEEK_SET);
        if (TIFF* in = TIFFFdOpen(dup(fd), "band", "r")) {
            bits->assign(static_cast<std::size_t>((width + 7) / 8) * rows, 0);
            ok = TIFFReadEncodedStrip(in, 0, bits->data(), static_cast<tmsize_t>(bits->size())) ==
                 static_cast<tmsize_t>(bits->size());
            TIFFClose(in);
        }
    }
    close(fd);
    return ok;
}

// The sheet being drawn: device units in, preview pixels out, y upward.
struct Sheet {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    double scale = 1;   // preview pixels per device unit
    double height = 0;  // sheet height in device units

    void Open(double widthUnits, double heightUnits, double unitsPerInch, double dpi) {
        Close();
        scale = dpi / unitsPerInch;
        height = heightUnits;
        // Checked as doubles: a stream's page size may be anything.
        const double wide = std::ceil(widthUnits * scale), high = std::ceil(heightUnits * scale);
        if (!(wide <= 32767) || !(high <= 32767) || wide * high > 400e6)
            throw StreamError(0, "the sheet is too large to preview at this dpi");
        const int w = std::max(1, static_cast<int>(wide));
        const int h = std::max(1, static_cast<int>(high));
        surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            surface = nullptr;
            throw StreamError(0, "the sheet is too large to preview at this dpi");
        }
        cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    }
    void Close() {
        if (cr != nullptr) cairo_destroy(cr);
        if (surface != nullptr) cairo_surface_destroy(surface);
        cr = nullptr;
        surface = nullptr;
    }
    double X(double x) const { return x * scale; }
    double Y(double y) const { return (height - y) * scale; }

    Preview Picture() const {
        Preview p;
        if (surface == nullptr) return p;
        cairo_surface_flush(surface);
        p.width = cairo_image_surface_get_width(surface);
        p.height = cairo_image_surface_get_height(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        p.rgb.resize(static_cast<std::size_t>(p.width) * p.height * 3);
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                std::uint32_t v;
                std::memcpy(&v, data + y * stride + 4 * x, 4);
                std::uint8_t* o = &p.rgb[(static_cast<std::size_t>(y) * p.width + x) * 3];
                o[0] = static_cast<std::uint8_t>(v >> 16);
                o[1] = static_cast<std::uint8_t>(v >> 8);
                o[2] = static_cast<std::uint8_t>(v);
            }
        return p;
    }

    // The area a band of `width` x `rows` pixels at `origin` would cover, made white.
    void Clear(double width, double rows, double originX, double originY, double pixel,
               bool longEdge) {
        if (cr == nullptr || !std::isfinite(originX) || !std::isfinite(originY)) return;
        double x0, y0, x1, y1;
        if (!longEdge) {
            x0 = originX - width * pixel, x1 = originX, y0 = originY, y1 = originY + rows * pixel;
        } else {
            x0 = originX, x1 = originX + rows * pixel, y0 = originY, y1 = originY + width * pixel;
        }
        // Clipped to the sheet before cairo sees it: no coordinate out of its range.
        const double sheetW = cairo_image_surface_get_width(surface) / scale;
        x0 = std::clamp(x0, -1.0, sheetW + 1), x1 = std::clamp(x1, -1.0, sheetW + 1);
        y0 = std::clamp(y0, -1.0, height + 1), y1 = std::clamp(y1, -1.0, height + 1);
        if (!(x1 > x0) || !(y1 > y0)) return;
        cairo_save(cr);
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_rectangle(cr, X(x0), Y(y1), (x1 - x0) * scale, (y1 - y0) * scale);
        cairo_fill(cr);
        cairo_restore(cr);
    }

    // A decoded raster band: `rows` rows of `width` pixels with their first
    // pixel at `origin`. In the normal orientation rows run up the sheet and
    // pixels to the left of the origin; along the long edge rows run to the
    // right and pixels up. `pixel` is the size of a raster pixel in units.
    // Only the part on the sheet is drawn, whatever the stream placed, and
    // raster pixels far smaller than preview pixels are averaged first, so
    // the work is bounded by the sheet's pixels.
    void Raster(const std::vector<std::uint8_t>& bits, int width, int rows, double originX,
                double originY, double pixel, bool longEdge, bool transparent) {
        if (cr == nullptr || width <= 0 || rows <= 0 || !(pixel > 0) || !std::isfinite(originX) ||
            !std::isfinite(originY))
            return;
        const double sheetW = cairo_image_surface_get_width(surface) / scale;
        // The band's pixel and row ranges that land on the sheet (two pixels spare).
        double pLow, pHigh, rLow, rHigh;
        if (!longEdge) {
            pLow = (originX - sheetW) / pixel, pHigh = originX / pixel;
            rLow = -originY / pixel, rHigh = (height - originY) / pixel;
        } else {
            pLow = -originY / pixel, pHigh = (height - originY) / pixel;
            rLow = -originX / pixel, rHigh = (sheetW - originX) / pixel;
        }
        const auto clip = [](double v, int limit) {
            return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(limit)));
        };
        const int p0 = clip(std::floor(pLow) - 2, width), p1 = clip(std::ceil(pHigh) + 2, width);
        const int r0 = clip(std::floor(rLow) - 2, rows), r1 = clip(std::ceil(rHigh) + 2, rows);
        if (p0 >= p1 || r0 >= r1) return;
        // Raster pixels per surface pixel: 1 unless many fall on one preview pixel.
        const double perPreview = 1.0 / (pixel * scale);
        int step = perPreview >= 8 ? static_cast<int>(std::min(perPreview / 2, 1e6)) : 1;
        while ((p1 - p0 + step - 1) / step > 32767 || (r1 - r0 + step - 1) / step > 32767) ++step;
        const int bandW = (p1 - p0 + step - 1) / step, bandH = (r1 - r0 + step - 1) / step;
        cairo_surface_t* band = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bandW, bandH);
        if (cairo_surface_status(band) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(band);
            return;
        }
        cairo_surface_flush(band);
        unsigned char* data = cairo_image_surface_get_data(band);
        const int stride = cairo_image_surface_get_stride(band);
        const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
        const std::uint32_t background = transparent ? 0u : 0xFFFFFFFFu;
        for (int j = 0; j < bandH; ++j)
            for (int i = 0; i < bandW; ++i) {
                // Premultiplied average of the block: black, white or clear pixels.
                std::uint32_t blacks = 0, count = 0;
                for (int r = r0 + j * step; r < std::min(r1, r0 + (j + 1) * step); ++r)
                    for (int p = p0 + i * step; p < std::min(p1, p0 + (i + 1) * step); ++p) {
                        blacks +=
                            (bits[static_cast<std::size_t>(r) * rowBytes + p / 8] >> (7 - p % 8)) &
                            1;
                        ++count;
                    }
                std::uint32_t v;
                if (step == 1) {
                    v = blacks != 0 ? 0xFF000000u : background;
                } else {
                    const std::uint32_t alpha = transparent ? 255 * blacks / count : 255;
                    const std::uint32_t grey = transparent ? 0 : 255 * (count - blacks) / count;
                    v = alpha << 24 | grey << 16 | grey << 8 | grey;
                }
                std::memcpy(data + j * stride + 4 * i, &v, 4);
            }
        cairo_surface_mark_dirty(band);
        cairo_save(cr);
        cairo_matrix_t m;
        const double k = pixel * scale;
        if (!longEdge) {
            // p -> x decreasing from the origin, r -> y increasing (screen: decreasing)
            cairo_matrix_init(&m, -k, 0, 0, -k, X(originX), Y(originY));
        } else {
            cairo_matrix_init(&m, 0, -k, k, 0, X(originX), Y(originY));
        }
        cairo_transform(cr, &m);
        cairo_translate(cr, p0, r0);
        cairo_scale(cr, step, step);
        cairo_set_source_surface(cr, band, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        // Bands meet at fractional positions; antialiased edges would show
        // seams between them that the printer does not make.
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
        cairo_rectangle(cr, 0, 0, static_cast<double>(p1 - p0) / step,
                        static_cast<double>(r1 - r0) / step);
        cairo_fill(cr);
        cairo_restore(cr);
        cairo_surface_destroy(band);
    }
};

// Shared vector state.
struct Pen {
    double grey = 0;             // 0 black .. 1 white
    double width = 1;            // device units
    std::vector<double> dashes;  // device units; empty = solid
};

// Cuts the segment from (x0, y0) to (x1, y1) to the rectangle [lo, hi]
// (Liang-Barsky); false when nothing of it lies inside.
bool ClipSegment(double& x0, double& y0, double& x1, double& y1, double lo, double hiX,
                 double hiY) {
    double t0 = 0, t1 = 1;
    const double dx = x1 - x0, dy = y1 - y0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 - lo, hiX - x0, y0 - lo, hiY - y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1) return false;
    }
    const double ax = x0 + t0 * dx, ay = y0 + t0 * dy;
    x1 = x0 + t1 * dx, y1 = y0 + t1 * dy;
    x0 = ax, y0 = ay;
    return true;
}

// Strokes `points` (device units). Segments are cut to the sheet and a dash
// pattern shorter than two preview pixels is drawn solid, so the work is
// bounded by the sheet whatever the coordinates and patterns say.
void Stroke(Sheet& sheet, const Pen& pen, const std::vector<std::array<double, 2>>& points) {
    if (points.size() < 2 || sheet.cr == nullptr) return;
    cairo_t* cr = sheet.cr;
    const double width = std::clamp(pen.width * sheet.scale, 0.5, 1e5);
    const double margin = width + 2;
    const double hiX = cairo_image_surface_get_width(sheet.surface) + margin;
    const double hiY = cairo_image_surface_get_height(sheet.surface) + margin;
    cairo_new_path(cr);
    bool joined = false;  // the path ends where the next segment starts
    for (std::size_t i = 1; i < points.size(); ++i) {
        double x0 = sheet.X(points[i - 1][0]), y0 = sheet.Y(points[i - 1][1]);
        double x1 = sheet.X(points[i][0]), y1 = sheet.Y(points[i][1]);
        if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) {
            joined = false;
            continue;
        }
        const double endX = x1, endY = y1;
        if (!ClipSegment(x0, y0, x1, y1, -margin, hiX, hiY)) {
            joined = false;
            continue;
        }
        if (!joined) cairo_move_to(cr, x0, y0);
        cairo_line_to(cr, x1, y1);
        joined = x1 == endX && y1 == endY;
    }
    cairo_set_source_rgb(cr, pen.grey, pen.grey, pen.grey);
    cairo_set_line_width(cr, width);
    std::vector<double> dashes;
    double pattern = 0;
    for (double d : pen.dashes) {
        dashes.push_back(std::max(d * sheet.scale, 0.01));
        pattern += dashes.back();
    }
    if (pattern < 2) dashes.clear();
    cairo_set_dash(cr, dashes.data(), static_cast<int>(dashes.size()), 0);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
}

// ----------------------------------------------------------------------------
// RTL/GL2: PJL around HP-GL/2, with HP-RTL raster blocks.

class RtlReader {
  public:
    RtlReader(const std::string& s, const RenderOptions& o, RenderResult* r)
        : s_(s), options_(o), result_(r) {
        for (int p = 0; p < 256; ++p) {
            const auto c = varnu::PenPalette[p];
            colours_[p] = (0.30 * c.red + 0.59 * c.green + 0.11 * c.blue) / 255.0;
        }
        colours_[7] = 0;
    }

    void Read() {
        while (at_ < s_.size()) {
            const char c = s_[at_];
            if (c == '\x1b') {
                Escape();
            } else if (c == ';' || c == '\r' || c == '\n' || c == ' ') {
                ++at_;
            } else if (std::isalpha(static_cast<unsigned char>(c))) {
                Command();
            } else {
                throw StreamError(at_, "unexpected byte in HP-GL/2");
            }
        }
        Flush();
    }
    Sheet sheet;

  private:
    char Peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }
    void Need(std::size_t n, const char* what) const {
        if (at_ + n > s_.size()) throw StreamError(at_, std::string("stream ends inside ") + what);
    }

    // A PCL/RTL escape sequence or the universal exit.
    void Escape() {
        const std::size_t start = at_;
        Need(2, "an escape sequence");
        if (s_.compare(at_, 9, "\x1b%-12345X") == 0) {
            at_ += 9;
            Pjl();
            return;
        }
        const char family = s_[at_ + 1];
        at_ += 2;
        if (family == '%') {
            long v = Value();
            const char end = Next();
            if (end == 'B' && v == 0) return;  // into HP-GL/2
            if (end == 'A' && v == 1) return;  // into RTL at the pen position
            throw StreamError(start, "unknown % escape");
        }
        if (family == '&' || family == '*') {
            Need(1, "an escape sequence");
            const char group = s_[at_++];
            const long v = Value();
            const char end = Next();
            if (family == '&' && group == 'a' && end == 'N') return;  // opaque background
            if (family == '*' && group == 'v' && end == 'N') {
                transparent_ = v == 0;  // source transparency: 0 transparent, 1 opaque
                return;
            }
            if (family == '*' && group == 't' && end == 'R') {
                dpi_ = v;
                return;
            }
            if (family == '*' && group == 'r') {
                if (end == 'S')
                    rasterWidth_ = v;
                else if (end == 'T')
                    rasterRows_ = v;
                else if (end == 'A' || end == 'C')
                    return;
                else
                    throw StreamError(start, "unknown raster command");
                return;
            }
            if (family == '*' && group == 'b' && end == 'M') {
                if (v != 8) throw StreamError(start, "raster compression other than MMR");
                return;
            }
            if (family == '*' && group == 'b' && end == 'W') {
                RasterBlock(start, v);
                return;
            }
        }
        throw StreamError(start, "unknown escape sequence");
    }

    long Value() {
        std::size_t end = at_;
        if (end < s_.size() && (s_[end] == '-' || s_[end] == '+')) ++end;
        while (end < s_.size() && std::isdigit(static_cast<unsigned char>(s_[end]))) ++end;
        const long v = std::strtol(s_.substr(at_, end - at_).c_str(), nullptr, 10);
        at_ = end;
        return v;
    }
    char Next() {
        Need(1, "a command");
        return s_[at_++];
    }

    void Pjl() {
        while (at_ < s_.size() && s_.compare(at_, 4, "@PJL") == 0) {
            const std::size_t end = s_.find('\n', at_);
            if (end == std::string::npos) throw StreamError(at_, "PJL line without an end");
            std::string line = s_.substr(at_, end - at_);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            result_->pjl.push_back(line);
            if (options_.verbose) std::fprintf(stderr, "%s\n", line.c_str());
            at_ = end + 1;
        }
    }

    void RasterBlock(std::size_t start, long count) {
        if (count < 4 || static_cast<std::size_t>(count) > s_.size() - at_)
            throw StreamError(start, "raster block longer than the stream");
        const long width = static_cast<long>(static_cast<unsigned char>(s_[at_]) << 24 |
                                             static_cast<unsigned char>(s_[at_ + 1]) << 16 |
                                             static_cast<unsigned char>(s_[at_ + 2]) << 8 |
                                             static_cast<unsigned char>(s_[at_ + 3]));
        if (width != rasterWidth_)
            throw StreamError(start, "raster block whose width does not match its header");
        if (sheet.cr == nullptr) throw StreamError(start, "raster before the page size (PS)");
        CheckBand(start, static_cast<std::size_t>(count - 4), width, rasterRows_, &budget_);
        std::vector<std::uint8_t> bits;
        if (!DecodeBand(s_.substr(at_ + 4, static_cast<std::size_t>(count - 4)),
                        static_cast<int>(width), static_cast<int>(rasterRows_), &bits))
            throw StreamError(start, "MMR band that does not decode to its header's size");
        if (dpi_ <= 0) throw StreamError(start, "raster without a resolution");
        if (options_.keepBands)
            result_->rasters.push_back(
                {static_cast<int>(width), static_cast<int>(rasterRows_), bits});
        // The raster starts at the pen position; pixels are 1016 / dpi units.
        sheet.Raster(bits, static_cast<int>(width), static_cast<int>(rasterRows_), penX_ + p1x_,
                     penY_ + p1y_, 1016.0 / dpi_, longEdge_, transparent_);
        at_ += static_cast<std::size_t>(count);
    }

    std::vector<double> Numbers() {
        std::vector<double> v;
        while (at_ < s_.size()) {
            const char c = s_[at_];
            if (c == ',' || c == ' ') {
                ++at_;
                continue;
            }
            if (c == '"') {  // a label
                const std::size_t end = s_.find('"', at_ + 1);
                if (end == std::string::npos)
                    throw StreamError(at_, "label without its closing quote");
                at_ = end + 1;
                v.push_back(0);
                continue;
            }
            if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.'))
                break;
            char* end = nullptr;
            v.push_back(std::strtod(s_.c_str() + at_, &end));
            // A lone sign or point reads nothing: stop rather than read it forever.
            if (end == s_.c_str() + at_) throw StreamError(at_, "a sign or point without a number");
            at_ = static_cast<std::size_t>(end - s_.c_str());
        }
        return v;
    }

    void Flush() {
        if (!polygonMode_) Stroke(sheet, pen_, path_);
        path_.clear();
    }

    void MoveTo(double x, double y, bool down) {
        if (polygonMode_) {
            polygon_.push_back({x + p1x_, y + p1y_});
        } else if (down) {
            if (path_.empty()) path_.push_back({penX_ + p1x_, penY_ + p1y_});
            path_.push_back({x + p1x_, y + p1y_});
        } else {
            Flush();
        }
        penX_ = x;
        penY_ = y;
    }

    void PolylineEncoded(std::size_t start) {
        bool penUp = false, absolute = false;
        int base = 64;
        double pending[2];
        int have = 0;
        while (true) {
            if (at_ >= s_.size()) throw StreamError(start, "PE sequence without its closing ;");
            const auto c = static_cast<unsigned char>(s_[at_]);
            if (c == ';') {
                ++at_;
                break;
            }
            if (c == '\x1b') break;
            if (c == '<') {
                penUp = true;
                ++at_;
                continue;
            }
            if (c == '=') {
                absolute = true;
                ++at_;
                continue;
            }
            if (c == '7') {
                base = 32;
                ++at_;
                continue;
            }
            if (c == '>') throw StreamError(at_, "fractional PE data");
            // One number: groups low first, the last one marked by its range.
            long long value = 0, weight = 1;
            while (true) {
                if (at_ >= s_.size()) throw StreamError(start, "PE number without its final digit");
                const auto d = static_cast<unsigned char>(s_[at_++]);
                const bool final = base == 32 ? (d >= 95 && d <= 126) : (d >= 191 && d <= 254);
                const bool more = base == 32 ? (d >= 63 && d <= 94) : (d >= 63 && d <= 126);
                if (!final && !more) throw StreamError(at_ - 1, "byte out of the PE digit range");
                value +=
                    static_cast<long long>(d - (final ? (base == 32 ? 95 : 191) : 63)) * weight;
                if (final) break;
                weight *= base;
                if (weight > (1LL << 40)) throw StreamError(at_, "PE number too long");
            }
            pending[have++] = static_cast<double>(value & 1 ? -(value >> 1) : value >> 1);
            if (have == 2) {
                const double x = absolute ? pending[0] : penX_ + pending[0];
                const double y = absolute ? pending[1] : penY_ + pending[1];
                MoveTo(x, y, !penUp);
                penUp = absolute = false;
                have = 0;
            }
        }
    }

    void Command() {
        const std::size_t start = at_;
        Need(2, "a command");
        const std::string op = s_.substr(at_, 2);
        at_ += 2;
        if (op == "PE") {
            PolylineEncoded(start);
            return;
        }
        const std::vector<double> v = Numbers();
        if (op == "IN" || op == "BP" || op == "MT" || op == "IW" || op == "XF" || op == "LA" ||
            op == "RF" || op == "NP" || op == "CR") {
            return;
        } else if (op == "PS") {
            if (v.size() != 2 || v[0] <= 0 || v[1] <= 0)
                throw StreamError(start, "PS without a size");
            sheet.Open(v[0], v[1], 1016.0, options_.dpi);
            longEdge_ = v[0] >= v[1];
        } else if (op == "IP") {
            if (v.size() >= 2) p1x_ = v[0], p1y_ = v[1];
            if (v.size() >= 4) diagonal_ = std::hypot(v[2] - v[0], v[3] - v[1]);
        } else if (op == "SC") {
        } else if (op == "SP") {
            Flush();
            pen_.grey = colours_[v.empty() ? 0 : Whole(v[0]) & 255];
            penNumber_ = v.empty() ? 0 : Whole(v[0]) & 255;
        } else if (op == "PC") {
            if (v.size() == 4)
                colours_[Whole(v[0]) & 255] = (0.30 * v[1] + 0.59 * v[2] + 0.11 * v[3]) / 255.0;
            pen_.grey = colours_[penNumber_];
        } else if (op == "PW") {
            Flush();
            pen_.width = (v.empty() ? 0.35 : v[0]) / 25.4 * 1016.0;
        } else if (op == "LT") {
            Flush();
            pen_.dashes.clear();
            if (!v.empty()) {
                const double length = (v.size() > 1 ? v[1] : 4.0) / 100.0 * diagonal_;
                for (double percent : DashPercent(Whole(std::fabs(v[0]))))
                    pen_.dashes.push_back(percent / 100.0 * length);
            }
        } else if (op == "PU" || op == "PD" || op == "PA" || op == "PR") {
            if (op == "PU") down_ = false;
            if (op == "PD") down_ = true;
            if (op == "PA") relative_ = false;
            if (op == "PR") relative_ = true;
            for (std::size_t i = 0; i + 1 < v.size(); i += 2)
                MoveTo(relative_ ? penX_ + v[i] : v[i], relative_ ? penY_ + v[i + 1] : v[i + 1],
                       down_);
        } else if (op == "TR") {
            transparent_ = !v.empty() && v[0] != 0;
        } else if (op == "PM") {
            const int mode = v.empty() ? 0 : Whole(v[0]);
            if (mode == 0) {
                Flush();
                polygonMode_ = true;
                polygon_.clear();
                polygon_.push_back({penX_ + p1x_, penY_ + p1y_});
            } else if (mode == 2) {
                polygonMode_ = false;
            }
        } else if (op == "FP") {
            if (polygon_.size() >= 3 && sheet.cr != nullptr) {
                cairo_new_path(sheet.cr);
                cairo_move_to(sheet.cr, sheet.X(polygon_[0][0]), sheet.Y(polygon_[0][1]));
                for (const auto& p : polygon_)
                    cairo_line_to(sheet.cr, sheet.X(p[0]), sheet.Y(p[1]));
                cairo_close_path(sheet.cr);
                cairo_set_fill_rule(sheet.cr, CAIRO_FILL_RULE_EVEN_ODD);
                cairo_set_source_rgb(sheet.cr, pen_.grey, pen_.grey, pen_.grey);
                cairo_fill(sheet.cr);
            }
            polygon_.clear();
        } else if (op == "PG") {
            Flush();
            pageEnded_ = true;
        } else {
            throw StreamError(start, "unknown HP-GL/2 command " + op);
        }
    }

    const std::string& s_;
    const RenderOptions& options_;
    RenderResult* result_;
    std::size_t at_ = 0;
    double colours_[256];
    Pen pen_;
    int penNumber_ = 0;
    double penX_ = 0, penY_ = 0, p1x_ = 0, p1y_ = 0, diagonal_ = 1000;
    bool down_ = false, relative_ = false, polygonMode_ = false, transparent_ = false,
         longEdge_ = true;
    std::vector<std::array<double, 2>> path_, polygon_;

  public:
    bool pageEnded_ = false;

  private:
    long dpi_ = 0, rasterWidth_ = 0, rasterRows_ = 0;
    std::uint64_t budget_ = DecodeBudget(s_);
};

// ----------------------------------------------------------------------------
// VCGL+MMR: binary commands, 1/400 inch.

// The page rectangle the job start marks is scaled twice by the driver, so
// the sheet is sized from everything the stream draws: a first pass only
// measures, the second draws.
class VcglReader {
  public:
    VcglReader(const std::string& s, const RenderOptions& o, bool measuring, RenderResult* result)
        : s_(s), options_(o), result_(result), measuring_(measuring) {
        for (double& g : greys_) g = 0;
    }

    void Read() {
        while (at_ < s_.size()) Command();
    }
    void OpenSheet(double width, double height) {
        sheet.Open(width, height, 400.0, options_.dpi);
        pageOpen_ = true;
    }
    double maxX = 1, maxY = 1;
    Sheet sheet;

  private:
    std::uint32_t Word(std::size_t at) const {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(s_[at]) << 8 |
                                          static_cast<unsigned char>(s_[at + 1]));
    }
    std::int32_t Long(std::size_t at) const {
        return static_cast<std::int32_t>(Word(at) << 16 | Word(at + 2));
    }
    std::int16_t Short(std::size_t at) const { return static_cast<std::int16_t>(Word(at)); }
    void Need(std::size_t start, std::size_t n) const {
        if (n > s_.size() - at_) throw StreamError(start, "stream ends inside a command");
    }

    void EnsureSheet() {
        if (!measuring_ && sheet.cr == nullptr)
            throw StreamError(at_, "drawing before the page rectangle");
    }
    void Cover(double x, double y) {
        maxX = std::max(maxX, x);
        maxY = std::max(maxY, y);
    }
    // The area a raster of `width` x `rows` at `origin` covers.
    void CoverRaster(double x, double y, double width, double rows) {
        if (!longEdge_) {
            Cover(x, y + rows * pixel_);
        } else {
            Cover(x + rows * pixel_, y + width * pixel_);
        }
    }

    void Command() {
        const std::size_t start = at_;
        // The fixed preamble around jobs, pages and images reads as one block.
        const auto& preamble = varnu::vcgl::kVcglPreamble;
        if (s_.size() - at_ >= preamble.size() &&
            std::memcmp(s_.data() + at_, preamble.data(), preamble.size()) == 0) {
            at_ += preamble.size();
            return;
        }
        Need(start, 2);
        const auto op = static_cast<unsigned char>(s_[at_]);
        const auto op2 = static_cast<unsigned char>(s_[at_ + 1]);
        if (op == 0x9B) {
            at_ += 2;
            if (op2 == 0x5C) {  // raster data: BE32 length, then MMR
                Need(start, 4);
                const std::int32_t n = Long(at_);
                at_ += 4;
                if (n < 0) throw StreamError(start, "negative data length");
                Need(start, static_cast<std::size_t>(n));
                RasterData(start, s_.substr(at_, static_cast<std::size_t>(n)));
                at_ += static_cast<std::size_t>(n);
                return;
            }
            Need(start, 2);
            const std::size_t n = Word(at_);
            at_ += 2;
            Need(start, n);
            const std::size_t body = at_;
            at_ += n;
            switch (op2) {
                case 0x5E:  // paint mode; 0 ends the job
                    transparent_ = n == 2 && Word(body) == 1;
                    if (n == 2 && Word(body) == 0) jobEnded_ = true;
                    break;
                case 0x4E:
                case 0x62:
                case 0x5D:
                    break;  // copies, manual output, data mode
                case 0x52:
                    pixel_ = n == 2 && Word(body) == 0 ? 2.0 : 1.0;
                    break;  // resolution 200 or 400
                case 0x5F:  // image header
                    if (n < 16) throw StreamError(start, "image header too short");
                    image_ = {Long(body), Long(body + 4), Long(body + 8), Long(body + 12)};
                    imageScaled_ =
                        n >= 24 ? std::array<std::int32_t, 2>{Long(body + 16), Long(body + 20)}
                                : std::array<std::int32_t, 2>{image_[2], image_[3]};
                    break;
                default:
                    throw StreamError(start, "unknown VCGL command 9B");
            }
            return;
        }
        if (op == 0xFF) {  // polygon: word count, then the vertices
            Need(start, 4);
            const std::size_t words = Word(at_ + 2);
            at_ += 4;
            Need(start, 2 * words);
            const bool longForm = op2 == 0x83;
            if (op2 != 0x7C && op2 != 0x83) throw StreamError(start, "unknown polygon form");
            Polygon(at_, words / (longForm ? 4 : 2), longForm);
            at_ += 2 * words;
            return;
        }
        const std::size_t words = op2;
        at_ += 2;
        Need(start, 2 * words);
        const std::size_t b = at_;
        at_ += 2 * words;
        switch (op) {
            case 0x18:
            case 0x20:
            case 0x23:
            case 0x14:
            case 0xF2:
            case 0xF3:
            case 0x42:
            case 0x44:
            case 0x45:
            case 0x39:
            case 0x48:
            case 0x50:
                break;  // framing, model, label, page end and settings: nothing to draw
            case 0x32:  // halftone cell of a grey level
                if (words == 19) {
                    const int level = Word(b) & 255;
                    for (int r = 0; r < 16; ++r)
                        cells_[level][r] = static_cast<std::uint16_t>(Word(b + 6 + 2 * r));
                }
                break;
            case 0x30:  // palette: pen, grey, ...
                if (words == 5) greys_[Word(b) & 255] = Short(b + 2) < 0 ? 0 : Short(b + 2) / 255.0;
                if (words == 5) levels_[Word(b) & 255] = Short(b + 2) < 0 ? 0 : Short(b + 2);
                break;
            case 0x36:  // line-type pattern
                if (words >= 2) {
                    std::vector<double> d;
                    for (std::size_t i = 1; i < words; ++i) d.push_back(Word(b + 2 * i));
                    if (d.size() >= 3) {
                        d.front() += d.back();
                        d.pop_back();
                    }
                    patterns_[Word(b) & 15] = d;
                }
                break;
            case 0x40:
                pen_.width = words ? Word(b) : 1;
                break;
            case 0x41:
                pen_.grey = words ? greys_[Word(b) & 255] : 0;
                break;
            case 0x47:
                fillPen_ = words ? Word(b) & 255 : 7;
                break;
            case 0x43: {
                pen_.dashes.clear();
                const int type = words ? Word(b) & 15 : 0;
                // Pattern lengths in percent of a quarter inch.
                if (type != 0)
                    for (double v : patterns_[type]) pen_.dashes.push_back(v / 100.0 * 100.0);
                break;
            }
            case 0x64:
            case 0x6B: {
                const bool longForm = op == 0x6B;
                const double x = longForm ? Long(b) : Short(b),
                             y = longForm ? Long(b + 4) : Short(b + 2);
                const double dx = longForm ? Long(b + 8) : Short(b + 4),
                             dy = longForm ? Long(b + 12) : Short(b + 6);
                if (dots_ < 2) {
                    // The page rectangle: a dot at the origin, then one at the far corner.
                    if (dots_++ == 1) longEdge_ = x >= y;
                    Cover(x, y);
                    break;
                }
                if (measuring_) {
                    Cover(x + pen_.width, y + pen_.width);
                    Cover(x + dx + pen_.width, y + dy + pen_.width);
                    break;
                }
                Stroke(sheet, pen_, {{x, y}, {x + dx, y + dy}});
                break;
            }
            default:
                throw StreamError(start, "unknown VCGL command");
        }
    }

    void Polygon(std::size_t b, std::size_t n, bool longForm) {
        EnsureSheet();
        if (n < 2) return;
        if (measuring_) {
            double x = 0, y = 0;
            for (std::size_t i = 0; i < n; ++i) {
                x += longForm ? Long(b + 8 * i) : Short(b + 4 * i);
                y += longForm ? Long(b + 8 * i + 4) : Short(b + 4 * i + 2);
                Cover(x, y);
            }
            return;
        }
        cairo_t* cr = sheet.cr;
        cairo_new_path(cr);
        double x = 0, y = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double a = longForm ? Long(b + 8 * i) : Short(b + 4 * i);
            const double c = longForm ? Long(b + 8 * i + 4) : Short(b + 4 * i + 2);
            x = i == 0 ? a : x + a;
            y = i == 0 ? c : y + c;
            if (i == 0)
                cairo_move_to(cr, sheet.X(x), sheet.Y(y));
            else
                cairo_line_to(cr, sheet.X(x), sheet.Y(y));
        }
        cairo_close_path(cr);
        // The fill pen's halftone cell, one bit a device dot.
        const int level = levels_[fillPen_];
        cairo_surface_t* cell = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 16, 16);
        cairo_surface_flush(cell);
        unsigned char* data = cairo_image_surface_get_data(cell);
        const int stride = cairo_image_surface_get_stride(cell);
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 16; ++c) {
                const std::uint32_t v = (cells_[level][r] >> (15 - c)) & 1 ? 0u : 0xFFFFFFu;
                std::memcpy(data + r * stride + 4 * c, &v, 4);
            }
        cairo_surface_mark_dirty(cell);
        cairo_pattern_t* pattern = cairo_pattern_create_for_surface(cell);
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
        cairo_matrix_t m;
        cairo_matrix_init_scale(&m, 1.0 / sheet.scale, 1.0 / sheet.scale);
        cairo_pattern_set_matrix(pattern, &m);
        cairo_set_source(cr, pattern);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_fill(cr);
        cairo_pattern_destroy(pattern);
        cairo_surface_destroy(cell);
    }

    void RasterData(std::size_t start, const std::string& coded) {
        EnsureSheet();
        const std::int32_t width = image_[2], rows = image_[3];
        if (width <= 0 || rows <= 0 || width > (1 << 24) || rows > (1 << 24))
            throw StreamError(start, "raster data without a usable header");
        if (measuring_) {
            CoverRaster(image_[0], image_[1], image_[2], image_[3]);
            return;
        }
        if (width == 32 && rows == 1) {
            // The blank preamble: the image's area is cleared before it.
            sheet.Clear(imageScaled_[0], std::max(imageScaled_[1], 1), image_[0], image_[1], pixel_,
                        longEdge_);
            return;
        }
        CheckBand(start, coded.size(), width, rows, &budget_);
        std::vector<std::uint8_t> bits;
        if (!DecodeBand(coded, width, rows, &bits))
            throw StreamError(start, "MMR band that does not decode to its header's size");
        if (options_.keepBands) result_->rasters.push_back({width, rows, bits});
        sheet.Raster(bits, width, rows, image_[0], image_[1], pixel_, longEdge_, transparent_);
    }

    const std::string& s_;
    const RenderOptions& options_;
    RenderResult* result_;
    std::size_t at_ = 0;
    Pen pen_;
    double greys_[256];
    int levels_[256] = {};
    std::uint16_t cells_[256][16] = {};
    std::vector<double> patterns_[16];
    int fillPen_ = 7;
    int dots_ = 0;
    bool measuring_;

  public:
    bool jobEnded_ = false;

  private:
    bool pageOpen_ = false, transparent_ = false, longEdge_ = true;
    double pixel_ = 1;
    std::array<std::int32_t, 4> image_{};
    std::array<std::int32_t, 2> imageScaled_{};
    std::uint64_t budget_ = DecodeBudget(s_);
};

}  // namespace

RenderResult RenderStream(const std::string& stream, const RenderOptions& options) {
    RenderResult result;
    if (stream.compare(0, 9, "\x1b%-12345X") == 0) {
        result.mode = "RTL/GL2";
        RtlReader reader(stream, options, &result);
        try {
            reader.Read();
            if (reader.sheet.cr == nullptr)
                throw StreamError(stream.size(), "the stream has no page size (PS)");
            // A job that stops before its page end was cut short.
            if (!reader.pageEnded_)
                throw StreamError(stream.size(), "the stream ends before the page end (PG)");
            result.ok = true;
        } catch (const StreamError& e) {
            result.error = "byte " + std::to_string(e.offset) + ": " + e.what();
        }
        result.preview = reader.sheet.Picture();
        reader.sheet.Close();
    } else if (!stream.empty() && static_cast<unsigned char>(stream[0]) == 0x9B) {
        result.mode = "VCGL+MMR";
        RenderResult scratch;
        VcglReader measure(stream, options, true, &scratch);
        try {
            measure.Read();
        } catch (const StreamError&) {
            // the drawing pass reports it
        }
        VcglReader reader(stream, options, false, &result);
        try {
            reader.OpenSheet(measure.maxX + 400, measure.maxY + 400);  // an inch of paper around
            reader.Read();
            if (!reader.jobEnded_)
                throw StreamError(stream.size(), "the stream ends before the job end");
            result.ok = true;
        } catch (const StreamError& e) {
            result.error = "byte " + std::to_string(e.offset) + ": " + e.what();
        }
        result.preview = reader.sheet.Picture();
        reader.sheet.Close();
    } else {
        result.error = "byte 0: neither a PJL job nor a VCGL job";
    }
    return result;
}

}  // namespace adihost
