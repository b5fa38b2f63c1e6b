// VCGL+MMR: binary commands in 1/400 inch, MMR raster bands.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "preview/raster.h"
#include "preview/readers.h"
#include "varnu/vcgl_commands.h"

namespace varnu::preview {

namespace {

class VcglReader {
  public:
    VcglReader(Input& in, const Options& o, Rendering* out) : in_(in), options_(o), out_(out) {}

    void Read() {
        while (!in_.AtEnd()) Command();
        if (sheet_ != nullptr) DrawCarry(&carry_, sheet_.get());
        if (!jobEnded_) throw StreamError(in_.Offset(), "the stream ends before the job end");
    }

  private:
    std::uint32_t Word(std::size_t at) const {
        return static_cast<std::uint32_t>(body_[at]) << 8 | body_[at + 1];
    }
    std::int32_t Long(std::size_t at) const {
        return static_cast<std::int32_t>(Word(at) << 16 | Word(at + 2));
    }
    std::int16_t Short(std::size_t at) const { return static_cast<std::int16_t>(Word(at)); }
    // The next n bytes of the stream as the command's body.
    void Body(std::size_t n, const char* what) {
        body_ = reinterpret_cast<const unsigned char*>(in_.Need(n, what));
        in_.Skip(n);
    }
    void EnsureSheet(std::uint64_t start) const {
        if (sheet_ == nullptr) throw StreamError(start, "drawing before the page rectangle");
    }

    void Command();
    void Escape(std::uint64_t start);
    void Setting(std::uint64_t start, unsigned op, std::size_t words);
    void Segment(bool longForm);
    void PageCorner(double x, double y, std::uint64_t start);
    void Polygon(std::uint64_t start, std::size_t n, bool longForm);
    void RasterData(std::uint64_t start, std::uint64_t coded);

