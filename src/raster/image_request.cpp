// Plot request 52 and the drawing of the pending image: grid, placement,
// transparency, the host's row routines, and the vector state afterwards.
#include "raster/image_request.h"

#include <cmath>
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

// Pulls the lines from the host into the page buffer. False after a failure
// reply: the image is then abandoned.
bool FetchLines(std::int32_t firstLine, std::int32_t pixelsPerLine, std::int32_t lineCount,
                double strip, bool longEdge) {
    auto* fetch = FunctionFromHostAddress<RowFetchFn>(
        LoadLe<HostAddress>(Image.PendingImage.packet, img::kFetch));
    auto* release = FunctionFromHostAddress<RowReleaseFn>(
        LoadLe<HostAddress>(Image.PendingImage.packet, img::kRelease));
    for (std::int32_t line = firstLine; line < lineCount; ++line) {
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
        if (Image.PendingImage.bilevel) {
            AddImageLine(count, pixels, true, Image.PendingImage.red, Image.PendingImage.green,
                         Image.PendingImage.blue);
        } else {
            AddImageLine(count / 3, pixels, false, 0, 0, 0);
        }
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
    const double s = c.PageGeometry.ScaleFactor;
    ImagePlacement place = {im.x0,
                            im.y0,
                            im.x1,
                            im.y1,
                            longEdge ? im.x0 : im.x1,
                            im.y0,
                            TruncateToInt32(s),
                            im.transparent,
                            PageState.DevicePosition};
    if (!PrepareRaster(pixelsPerLine, lineCount, dataMode, im.transparent,
                       TruncateToInt32(place.anchorX * s), TruncateToInt32(place.anchorY * s),
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
    const std::int32_t firstLine = mode.skipsFirstLineAt600 && code == kResolution600 ? 1 : 0;
    if (FetchLines(firstLine, pixelsPerLine, lineCount, strip, longEdge)) EncodeAndSendBands();
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
