#include "session/row_server.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "session/driver.h"
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
    // For each pixel of a line of `mapped` pixels, the picture's column
    // (row lines) or row (column lines) it shows.
    std::vector<std::int32_t> along;
    std::int64_t mapped = -1;
    bool mappedColumn = false;
    bool reversed = false;  // `along` counts down from the picture's last pixel
    ColumnCache cache;
    std::vector<std::uint8_t> columns;  // the cached columns, each a line as served
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

// Which of the picture's pixels each of a line's `pixels` shows: the
// nearest, right to left along a row, upwards along a column.
void MapLine(const RowPicture& pic, bool column, std::int64_t pixels) {
    if (Current.mapped == pixels && Current.mappedColumn == column) return;
    const std::int32_t size = column ? pic.height : pic.width;
    Current.along.resize(static_cast<std::size_t>(pixels));
    for (std::int64_t p = 0; p < pixels; ++p) {
        const double along = (p + 0.5) / static_cast<double>(pixels);
        Current.along[static_cast<std::size_t>(p)] =
            size - 1 - static_cast<std::int32_t>(along * size);
    }
    Current.mapped = pixels;
    Current.mappedColumn = column;
    Current.reversed = pixels == size;
    Current.cache = ColumnCache{};
}

// One pixel of the band as the driver takes it: one byte, or R, G, B.
template <PixelFormat format>
void PutPixel(const std::uint8_t* pixel, std::uint8_t* out) {
    if constexpr (format == PixelFormat::Bilevel) {
        *out = *pixel;
    } else if constexpr (format == PixelFormat::Rgb) {
        std::memcpy(out, pixel, 3);
    } else {
        std::uint32_t v;
        std::memcpy(&v, pixel, 4);
        out[0] = static_cast<std::uint8_t>(v >> 16);
        out[1] = static_cast<std::uint8_t>(v >> 8);
        out[2] = static_cast<std::uint8_t>(v);
    }
}

// Line `index` of the held band, a row of its pixels (a picture row, or a
// column of a band of columns), the pixels as MapLine chose them, to `out`.
template <PixelFormat format>
void CopyRow(const Band& band, std::int32_t index, std::uint8_t* out) {
    constexpr std::size_t size = format == PixelFormat::Rgb24 ? 4
                                 : format == PixelFormat::Rgb ? 3
                                                              : 1;
    constexpr std::size_t bytes = format == PixelFormat::Bilevel ? 1 : 3;
    const std::int32_t first = band.columns ? band.x : band.y;
    const std::int32_t along = band.columns ? band.y : band.x;
    const std::uint8_t* row = band.pixels + static_cast<std::size_t>(index - first) * band.stride;
    if (Current.reversed) {
        // One line pixel a picture pixel: the row backwards, as it lies.
        const std::uint8_t* pixel = row + static_cast<std::size_t>(Current.along[0] - along) * size;
        for (std::size_t p = 0; p < Current.along.size(); ++p, pixel -= size, out += bytes)
            PutPixel<format>(pixel, out);
        return;
    }
    for (const std::int32_t at : Current.along)
        PutPixel<format>(row + static_cast<std::size_t>(at - along) * size, out), out += bytes;
}

// Columns `index` to `index + count - 1` of the held band into the column
// cache, read row by row since a band's column is spread over all its
// rows: pixel p of each column beside each other.
template <PixelFormat format>
void CacheColumns(const Band& band, std::int32_t index, std::int32_t count) {
    constexpr std::size_t size = format == PixelFormat::Rgb24 ? 4
                                 : format == PixelFormat::Rgb ? 3
                                                              : 1;
    constexpr std::size_t bytes = format == PixelFormat::Bilevel ? 1 : 3;
    std::uint8_t* cache = Current.columns.data();
    for (std::size_t p = 0; p < Current.along.size(); ++p) {
        const std::uint8_t* row =
            band.pixels + static_cast<std::size_t>(Current.along[p] - band.y) * band.stride +
            static_cast<std::size_t>(index - band.x) * size;
        for (std::int32_t k = 0; k < count; ++k)
            PutPixel<format>(row + k * size, cache + (p * count + k) * bytes);
    }
}

// Line `index` (a row, or a column) of the held band to `out` as the
// driver takes it.
void CopyLine(const Band& band, bool column, std::int32_t index, std::uint8_t* out) {
    const std::size_t lineBytes =
        Current.along.size() * (band.format == PixelFormat::Bilevel ? 1 : 3);
    if (column == band.columns) {
        switch (band.format) {
            case PixelFormat::Bilevel:
                return CopyRow<PixelFormat::Bilevel>(band, index, out);
            case PixelFormat::Rgb:
                return CopyRow<PixelFormat::Rgb>(band, index, out);
            case PixelFormat::Rgb24:
                return CopyRow<PixelFormat::Rgb24>(band, index, out);
        }
    }
    ColumnCache& c = Current.cache;
    if (c.band != band.pixels || index < c.first || index >= c.first + c.count) {
        c.band = band.pixels;
        c.first = index;
        c.count = std::min(kCachedColumns, band.x + band.width - index);
        Current.columns.resize(static_cast<std::size_t>(c.count) * lineBytes);
        switch (band.format) {
            case PixelFormat::Bilevel:
                CacheColumns<PixelFormat::Bilevel>(band, index, c.count);
                break;
            case PixelFormat::Rgb:
                CacheColumns<PixelFormat::Rgb>(band, index, c.count);
                break;
            case PixelFormat::Rgb24:
                CacheColumns<PixelFormat::Rgb24>(band, index, c.count);
                break;
        }
    }
    const std::size_t bytes = band.format == PixelFormat::Bilevel ? 1 : 3;
    const std::size_t count = static_cast<std::size_t>(c.count);
    const std::uint8_t* from =
        Current.columns.data() + static_cast<std::size_t>(index - c.first) * bytes;
    for (std::size_t p = 0; p < lineBytes; p += bytes, from += count * bytes)
        std::memcpy(out + p, from, bytes);
}

// Our row fetch routine. Lines are counted from the bottom (or left) of the
// area; along a line the printer's raster runs right to left across the
// sheet and upwards along its long edge. Each line's pixels are the
// nearest of the picture's, so a grid a pixel off the picture still fits.
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
    MapLine(pic, column, pixels);
    CopyLine(Current.band, column, index, Current.line);
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
