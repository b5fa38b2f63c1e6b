// HP-RTL escape sequences: resolution, raster size, compression, colour,
// transparency, the active position and the rows themselves.
#include "readers/hpgl/rtl.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "readers/hpgl/interpreter.h"
#include "readers/hpgl/limits.h"
#include "readers/hpgl/raster_rows.h"

namespace varnu::host::hpgl {

namespace {

double Dot(Point2 a, Point2 b) {
    return a.x * b.x + a.y * b.y;
}

// The page's corner where rows begin at pixel 0.
Point2 RtlOrigin(const State& s) {
    return s.longEdge ? Point2{0, 0} : Point2{s.frame.pageX, 0};
}

// The palettes of simple colour: RGB (index bits red, green, blue) and CMY.
const std::array<std::uint8_t, 24> kRgb = {0, 0, 0,   255, 0, 0,   0, 255, 0,   255, 255, 0,
                                           0, 0, 255, 255, 0, 255, 0, 255, 255, 255, 255, 255};

std::array<std::array<std::uint8_t, 3>, 256> SimplePalette(int colours) {
    std::array<std::array<std::uint8_t, 3>, 256> p{};
    for (int i = 0; i < 8; ++i)
        for (int c = 0; c < 3; ++c) p[i][c] = colours < 0 ? 255 - kRgb[3 * i + c] : kRgb[3 * i + c];
    return p;
}

PixelKind KindOf(const RtlSettings& r) {
    if (r.configured && r.encoding == 3) return PixelKind::Rgb;
    const bool defaultMono = r.palette[0] == std::array<std::uint8_t, 3>{255, 255, 255} &&
                             r.palette[1] == std::array<std::uint8_t, 3>{0, 0, 0};
    return r.planes == 1 && r.bitsPerIndex == 1 && (!r.configured || defaultMono)
               ? PixelKind::Mono
               : PixelKind::Indexed;
}

// Bytes of one plane's row.
std::size_t PlaneBytes(const RtlSettings& r, std::int64_t width) {
    const auto w = static_cast<std::size_t>(width);
    if (r.configured && r.encoding == 3) return 3 * w;
    if (r.configured && r.encoding == 1)
        return (w * static_cast<std::size_t>(r.bitsPerIndex) + 7) / 8;
    return (w + 7) / 8;
}

}  // namespace

void RtlSettings::DefaultPalette() {
    palette = SimplePalette(-1);  // 0 white, 1 cyan, ..., 7 black
    palette[1] = {0, 0, 0};       // one bit: 0 white, 1 black
}

Point2 RowStep(const State& s) {
    return s.longEdge ? Point2{1, 0} : Point2{0, 1};
}

Point2 PixelStep(const State& s) {
    return s.longEdge ? Point2{0, 1} : Point2{-1, 0};
}

Point2 CapToPage(const State& s, Point2 cap) {
    const Point2 o = RtlOrigin(s), px = PixelStep(s), row = RowStep(s);
    return {o.x + cap.x * px.x + cap.y * row.x, o.y + cap.x * px.y + cap.y * row.y};
}

Point2 PageToCap(const State& s, Point2 page) {
    const Point2 o = RtlOrigin(s), d{page.x - o.x, page.y - o.y};
    return {Dot(d, PixelStep(s)), Dot(d, RowStep(s))};
}

Point2 RtlCapToPen(const State& s) {
    return s.frame.Turned(CapToPage(s, s.rtl.cap));
}

void RasterBuilder::Begin(const State& s) {
    settings_ = s.rtl;
    const RtlSettings& r = settings_;
    std::int64_t width = r.width;
    if (width <= 0)  // the page's width at the resolution
        width = static_cast<std::int64_t>((s.longEdge ? s.frame.pageY : s.frame.pageX) * r.dpi /
                                          kUnitsPerInch);
    width = std::clamp<std::int64_t>(width, 1, kMaxRasterWidth);
    auto palette = r.palette;
    if (!r.configured && r.planes == 3) palette = SimplePalette(r.colours);
    image_ = std::make_shared<RasterImage>(static_cast<std::int32_t>(width), KindOf(r), palette);
    place_ = RasterPlace{};
    place_.corner = CapToPage(s, r.cap);
    place_.rowStep = RowStep(s);
    place_.pixelStep = PixelStep(s);
    place_.pixelX = place_.pixelY = kUnitsPerInch / r.dpi;
    // Scaled: to the size asked for, one side alone keeping the proportions.
    constexpr double kUnitsPerDecipoint = kUnitsPerInch / 720;
    const double across = r.scaledWidth * kUnitsPerDecipoint / static_cast<double>(width);
    const double along = r.rows > 0 ? r.scaledHeight * kUnitsPerDecipoint / r.rows : 0;
    if (r.scaled && (across > 0 || along > 0)) {
        place_.pixelX = across > 0 ? across : along;
        place_.pixelY = along > 0 ? along : across;
    }
    place_.transparent = r.transparent;
    place_.clipped = s.frame.hardClip;
    place_.clip = {0, 0, s.frame.pageX, s.frame.pageY};
    seeds_.assign(static_cast<std::size_t>(std::max(r.planes, 1)),
                  std::vector<std::uint8_t>(PlaneBytes(r, width), 0));
    row_.assign(image_->RowBytes(), 0);
    plane = 0;
    limit = r.rows;
    fromSeeds = changed = false;
}

std::int64_t RasterBuilder::End(Sink* sink) {
    if (!image_) return 0;
    const std::int64_t rows = image_->rows();
    std::shared_ptr<RasterImage> image = std::move(image_);
    image_.reset();
    if (rows == 0) return 0;
    // A band that starts where the held one ends (within a pixel) joins it.
    if (pending_ && pending_->SameKind(*image) && pendingPlace_.rowStep.x == place_.rowStep.x &&
        pendingPlace_.rowStep.y == place_.rowStep.y && pendingPlace_.pixelY == place_.pixelY &&
        pendingPlace_.pixelX == place_.pixelX && pendingPlace_.transparent == place_.transparent) {
        const RasterPlace& p = pendingPlace_;
        const double along = p.pixelY * pending_->rows();
        const Point2 end{p.corner.x + p.rowStep.x * along, p.corner.y + p.rowStep.y * along};
        if (std::fabs(end.x - place_.corner.x) <= p.pixelX &&
            std::fabs(end.y - place_.corner.y) <= p.pixelX) {
            pending_->Append(*image);
            return rows;
        }
    }
    FlushPending(sink);
    pending_ = std::move(image);
    pendingPlace_ = place_;
    return rows;
}

void RasterBuilder::FlushPending(Sink* sink) {
    if (pending_ && sink != nullptr) sink->Raster(std::move(pending_), pendingPlace_);
    pending_.reset();
}

// ---- the interpreter's side

namespace {

// A PCL value: sign, digits and a fraction.
double PclValue(Stream& in) {
    std::string text;
    for (int c = in.Peek();
         text.size() < kMaxNumberChars &&
         (std::isdigit(c) || c == '.' || ((c == '-' || c == '+') && text.empty()));
         c = in.Peek())
        text += static_cast<char>(in.Get());
    const double v = text.empty() ? 0 : std::strtod(text.c_str(), nullptr);
    return std::isfinite(v) ? std::clamp(v, -kMaxMagnitude, kMaxMagnitude) : 0.0;
}

}  // namespace

void Interpreter::RtlEscape(int family) {
    int group = in_.Peek();
    if (group >= 0x60 && group <= 0x7e)
        in_.Skip(1);
    else
        group = 0;
    while (true) {
        const double v = PclValue(in_);
        const int p = in_.Get();
        const bool last = p >= 0x40 && p <= 0x5e;
        if (!last && !(p >= 0x60 && p <= 0x7e)) return Unknown("escape sequence");
        RtlCommand(family, group, std::toupper(p), v);
        if (last) return;
    }
}

void Interpreter::RtlCommand(int family, int group, int op, double v) {
    RtlSettings& r = s_.rtl;
    const auto whole = static_cast<std::int64_t>(v);
    const int key = (family << 16) | (group << 8) | op;
    auto is = [&](char f, char g, char o) { return key == ((f << 16) | (g << 8) | o); };
    if (is('*', 't', 'R')) {
        if (v > 0) r.dpi = static_cast<int>(std::clamp(v, 1.0, 4800.0));
    } else if (is('*', 'r', 'S') || is('*', 'r', 'T')) {
        const std::int64_t most = op == 'S' ? kMaxRasterWidth : kMaxRasterRows;
        if (whole > most)
            Fail(std::string("a raster ") + (op == 'S' ? "row" : "image") + " of " +
                 std::to_string(whole) + (op == 'S' ? " pixels" : " rows") + "; at most " +
                 std::to_string(most));
        (op == 'S' ? r.width : r.rows) = std::max<std::int64_t>(whole, 0);
    } else if (is('*', 'r', 'A')) {  // 0, 2: at the left edge; 2, 3: scaled
        EndRaster();
        if (whole == 0 || whole == 2) r.cap.x = 0;
        r.scaled = whole == 2 || whole == 3;
        raster_->Begin(s_);
    } else if (is('*', 'r', 'C') || is('*', 'r', 'B')) {
        EndRaster();
    } else if (is('*', 'r', 'U')) {
        r.configured = false;
        r.colours = whole == 3 || whole == -3 ? static_cast<int>(whole) : 1;
        r.planes = r.colours == 1 ? 1 : 3;
        r.bitsPerIndex = r.planes;
        r.encoding = 0;
    } else if (is('*', 'b', 'M')) {
        r.compression = static_cast<int>(whole);
    } else if (is('*', 'b', 'W') || is('*', 'b', 'V')) {
        RasterRows(whole, op == 'W');
    } else if (is('*', 'b', 'Y')) {
        SkipRows(whole);
    } else {
        RtlSetting(family, group, op, v);
    }
}

void Interpreter::RtlSetting(int family, int group, int op, double v) {
    RtlSettings& r = s_.rtl;
    const auto whole = static_cast<std::int64_t>(v);
    auto is = [&](char f, char g, char o) { return family == f && group == g && op == o; };
    if (is('*', 'v', 'N')) {
        r.transparent = whole == 0;
    } else if (is('*', 't', 'H') || is('*', 't', 'V')) {
        (op == 'H' ? r.scaledWidth : r.scaledHeight) = std::clamp(v, 0.0, 1e7);
    } else if (is('*', 'v', 'W')) {
        ConfigureImageData(whole);
    } else if (is('*', 'v', 'A') || is('*', 'v', 'B') || is('*', 'v', 'C')) {
        r.component[static_cast<std::size_t>(op - 'A')] =
            static_cast<int>(std::clamp(v, 0.0, 255.0));
    } else if (is('*', 'v', 'I')) {
        if (whole >= 0 && whole < 256)
            for (int c = 0; c < 3; ++c)
                r.palette[static_cast<std::size_t>(whole)][static_cast<std::size_t>(c)] =
                    static_cast<std::uint8_t>(r.component[static_cast<std::size_t>(c)]);
    } else if (is('&', 'u', 'D')) {
        if (v > 0) r.unitsPerInch = std::min(v, 7200.0);
    } else if (is('*', 'p', 'X') || is('*', 'p', 'Y')) {
        (op == 'X' ? r.cap.x : r.cap.y) = v * kUnitsPerInch / r.unitsPerInch;
    } else if (op == 'W' && whole > 0) {  // data of a command that draws nothing here
        in_.Take(static_cast<std::size_t>(whole), "the data of an escape sequence");
        Unknown("escape sequence");
    } else if (!(family == '&' || family == '*')) {
        Unknown("escape sequence");
    }
}

void Interpreter::ConfigureImageData(std::int64_t bytes) {
    const std::string_view d =
        in_.Take(static_cast<std::size_t>(std::max<std::int64_t>(bytes, 0)), "image data settings");
    if (d.size() < 6) return;
    RtlSettings& r = s_.rtl;
    const int space = static_cast<std::uint8_t>(d[0]), encoding = static_cast<std::uint8_t>(d[1]);
    const int bits = static_cast<std::uint8_t>(d[2]);
    r.configured = true;
    r.encoding = encoding;
    r.colours = space == 1 ? -3 : 3;
    if (encoding == 3) {  // direct by pixel: three bytes
        r.planes = 1, r.bitsPerIndex = 24;
    } else if (encoding == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8)) {
        r.planes = 1, r.bitsPerIndex = bits;
    } else {  // indexed by plane (direct by plane as its bits)
        r.encoding = 0;
        r.planes = std::clamp(encoding == 2 ? 3 : bits, 1, kMaxPlanes);
        r.bitsPerIndex = r.planes;
        if (encoding == 2) r.palette = SimplePalette(r.colours);
    }
}

