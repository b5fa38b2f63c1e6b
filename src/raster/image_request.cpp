// Plot request 52 and the drawing of the pending image: grid, placement,
// transparency, the host's row routines, and the vector state afterwards.
#include "raster/image_request.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "config/config_record.h"
#include "config/page_geometry.h"
#include "interface/host_services.h"
#include "interface/output_buffer.h"
#include "interface/packet.h"
#include "interface/platform.h"
#include "modes/data_mode.h"
#include "raster/dither.h"
#include "raster/raster_output.h"
#include "varnu/adi_abi.h"
#include "varnu/byte_order.h"
#include "varnu/packet_layouts.h"

namespace varnu {

ImageStateRecord Image;

namespace {

// Colour of the set pixels of a bilevel image, by colour index.
struct Rgb {
    std::uint8_t red, green, blue;
};
// clang-format off
constexpr Rgb ImageColourTable[8] = {
    {255, 255, 255},  // 0
    {255,   0,   0},  // 1
    {255, 255,   0},  // 2
    {  0, 255,   0},  // 3
    {  0, 255, 255},  // 4
    {  0,   0, 255},  // 5
    {255,   0, 255},  // 6
    {  0,   0,   0},  // 7
};
// clang-format on
constexpr std::int16_t kHighestColourIndex = 7;

// The colour the host is told to use for transparent pixels of a colour image.
constexpr std::uint8_t kKeyColour[3] = {0x00, 0x01, 0x02};

// The host's row routines, caller-cleans.
using RowFetchFn = void* ADI_CALLER_CLEANS(void* rowRequest);
using RowReleaseFn = std::int32_t ADI_CALLER_CLEANS(void* rowReply);

constexpr char kFailureFormat[] = "image faile=%d %d %d";
constexpr char kFailureCaption[] = "DAD4.3";

// Request 52's fields.
namespace img = layout::image;

struct Grid {
    std::int32_t width, height;
};

// The pixel grid the host is asked for, or false when it cannot be computed.
bool ComputeGrid(const DataModeOps& mode, double dpi, Grid* grid) {
    const PendingImageRecord& im = Image.PendingImage;
    const std::int64_t dx = std::int64_t{im.x1} - im.x0, dy = std::int64_t{im.y1} - im.y0;
    if (dpi <= 0 || dx <= 0 || dy <= 0 || im.pixelsPerLine <= 0 || im.lineCount <= 0) return false;
    double w, h;
    if (!mode.grid(dpi, dx, dy, im.pixelsPerLine, im.lineCount, &w, &h)) return false;
    constexpr double kLargest = 1 << 24;
    if (!(w >= 1 && h >= 1 && w <= kLargest && h <= kLargest)) return false;
    grid->width = static_cast<std::int32_t>(w);
    grid->height = static_cast<std::int32_t>(h);
    return true;
}

void FillRowRequest(std::int32_t line, std::int32_t pixelsPerLine, double strip, bool longEdge) {
    namespace rr = layout::row_request;
    const PendingImageRecord& im = Image.PendingImage;
    std::uint8_t* r = Module.RowRequest;
    const std::int32_t from = TruncateToInt32((longEdge ? im.x0 : im.y0) + line * strip);
    const std::int32_t to = TruncateToInt32((longEdge ? im.x0 : im.y0) + (line + 1) * strip);
    // A line is a row of the image, or a column with the long edge along x.
    StoreLe<std::int32_t>(r, rr::kFirstColumn, longEdge ? line : 0);
    StoreLe<std::int32_t>(r, rr::kFirstRow, longEdge ? 0 : line);
    StoreLe<std::int32_t>(r, rr::kLastColumn, longEdge ? line : pixelsPerLine - 1);
    StoreLe<std::int32_t>(r, rr::kLastRow, longEdge ? pixelsPerLine - 1 : line);
    StoreLe<std::int32_t>(r, rr::kStrip, longEdge ? from : im.x0);
    StoreLe<std::int32_t>(r, rr::kStrip + 4, longEdge ? im.y0 : from);
    StoreLe<std::int32_t>(r, rr::kStrip + 8, longEdge ? to : im.x1);
    StoreLe<std::int32_t>(r, rr::kStrip + 12, longEdge ? im.y1 : to);
    std::memcpy(r + rr::kHandle, im.packet + img::kHandle, 4);
    StoreLe<std::int32_t>(r, rr::kDepth, im.bilevel ? 1 : 8);
    StoreLe<std::int32_t>(r, rr::kOrientation, longEdge ? 7 : 2);
    StoreLe<std::int16_t>(r, rr::kBits, im.bilevel ? 1 : 24);
    if (im.bilevel) {
        StoreLe<std::int16_t>(r, rr::kColourWhite, 0);
        StoreLe<std::int16_t>(r, rr::kColourIndex, im.colourIndex);
    } else {
        std::memset(r + rr::kColourWhite, 0xFF, 3);
        std::memcpy(r + rr::kKeyColour, kKeyColour, 3);
    }
    StoreLe<std::int32_t>(r, rr::kFixed64, 0);
    StoreLe<std::int16_t>(r, rr::kFixed68, 0);
    StoreLe<std::int16_t>(r, rr::kFixed70, 1);
    std::memcpy(r + rr::kOpaque, im.packet + img::kOpaque, img::kOpaqueSize);
}

// The lines and pixels of an image that lie on the sheet.
struct SheetPart {
    std::int32_t firstLine, lines;    // lines fetched and sent, counted from the first fetched
    std::int32_t firstPixel, pixels;  // of each line's pixels, those sent
};

// Of `count` cells of `size` device units laid from `from` in direction
// `step` (+1 or -1), the first whose near edge lies on [lo, hi] and how
// many from there start on it (the last may reach past the far edge).
void CellsOn(double from, int step, double size, std::int32_t count, double lo, double hi,
             std::int32_t* first, std::int32_t* kept) {
    const double start = step > 0 ? (lo - from) / size : (from - hi) / size;
    const double end = step > 0 ? (hi - from) / size : (from - lo) / size;
    const double f = std::max(0.0, std::ceil(start));
    const double e = std::min(static_cast<double>(count), std::ceil(end));
    *first = static_cast<std::int32_t>(std::min(f, static_cast<double>(count)));
    *kept = e > f ? static_cast<std::int32_t>(e - f) : 0;
}

// The part of the image on the sheet; the anchor and window move onto it.
// In the normal orientation a line's pixels run from x1 to lower x and the
// lines up from y0; along the long edge the lines run from x0 to higher x
// and their pixels up from y0. False when nothing of it lies on the sheet.
bool CutToSheet(const DataModeOps& mode, double dpi, std::int32_t lines, std::int32_t pixels,
                std::int32_t replication, bool longEdge, ImagePlacement* place, SheetPart* part) {
    const DeviceRect sheet = mode.sheet();
    // Without a job's sheet (an image outside a job) there is nothing to cut to.
    if (!(sheet.x1 > sheet.x0 && sheet.y1 > sheet.y0)) {
        *part = {0, lines, 0, pixels};
        return true;
    }
    const double cell = replication * mode.unitsPerInch / dpi;
    const double ax = static_cast<double>(place->anchorX), ay = static_cast<double>(place->anchorY);
    std::int32_t* lineFirst = &part->firstLine;
    std::int32_t* pixelFirst = &part->firstPixel;
    CellsOn(longEdge ? ax : ay, 1, cell, lines, longEdge ? sheet.x0 : sheet.y0,
            longEdge ? sheet.x1 : sheet.y1, lineFirst, &part->lines);
    CellsOn(longEdge ? ay : ax, longEdge ? 1 : -1, cell, pixels, longEdge ? sheet.y0 : sheet.x0,
            longEdge ? sheet.y1 : sheet.x1, pixelFirst, &part->pixels);
    if (part->lines <= 0 || part->pixels <= 0) return false;
    // Whole device units, rounded towards the sheet's inside.
    const double lineShift = part->firstLine * cell, pixelShift = part->firstPixel * cell;
    if (longEdge) {
        if (part->firstLine > 0) place->anchorX = static_cast<long long>(std::ceil(ax + lineShift));
        if (part->firstPixel > 0)
            place->anchorY = static_cast<long long>(std::ceil(ay + pixelShift));
    } else {
        if (part->firstLine > 0) place->anchorY = static_cast<long long>(std::ceil(ay + lineShift));
        if (part->firstPixel > 0)
            place->anchorX = static_cast<long long>(std::floor(ax - pixelShift));
    }
    const auto inside = [](long long v, double lo, double hi) {
        const double d = static_cast<double>(v);
        return d < lo   ? static_cast<long long>(std::ceil(lo))
               : d > hi ? static_cast<long long>(std::floor(hi))
                        : v;
    };
    place->windowX0 = inside(place->windowX0, sheet.x0, sheet.x1);
    place->windowX1 = inside(place->windowX1, sheet.x0, sheet.x1);
    place->windowY0 = inside(place->windowY0, sheet.y0, sheet.y1);
    place->windowY1 = inside(place->windowY1, sheet.y0, sheet.y1);
    return true;
}

// Pulls the lines from the host into the page buffer, each cut to the
// pixels on the sheet. False after a failure reply: the image is then
// abandoned.
bool FetchLines(std::int32_t firstLine, std::int32_t endLine, const SheetPart& part,
                std::int32_t pixelsPerLine, double strip, bool longEdge) {
    auto* fetch = FunctionFromHostAddress<RowFetchFn>(
        LoadLe<HostAddress>(Image.PendingImage.packet, img::kFetch));
    auto* release = FunctionFromHostAddress<RowReleaseFn>(
        LoadLe<HostAddress>(Image.PendingImage.packet, img::kRelease));
    for (std::int32_t line = firstLine; line < endLine; ++line) {
        FillRowRequest(line, pixelsPerLine, strip, longEdge);
        auto* reply = static_cast<std::uint8_t*>(fetch(Module.RowRequest));
        const std::int32_t count =
            reply != nullptr ? LoadLe<std::int32_t>(reply, layout::row_reply::kCount) : 0;
        if (reply == nullptr || LoadLe<std::int16_t>(reply, layout::row_reply::kFailed) != 0) {
            char text[64];
            std::snprintf(text, sizeof text, kFailureFormat, line, pixelsPerLine, count);
            ShowMessageBox(Module.HostWindow, text, kFailureCaption, kMessageBoxWarning);
            return false;  // a failed reply is not released
        }
        if (LoadLe<std::int16_t>(reply, layout::row_reply::kStop) != 0) {
            if (release != nullptr) release(reply);
            return true;
        }
        const auto* pixels = FromHostAddress<const std::uint8_t>(
            LoadLe<HostAddress>(reply, layout::row_reply::kPixels));
        const bool bilevel = Image.PendingImage.bilevel != 0;
        const std::int32_t size = bilevel ? 1 : 3;
        const std::int32_t have = std::min(count / size - part.firstPixel, part.pixels);
        pixels += static_cast<std::ptrdiff_t>(part.firstPixel) * size;
        const PendingImageRecord& im = Image.PendingImage;
        AddImageLine(have > 0 ? have : 0, pixels, bilevel, bilevel ? im.red : 0,
                     bilevel ? im.green : 0, bilevel ? im.blue : 0);
        if (release != nullptr) release(reply);
    }
    return true;
}

void DrawImage() {
    PendingImageRecord& im = Image.PendingImage;
    const DataMode dataMode = CurrentDataMode();
    const DataModeOps& mode = ModeOps(dataMode);
    const ConfigurationRecord& c = Configuration;
    const bool longEdge = (c.Config.modeFlags & kModeLongEdgeAlongX) != 0;
    const std::uint16_t code = mode.imageResolution(c.Config.modeFlags & kModeResolutionMask);

    // Everything that can refuse the image comes before the first byte: a
    // refused image sends nothing and leaves the vector state as it was.
    if (im.colourIndex < 0) return;
    if (LoadLe<HostAddress>(im.packet, img::kFetch) == 0) return;
    const double dpi = SelectResolution(
        static_cast<std::uint16_t>((c.Config.modeFlags & ~kModeResolutionMask) | code), dataMode);
    Grid grid;
    if (!ComputeGrid(mode, dpi, &grid)) return;
    const std::int32_t pixelsPerLine = longEdge ? grid.height : grid.width;
    const std::int32_t lineCount = longEdge ? grid.width : grid.height;
    const double strip = longEdge ? static_cast<double>(std::int64_t{im.x1} - im.x0) / lineCount
                                  : static_cast<double>(std::int64_t{im.y1} - im.y0) / lineCount;
    // Device units of the corners, in 64 bits: a corner far out times the
    // scale may pass 2^31.
    const double s = c.PageGeometry.ScaleFactor;
    const auto device = [s](std::int32_t v) { return static_cast<long long>(std::trunc(v * s)); };
    ImagePlacement place = {im.x0,
                            im.y0,
                            im.x1,
                            im.y1,
                            device(longEdge ? im.x0 : im.x1),
                            device(im.y0),
                            device(im.x0),
                            device(im.y0),
                            device(im.x1),
                            device(im.y1),
                            im.transparent,
                            PageState.DevicePosition};
    const std::int32_t firstLine = mode.skipsFirstLineAt600 && code == kResolution600 ? 1 : 0;
    SheetPart part = {0, 0, 0, pixelsPerLine};  // no line to fetch: nothing to cut
    if (lineCount > firstLine && !CutToSheet(mode, dpi, lineCount - firstLine, pixelsPerLine,
                                             c.PageGeometry.StepDivisor, longEdge, &place, &part))
        return;  // nothing of it on the sheet: nothing is sent
    if (!PrepareRaster(part.pixels, part.lines + firstLine, dataMode, im.transparent,
                       TruncateToInt32(static_cast<double>(place.anchorX)),
                       TruncateToInt32(static_cast<double>(place.anchorY)),
                       c.PageGeometry.StepDivisor, longEdge)) {
        return;
    }
    im.pixelsPerLine = pixelsPerLine;
    im.lineCount = lineCount;

    mode.imageOpen();
    im.savedX = PageState.DevicePosition.x;
    im.savedY = PageState.DevicePosition.y;
    place.saved = PageState.DevicePosition;
    if (PageState.CommandFill > 0) FlushOutput();
    mode.placeImage(place);
    if (PageState.CommandFill > 0) FlushOutput();

    BeginRaster();
    const std::int32_t from = firstLine + part.firstLine;
    if (FetchLines(from, from + part.lines, part, pixelsPerLine, strip, longEdge))
        EncodeAndSendBands();
    EndRaster();
    mode.restore(place);
    // The image is on the page: job end must close it.
    PageState.PageHasContent = 1;
    PageState.PenState = kPenClosed;
}

}  // namespace

void AcceptImage() {
    // A new image: nothing of the one before it is kept here.
    ReleaseRasterBuffers();
    Image = ImageStateRecord{};
    PendingImageRecord& im = Image.PendingImage;
    im.x0 = PacketGet<std::int32_t>(img::kCorners);
    im.y0 = PacketGet<std::int32_t>(img::kCorners + 4);
    im.x1 = PacketGet<std::int32_t>(img::kCorners + 8);
    im.y1 = PacketGet<std::int32_t>(img::kCorners + 12);
    im.width = static_cast<std::int32_t>(static_cast<std::uint32_t>(im.x1) -
                                         static_cast<std::uint32_t>(im.x0));
    im.pixelsPerLine = PacketGet<std::int32_t>(img::kSourceWidth);
    im.lineCount = PacketGet<std::int32_t>(img::kSourceHeight);
    const std::int32_t kind = PacketGet<std::int32_t>(img::kKind);
    const std::int16_t bits = PacketGet<std::int16_t>(img::kBits);
    im.transparent = PacketGet<std::int16_t>(img::kTransparent);
    if (kind == 1 && bits == 2) im.transparent = 0;
    PacketPut<std::int16_t>(img::kTaken, 1);
    im.bilevel = kind == 0 || (kind == 1 && bits <= 2);
    std::int16_t index = PacketGet<std::int16_t>(img::kColour);
    if (index > kHighestColourIndex) index = kHighestColourIndex;
    im.colourIndex = index;
    const Rgb colour = ImageColourTable[index < 0 ? 0 : index];
    im.red = colour.red;
    im.green = colour.green;
    im.blue = colour.blue;
    im.marker = kImagePending;
    std::memcpy(im.packet, CurrentPacket, kImagePacketCopySize);
}

std::int32_t FlushPendingImage() {
    if (Image.PendingImage.marker != kImagePending) return 0;
    DrawImage();
    ReleaseRasterBuffers();
    Image.PendingImage.marker = 0;
    return 0;
}

}  // namespace varnu