    Input& in_;
    const Options& options_;
    Rendering* out_;
    std::shared_ptr<Sheet> sheet_;
    const unsigned char* body_ = nullptr;
    double grey_ = 0, width_ = 1;
    Dashes dashes_;
    std::vector<double> patterns_[16];
    double greys_[256] = {};
    int levels_[256] = {};
    std::array<std::uint16_t, 16> cells_[256] = {};
    int fillPen_ = 7, dots_ = 0, bands_ = 0;
    bool jobEnded_ = false, transparent_ = false, longEdge_ = true;
    double pixel_ = 1;
    std::array<std::int32_t, 4> image_{};
    std::array<std::int32_t, 2> imageScaled_{};
    BandCarry carry_;  // what a band leaves to the next of its image
};

void VcglReader::Command() {
    const std::uint64_t start = in_.Offset();
    // The fixed preamble around jobs, pages and images reads as one block.
    const auto& preamble = varnu::vcgl::kVcglPreamble;
    if (in_.StartsWith(
            std::string_view(reinterpret_cast<const char*>(preamble.data()), preamble.size()))) {
        in_.Skip(preamble.size());
        return;
    }
    Body(2, "a command");
    const unsigned op = body_[0], op2 = body_[1];
    if (op == 0x9B) {
        Escape(start);
        return;
    }
    if (op == 0xFF) {  // polygon: word count, then the vertices
        Body(2, "a command");
        const std::size_t words = Word(0);
        if (op2 != 0x7C && op2 != 0x83) throw StreamError(start, "unknown polygon form");
        Body(2 * words, "a command");
        Polygon(start, words / (op2 == 0x83 ? 4 : 2), op2 == 0x83);
        return;
    }
    Body(2 * op2, "a command");
    Setting(start, op, op2);
}

void VcglReader::Escape(std::uint64_t start) {
    const unsigned op2 = body_[1];
    if (op2 == 0x5C) {  // raster data: BE32 length, then MMR
        Body(4, "a command");
        const std::int32_t n = Long(0);
        if (n < 0) throw StreamError(start, "negative data length");
        RasterData(start, static_cast<std::uint64_t>(n));
        return;
    }
    Body(2, "a command");
    const std::size_t n = Word(0);
    Body(n, "a command");
    switch (op2) {
        case 0x5E:  // paint mode: 1 transparent, 2 opaque; 0 ends the job
            transparent_ = n == 2 && Word(0) == 1;
            if (n == 2 && Word(0) == 0) jobEnded_ = true;
            break;
        case 0x4E:
        case 0x62:
        case 0x5D:
            break;  // copies, manual output, data mode
        case 0x52:  // resolution 200 or 400
            pixel_ = n == 2 && Word(0) == 0 ? 2.0 : 1.0;
            break;
        case 0x5F:  // image header: place, size, scaled size
            if (n < 16) throw StreamError(start, "image header too short");
            image_ = {Long(0), Long(4), Long(8), Long(12)};
            imageScaled_ = n >= 24 ? std::array<std::int32_t, 2>{Long(16), Long(20)}
                                   : std::array<std::int32_t, 2>{image_[2], image_[3]};
            break;
        default:
            throw StreamError(start, "unknown VCGL command 9B");
    }
}

void VcglReader::Setting(std::uint64_t start, unsigned op, std::size_t words) {
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
            if (words == 19)
                for (int r = 0; r < 16; ++r)
                    cells_[Word(0) & 255][r] = static_cast<std::uint16_t>(Word(6 + 2 * r));
            break;
        case 0x30:  // palette: pen, grey, ...
            if (words == 5) {
                greys_[Word(0) & 255] =
                    Short(2) < 0 ? 0 : std::min(Short(2), std::int16_t{255}) / 255.0;
                levels_[Word(0) & 255] = std::clamp<int>(Short(2), 0, 255);
            }
            break;
        case 0x36:  // line-type pattern, lengths in 1/400 inch
            if (words >= 2) {
                std::vector<double> d;
                for (std::size_t i = 1; i < words; ++i) d.push_back(Word(2 * i));
                if (d.size() >= 3) {
                    d.front() += d.back();
                    d.pop_back();
                }
                patterns_[Word(0) & 15] = d;
            }
            break;
        case 0x40:
            width_ = words ? Word(0) : 1;
            break;
        case 0x41:
            grey_ = words ? greys_[Word(0) & 255] : 0;
            break;
        case 0x47:
            fillPen_ = words ? Word(0) & 255 : 7;
            break;
        case 0x43:
            dashes_ = {};
            if (words && sheet_ != nullptr)
                for (double v : patterns_[Word(0) & 15])
                    dashes_.lengths.push_back(v * sheet_->Scale());
            break;
        case 0x64:
        case 0x6B:
            if (words < (op == 0x6B ? 8u : 4u)) throw StreamError(start, "segment too short");
            Segment(op == 0x6B);
            break;
        default:
            throw StreamError(start, "unknown VCGL command");
    }
}

void VcglReader::Segment(bool longForm) {
    const std::uint64_t start = in_.Offset();
    const double x = longForm ? Long(0) : Short(0), y = longForm ? Long(4) : Short(2);
    const double dx = longForm ? Long(8) : Short(4), dy = longForm ? Long(12) : Short(6);
    // The page rectangle: a dot at the origin, then one at the far corner.
    if (dots_ < 2) {
        // A size: the short form's words read unsigned.
        if (dots_++ == 1)
            PageCorner(longForm ? x : static_cast<std::uint16_t>(Short(0)),
                       longForm ? y : static_cast<std::uint16_t>(Short(2)), start);
        return;
    }
    EnsureSheet(start);
    DrawCarry(&carry_, sheet_.get());
    dashes_.phase = 0;
    StrokeDashed(*sheet_, {sheet_->At(x, y), sheet_->At(x + dx, y + dy)}, width_ * sheet_->Scale(),
                 static_cast<std::uint8_t>(std::lround(255 * (1 - grey_))), &dashes_,
                 sheet_->Whole());
}

// The corner is the plot area's size scaled once more by the host steps'
// scale, which the sheet's longer side chose (the step divisor's bounds, in
// inches), and it says which side runs along the feed; x runs along the
// longer side.
void VcglReader::PageCorner(double x, double y, std::uint64_t start) {
    const double longer = std::max(x, y), shorter = std::min(x, y);
    const double bounds[] = {81.915, 163.83, 327.66, 655.32};
    double scale = 0.5;
    for (double bound : bounds) {
        if (longer / scale <= bound * 400) break;
        scale *= 2;
    }
    sheet_ = OpenSheet(longer / scale, shorter / scale, 400.0, options_, start, in_);
    out_->sheet = sheet_;
    longEdge_ = x >= y;
}

void VcglReader::Polygon(std::uint64_t start, std::size_t n, bool longForm) {
    EnsureSheet(start);
    DrawCarry(&carry_, sheet_.get());
    if (n < 2) return;
    std::vector<Point> points;
    double x = 0, y = 0;
    for (std::size_t i = 0; i < n; ++i) {
        x += longForm ? Long(8 * i) : Short(4 * i);
        y += longForm ? Long(8 * i + 4) : Short(4 * i + 2);
        points.push_back(sheet_->At(x, y));
    }
    // The fill pen's halftone cell, one bit a device dot.
    Fill fill;
    fill.cell = &cells_[levels_[fillPen_]];
    fill.dot = sheet_->Scale();
    sheet_->FillPolygon(points, fill, sheet_->Whole());
}

void VcglReader::RasterData(std::uint64_t start, std::uint64_t coded) {
    EnsureSheet(start);
    const std::int32_t width = image_[2], rows = image_[3];
    if (width <= 0 || rows <= 0) throw StreamError(start, "raster data without a usable header");
    const bool longEdge = longEdge_;
    if (width == 32 && rows == 1) {
        // The blank before an opaque image: its area printed white.
        const double w = std::max(imageScaled_[0], 1) * pixel_,
                     h = std::max(imageScaled_[1], 1) * pixel_;
        const double x0 = longEdge ? image_[0] : image_[0] - w,
                     x1 = longEdge ? image_[0] + h : image_[0];
        const double y0 = image_[1], y1 = image_[1] + (longEdge ? w : h);
        const Point a = sheet_->At(x0, y1), b = sheet_->At(x1, y0);
        if (!transparent_) sheet_->FillRect({a.x, a.y, b.x, b.y}, 0);
        for (std::uint64_t left = coded; left > 0;) {
            char skip[64];
            const std::size_t got = in_.Read(skip, std::min<std::uint64_t>(left, sizeof skip));
            if (got == 0) throw StreamError(in_.Offset(), "stream ends inside raster data");
            left -= got;
        }
        return;
    }
    BandPlace place{double(image_[0]), double(image_[1]), pixel_, longEdge, !transparent_};
    const int band = bands_++;
    std::function<void(long, int, const std::uint8_t*)> observe;
    if (options_.bandRow)
        observe = [&](long, int row, const std::uint8_t* bits) {
            options_.bandRow(band, width, rows, row, bits);
        };
    DrawBand(in_, start, coded, {width, width, rows, false}, place, sheet_.get(), &carry_, observe);
}

}  // namespace

void ReadVcgl(Input& in, const Options& options, Rendering* out) {
    out->mode = "VCGL+MMR";
    VcglReader(in, options, out).Read();
}

}  // namespace varnu::preview