namespace {

// The image's row from the planes' rows.
void CombinePlanes(const RtlSettings& r, const std::vector<std::vector<std::uint8_t>>& planes,
                   std::int32_t width, PixelKind kind, std::vector<std::uint8_t>* row) {
    if (kind == PixelKind::Mono || kind == PixelKind::Rgb) {
        std::copy_n(planes[0].begin(), std::min(planes[0].size(), row->size()), row->begin());
        if (kind == PixelKind::Rgb && r.colours < 0)  // CMY
            for (std::uint8_t& b : *row) b = static_cast<std::uint8_t>(255 - b);
        return;
    }
    for (std::int32_t p = 0; p < width; ++p) {
        int index = 0;
        if (r.planes == 1) {  // indexed by pixel
            const int bits = r.bitsPerIndex;
            const std::size_t bit = static_cast<std::size_t>(p) * static_cast<std::size_t>(bits);
            index =
                (planes[0][bit / 8] >> (8 - bits - static_cast<int>(bit % 8))) & ((1 << bits) - 1);
        } else {
            for (int k = 0; k < r.planes; ++k)
                index |= ((planes[static_cast<std::size_t>(k)][static_cast<std::size_t>(p / 8)] >>
                           (7 - p % 8)) &
                          1)
                         << k;
        }
        (*row)[static_cast<std::size_t>(p)] = static_cast<std::uint8_t>(index);
    }
}

}  // namespace

