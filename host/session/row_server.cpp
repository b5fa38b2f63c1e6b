#include "session/row_server.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "session/driver.h"
#include "session/rgb24_lines.h"
#include "varnu/adi_abi.h"
#include "varnu/byte_order.h"
#include "varnu/packet_layouts.h"

namespace varnu::host {

namespace {

namespace request = varnu::layout::row_request;
namespace reply = varnu::layout::row_reply;
using varnu::HostAddress;
using varnu::LoadLe;
using varnu::StoreLe;

constexpr std::int32_t kAlongLongEdge = 7;  // row_request::kOrientation: lines are columns
constexpr std::size_t kReplySize = 16;

// Columns served ahead of the driver's asking, from the band at `band`.
constexpr std::int32_t kCachedColumns = 128;
struct ColumnCache {
    const std::uint8_t* band = nullptr;
    std::int32_t first = 0, count = 0;
};

// The picture the driver is drawing, the band of it held, and the low
// memory the lines are handed over in.
struct Serving {
    const RowPicture* picture = nullptr;
    Placement placement{};
    Band band{};
    std::uint8_t* reply = nullptr;
    std::uint8_t* line = nullptr;
    bool failed = false;
    std::string error;
    bool progress = false;
    int shownPercent = -1;
    // For each pixel of a line of `mapPixels`, the picture pixel it shows,
    // counted from the line's start (see Nearest).
    std::vector<std::int32_t> map;
    std::int64_t mapPixels = -1;
    std::int32_t mapAlong = -1;
    ColumnCache cache;
    std::vector<std::uint8_t> columns;  // the cached columns, pixel p of each beside each other
};
Serving Current;

void ShowProgress(std::int32_t done, std::int32_t total) {
    if (!Current.progress || total <= 0) return;
    const int percent = static_cast<int>(100LL * done / total);
    if (percent == Current.shownPercent) return;
    Current.shownPercent = percent;
    std::fprintf(stderr, "\r%s %3d%% [%-40.*s]", Current.picture->progressLabel.c_str(), percent,
                 percent * 40 / 100, "########################################");
    if (percent >= 100) std::fputs("\n", stderr);
}

void* Fail(const std::string& message) {
    if (!Current.failed) Current.error = message;
    Current.failed = true;
    StoreLe<std::int16_t>(Current.reply, reply::kFailed, 1);
    return Current.reply;
}

bool Holds(const Band& band, bool column, std::int32_t index) {
    if (band.pixels == nullptr) return false;
    return column ? index >= band.x && index < band.x + band.width
                  : index >= band.y && index < band.y + band.height;
}

std::ptrdiff_t PixelBytes(PixelFormat format) {
    switch (format) {
        case PixelFormat::Rgb:
            return 3;
        case PixelFormat::Rgb24:
            return 4;
        default:
            return 1;
    }
}

// Where the pixel at (x, y) of the held band is.
const std::uint8_t* At(const Band& band, std::int32_t x, std::int32_t y) {
    const std::ptrdiff_t step = band.step != 0 ? band.step : PixelBytes(band.format);
    return band.pixels + (x - band.x) * step + (y - band.y) * band.stride;
}

// One pixel of the band as the driver takes it: one byte for a bilevel
// picture, else R, G, B.
template <PixelFormat format>
void PutPixel(const std::uint8_t* pixel, std::uint8_t* out) {
    if constexpr (format == PixelFormat::Bilevel) {
        *out = *pixel;
    } else if constexpr (format == PixelFormat::Rgb) {
        std::memcpy(out, pixel, 3);
    } else if constexpr (format == PixelFormat::Rgb24) {
        std::uint32_t v;
        std::memcpy(&v, pixel, 4);
        out[0] = static_cast<std::uint8_t>(v >> 16);
        out[1] = static_cast<std::uint8_t>(v >> 8);
        out[2] = static_cast<std::uint8_t>(v);
    } else {
        const auto v = static_cast<std::uint8_t>(format == PixelFormat::Ink ? ~*pixel : *pixel);
        out[0] = out[1] = out[2] = v;
    }
}

template <PixelFormat format>
constexpr std::size_t kServedBytes = format == PixelFormat::Bilevel ? 1 : 3;

// Line pixel p is the pixel k(p) steps from `origin`.
template <PixelFormat format, class K>
void PutLine(const std::uint8_t* origin, std::ptrdiff_t step, std::int64_t pixels, K k,
             std::uint8_t* out) {
    for (std::int64_t p = 0; p < pixels; ++p, out += kServedBytes<format>)
        PutPixel<format>(origin + k(p) * step, out);
}

template <class K>
void PutLine(PixelFormat format, const std::uint8_t* origin, std::ptrdiff_t step,
             std::int64_t pixels, K k, std::uint8_t* out) {
    switch (format) {
        case PixelFormat::Bilevel:
            return PutLine<PixelFormat::Bilevel>(origin, step, pixels, k, out);
        case PixelFormat::Rgb:
            return PutLine<PixelFormat::Rgb>(origin, step, pixels, k, out);
        case PixelFormat::Rgb24:
            return PutLine<PixelFormat::Rgb24>(origin, step, pixels, k, out);
        case PixelFormat::Grey:
            return PutLine<PixelFormat::Grey>(origin, step, pixels, k, out);
        case PixelFormat::Ink:
            return PutLine<PixelFormat::Ink>(origin, step, pixels, k, out);
    }
}

// The picture pixel along a line of `pixels` for each of them: the nearest,
// counted from the line's start, so that a grid a pixel off still fits.
// Kept while the lines are as long.
const std::vector<std::int32_t>& Nearest(std::int64_t pixels, std::int32_t along) {
    if (Current.mapPixels != pixels || Current.mapAlong != along) {
        Current.map.resize(static_cast<std::size_t>(pixels));
        for (std::int64_t p = 0; p < pixels; ++p)
            Current.map[static_cast<std::size_t>(p)] =
                static_cast<std::int32_t>((p + 0.5) / static_cast<double>(pixels) * along);
        Current.mapPixels = pixels;
        Current.mapAlong = along;
        Current.cache = ColumnCache{};
    }
    return Current.map;
}

// `count` columns from the one whose line starts at `origin` into the
// column cache, read row by row since such a column is spread over all the
// band's rows: pixel p of each column beside each other.
template <PixelFormat format>
void CacheColumns(const std::uint8_t* origin, std::ptrdiff_t up, std::ptrdiff_t right,
                  std::int32_t count) {
    constexpr std::size_t bytes = kServedBytes<format>;
    std::uint8_t* cache = Current.columns.data();
    for (std::size_t p = 0; p < Current.map.size(); ++p) {
        const std::uint8_t* pixel = origin + Current.map[p] * up;
        for (std::int32_t k = 0; k < count; ++k, cache += bytes)
            PutPixel<format>(pixel + k * right, cache);
    }
}

// Column `index`, `pixels` long, of a band whose columns run across its
// rows: served from the column cache, filled ahead of the driver's asking.
void ServeCachedColumn(std::int32_t index, std::int64_t pixels, const std::uint8_t* origin,
                       std::ptrdiff_t up, std::ptrdiff_t right) {
    const Band& band = Current.band;
    const std::size_t bytes = band.format == PixelFormat::Bilevel ? 1 : 3;
    Nearest(pixels, Current.picture->height);
    ColumnCache& c = Current.cache;
    if (c.band != band.pixels || index < c.first || index >= c.first + c.count) {
        c = {band.pixels, index, std::min(kCachedColumns, band.x + band.width - index)};
        Current.columns.resize(static_cast<std::size_t>(c.count * pixels) * bytes);
        switch (band.format) {
            case PixelFormat::Bilevel:
                CacheColumns<PixelFormat::Bilevel>(origin, up, right, c.count);
                break;
            case PixelFormat::Rgb:
                CacheColumns<PixelFormat::Rgb>(origin, up, right, c.count);
                break;
            case PixelFormat::Rgb24:
                CacheColumns<PixelFormat::Rgb24>(origin, up, right, c.count);
                break;
            case PixelFormat::Grey:
                CacheColumns<PixelFormat::Grey>(origin, up, right, c.count);
                break;
            case PixelFormat::Ink:
                CacheColumns<PixelFormat::Ink>(origin, up, right, c.count);
                break;
        }
    }
    const std::size_t count = static_cast<std::size_t>(c.count);
    const std::uint8_t* from =
        Current.columns.data() + static_cast<std::size_t>(index - c.first) * bytes;
    std::uint8_t* out = Current.line;
    for (std::int64_t p = 0; p < pixels; ++p, out += bytes, from += count * bytes)
        std::memcpy(out, from, bytes);
}

// Line `index` of the held band into the line memory; along a line the
// printer's raster runs right to left across the sheet and upwards along
// its long edge.
void ServeLine(bool column, std::int32_t index, std::int64_t pixels) {
    const RowPicture& pic = *Current.picture;
    const Band& band = Current.band;
    const std::int32_t along = column ? pic.height : pic.width;
    const std::ptrdiff_t size = PixelBytes(band.format);
    const std::ptrdiff_t right = band.step != 0 ? band.step : size;
    const std::ptrdiff_t step = column ? -band.stride : -right;
    const std::uint8_t* origin =
        column ? At(band, index, pic.height - 1) : At(band, pic.width - 1, index);
    // A column read down a band of rows is a cache miss a pixel.
    if (column && std::abs(band.stride) > size)
        return ServeCachedColumn(index, pixels, origin, step, right);
    if (std::endian::native == std::endian::little && pixels == along &&
        band.format == PixelFormat::Rgb24 && step == -4)
        return PutRgb24Reversed(origin, pixels, Current.line);
    if (pixels == along) {  // one picture pixel a line pixel
        PutLine(
            band.format, origin, step, pixels, [](std::int64_t p) { return p; }, Current.line);
        return;
    }
    const std::int32_t* k = Nearest(pixels, along).data();
    PutLine(
        band.format, origin, step, pixels, [k](std::int64_t p) { return k[p]; }, Current.line);
}

// Our row fetch routine. Lines are counted from the bottom (or left) of the
// area.
void* FetchRow(void* row) {
    std::memset(Current.reply, 0, kReplySize);
    if (Current.failed) return Fail(Current.error);
    const RowPicture& pic = *Current.picture;
    const Placement& at = Current.placement;
    const bool column = LoadLe<std::int32_t>(row, request::kOrientation) == kAlongLongEdge;
    const auto first =
        LoadLe<std::int32_t>(row, column ? request::kFirstRow : request::kFirstColumn);
    const auto last = LoadLe<std::int32_t>(row, column ? request::kLastRow : request::kLastColumn);
    const std::int64_t pixels = static_cast<std::int64_t>(last) - first + 1;
    const std::size_t bytes = pic.bilevel ? 1 : 3;
    if (pixels <= 0 || static_cast<std::size_t>(pixels) * bytes > pic.lineCapacity)
        return Fail("the driver asked for a line of " + std::to_string(pixels) + " pixels");
    // The strip's left, bottom, right and top edges.
    const std::size_t from = request::kStrip + (column ? 0 : 4), to = from + 8;
    const double mid =
        (LoadLe<std::int32_t>(row, from) + static_cast<double>(LoadLe<std::int32_t>(row, to))) / 2;
    double fraction = column ? (mid - at.x0) / (static_cast<double>(at.x1) - at.x0)
                             : (mid - at.y0) / (static_cast<double>(at.y1) - at.y0);
    fraction = std::clamp(fraction, 0.0, 0.999999);
    const std::int32_t index =
        column ? static_cast<std::int32_t>(fraction * pic.width)
               : pic.height - 1 - static_cast<std::int32_t>(fraction * pic.height);
    if (!Holds(Current.band, column, index)) {
        Current.band = Band{};
        Current.cache = ColumnCache{};
        if (!pic.hold(column, index, &Current.band, &Current.error)) {
            Current.band = Band{};
            return Fail(Current.error);
        }
    }
    ServeLine(column, index, pixels);
    HostAddress address = 0;
    varnu::ToHostAddress(Current.line, &address);
    StoreLe<HostAddress>(Current.reply, reply::kPixels, address);
    StoreLe<std::int32_t>(Current.reply, reply::kCount, static_cast<std::int32_t>(pixels * bytes));
    const std::int32_t lines = column ? pic.width : pic.height;
    ShowProgress(column ? index + 1 : lines - index, lines);
    return Current.reply;
}

std::int32_t ReleaseRow(void*) {
    return 0;
}

// Plot request 52 for the picture, served by our row routines: colour (kind
// 2, 24 bits) or a one-bit scan (kind 0).
Packet ImageRequest(const RowPicture& picture, const Placement& placement) {
    namespace img = varnu::layout::image;
    HostAddress fetchAddress = 0, releaseAddress = 0;
    varnu::FunctionToHostAddress(&FetchRow, &fetchAddress);
    varnu::FunctionToHostAddress(&ReleaseRow, &releaseAddress);
    Packet p(52);
    p.Set<HostAddress>(img::kFetch, fetchAddress)
        .Set<HostAddress>(img::kRelease, releaseAddress)
        .Set<std::uint32_t>(img::kHandle, 1);
    p.Set<std::int32_t>(img::kCorners, placement.x0)
        .Set<std::int32_t>(img::kCorners + 4, placement.y0)
        .Set<std::int32_t>(img::kCorners + 8, placement.x1)
        .Set<std::int32_t>(img::kCorners + 12, placement.y1);
    p.Set<std::int32_t>(img::kKind, picture.bilevel ? 0 : 2)
        .Set<std::int32_t>(img::kSourceWidth, picture.width)
        .Set<std::int32_t>(img::kSourceHeight, picture.height);
    p.Set<std::int16_t>(img::kTransparent, placement.transparent ? 1 : 0)
        .Set<std::int16_t>(img::kBits, picture.bilevel ? 1 : 24)
        .Set<std::int16_t>(img::kColour, placement.colour);
    return p;
}

}  // namespace

std::int16_t DrawPicture(const RowPicture& picture, const Placement& placement, bool progress,
                         std::string* error) {
    const LowScope scope;  // the lines' memory, until the picture is drawn
    Current = Serving{};
    Current.picture = &picture;
    Current.placement = placement;
    Current.progress = progress && !picture.progressLabel.empty() && isatty(STDERR_FILENO);
    Current.reply = static_cast<std::uint8_t*>(LowAllocate(kReplySize));
    Current.line = static_cast<std::uint8_t*>(LowAllocate(picture.lineCapacity));
    if (Current.reply == nullptr || Current.line == nullptr) {
        Current = Serving{};
        *error = "no low memory left for the picture's lines";
        return -1;
    }
    Packet p = ImageRequest(picture, placement);
    const std::int16_t taken = SendPlot(p);
    if (taken == 52) {
        // Drawn now, by the next plot request, while the picture is ours.
        Packet drawIt(0);
        SendPlot(drawIt);
    }
    if (Current.failed) *error = Current.error;
    if (Current.progress && Current.shownPercent >= 0 && Current.shownPercent < 100)
        std::fputs("\n", stderr);
    Current = Serving{};
    return taken;
}

}  // namespace varnu::host