// A row of the image: `bytes`, or the last row again when null.
void Interpreter::AddRasterRow(const std::uint8_t* bytes) {
    RasterImage& image = raster_->image();
    if (raster_->limit > 0 && image.rows() >= raster_->limit) return;  // past *r#T
    if (image.rows() >= kMaxRasterRows)
        Fail("a raster image of more than " + std::to_string(kMaxRasterRows) + " rows");
    if ((raster_->pixels += image.width()) > kMaxPageRasterPixels)
        Fail("raster rows of more than " + std::to_string(kMaxPageRasterPixels) +
             " pixels on a page: refused rather than followed");
    const std::size_t before = image.HeldBytes();
    if (bytes == nullptr)
        image.RepeatRow();
    else
        image.AddRow(bytes);
    raster_->held += image.HeldBytes() - before;
    if (raster_->held > kMaxPageRasterBytes)
        Fail("more than 256 MB of raster rows on a page: refused rather than followed");
    MarkDrawn();
}

void Interpreter::RasterRows(std::int64_t bytes, bool lastPlane) {
    const std::string_view data =
        in_.Take(static_cast<std::size_t>(std::max<std::int64_t>(bytes, 0)), "raster data");
    if (!raster_->Active()) raster_->Begin(s_);
    const RtlSettings& r = raster_->settings();
    RasterImage& image = raster_->image();
    auto& seeds = raster_->seeds();
    const int mode = s_.rtl.compression;  // may change from row to row
    std::string why;
    if (mode == 8) {
        if (raster_->limit <= 0) Fail("an MMR raster block without its row count (*r#T)");
        if (image.kind() != PixelKind::Mono) Fail("an MMR raster block of a colour image");
        // A block holds the rows up to its end of block; the raster's height
        // is shared by all its blocks.
        const std::int64_t left = raster_->limit - image.rows();
        if (left > 0 && !DecodeMmr(
                            data, image.width(), left,
                            [&](const std::uint8_t* row) { AddRasterRow(row); }, &why))
            Fail(why);
        raster_->fromSeeds = false;
        return;
    }
    if (mode == 5) {
        if (r.planes != 1) Fail("adaptive raster compression of an image in planes");
        if (!DecodeAdaptive(
                data, &seeds[0], kMaxRasterRows,
                [&](const std::vector<std::uint8_t>& row) {
                    CombinePlanes(r, {row}, image.width(), image.kind(), &raster_->row());
                    AddRasterRow(raster_->row().data());
                },
                &why))
            Fail(why);
        raster_->fromSeeds = true;
        return;
    }
    if (mode < 0 || mode > 3) Fail("raster compression mode " + std::to_string(mode));
    const auto plane = static_cast<std::size_t>(std::min<int>(raster_->plane, r.planes - 1));
    raster_->changed = DecodeRow(mode, data, &seeds[plane]) || raster_->changed;
    if (!lastPlane) {
        ++raster_->plane;
        return;
    }
    raster_->plane = 0;
    if (raster_->changed || !raster_->fromSeeds || image.rows() == 0) {
        CombinePlanes(r, seeds, image.width(), image.kind(), &raster_->row());
        AddRasterRow(raster_->row().data());
    } else {  // a delta row that changed nothing: the row before again
        AddRasterRow(nullptr);
    }
    raster_->fromSeeds = true;
    raster_->changed = false;
}

void Interpreter::SkipRows(std::int64_t rows) {
    if (rows <= 0) return;
    if (!raster_->Active()) raster_->Begin(s_);
    RasterImage& image = raster_->image();
    if (rows > kMaxRasterRows - image.rows())
        Fail("a raster image of more than " + std::to_string(kMaxRasterRows) + " rows");
    if ((raster_->pixels += rows * image.width()) > kMaxPageRasterPixels)
        Fail("raster rows of more than " + std::to_string(kMaxPageRasterPixels) +
             " pixels on a page: refused rather than followed");
    image.AddZeroRows(rows);
    for (auto& seed : raster_->seeds()) std::fill(seed.begin(), seed.end(), 0);
    raster_->fromSeeds = true;
}

void Interpreter::EndRaster() {
    if (!raster_->Active()) return;
    const double pixel = raster_->place().pixelY;
    const std::int64_t rows = raster_->End(sink_);
    s_.rtl.cap.y += static_cast<double>(rows) * pixel;  // the next rows follow
}

}  // namespace varnu::host::hpgl
