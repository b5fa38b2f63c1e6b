// VCGL+MMR: binary VCGL commands for vectors and polygons, images as VCGL
// raster commands carrying MMR bands. Every byte this mode writes is here;
// the constant command bytes are the printer's table (varnu/vcgl_commands.h).
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "config/device_tables.h"
#include "config/page_geometry.h"
#include "interface/output_buffer.h"
#include "modes/data_mode.h"
#include "varnu/pen_palette.h"
#include "varnu/vcgl_commands.h"

namespace varnu {
namespace {

constexpr std::uint8_t kSegment16 = 0x64;  // x0 y0 dx dy as 16-bit words
constexpr std::uint8_t kSegment32 = 0x6B;  // x0 y0 dx dy as 32-bit values
constexpr std::uint8_t kPolygon16[2] = {0xFF, 0x7C};
constexpr std::uint8_t kPolygon32[2] = {0xFF, 0x83};
// The largest polygon whose 32-bit form has a word count (4 per vertex) that
// fits its 16-bit field.
constexpr std::int32_t kMaxLongVertices = 0xFFFF / 4;
constexpr std::int32_t kMaxWidth = 511;  // 1/400 inch

bool ShortCoordinates() {
    return Configuration.VcglShortCoordinates != 0;
}

// 16-bit big-endian words appended to the command buffer; 0 or -1.
std::int32_t AppendWords(std::initializer_list<std::int32_t> values) {
    std::uint8_t packed[2 * 8 + 1];
    std::int32_t n = 0;
    for (std::int32_t v : values) n += PackBigEndian16(static_cast<std::uint16_t>(v), packed + n);
    return AppendBytes(n, packed);
}

// A two-byte head and one word, appended.
std::int32_t AppendWordCommand(const vcgl::Bytes<2>& head, std::int32_t word) {
    std::uint8_t command[4 + 1] = {head[0], head[1]};
    PackBigEndian16(static_cast<std::uint16_t>(word), command + 2);
    return AppendBytes(4, command);
}

std::int32_t SendWordCommand(ReplayCommand& record, const vcgl::Bytes<2>& head, std::int32_t word) {
    std::uint8_t command[4 + 1] = {head[0], head[1]};
    PackBigEndian16(static_cast<std::uint16_t>(word), command + 2);
    return SendAndRecord(record, command, 4);
}

// A segment from (x0, y0) by (dx, dy), in the 16-bit form (values cut to
// their low 16 bits) with short coordinates, otherwise the 32-bit form.
std::int32_t AppendSegment(std::int32_t x0, std::int32_t y0, std::int32_t dx, std::int32_t dy) {
    const std::int32_t values[4] = {x0, y0, dx, dy};
    std::uint8_t command[18 + 1];  // the packers write a NUL behind each value
    std::int32_t n = 2;
    if (ShortCoordinates()) {
        command[0] = kSegment16;
        command[1] = 0x04;
        for (std::int32_t v : values)
            n += PackBigEndian16(static_cast<std::uint16_t>(v), command + n);
    } else {
        command[0] = kSegment32;
        command[1] = 0x08;
        for (std::int32_t v : values)
            n += PackBigEndian32(static_cast<std::uint32_t>(v), command + n);
    }
    return AppendBytes(n, command);
}

// A zero-length segment at the converted host point; changes no drawing
// state. Fails at once while the latch is set.
std::int32_t AppendDot(std::int32_t hostX, std::int32_t hostY) {
    if (JobState.ErrorLatch != kLatchClear) return -1;
    const double scale = Configuration.PageGeometry.ScaleFactor;
    return AppendSegment(TruncateToInt32(hostX * scale), TruncateToInt32(hostY * scale), 0, 0);
}

// The job header, job start's and again after an image.
std::int32_t JobHeader() {
    if (AppendCommand(vcgl::kVcglPreamble) != 0 || AppendCommand(vcgl::kModelIdentification) != 0 ||
        AppendCommand(vcgl::kJobHeaderTail1) != 0 || AppendCommand(vcgl::kJobHeaderTail2) != 0) {
        return -1;
    }
    return 0;
}

std::int32_t DefaultAttributes() {
    if (AppendWordCommand(vcgl::kLinePenHead, 7) != 0) return -1;
    if (AppendWordCommand(vcgl::kHostPenHead, 7) != 0) return -1;
    for (const auto& pattern : vcgl::kLineTypePatterns)
        if (AppendBytes(pattern.length, pattern.bytes) != 0) return -1;
    for (const auto& setting : vcgl::kDefaultSettings)
        if (AppendCommand(setting) != 0) return -1;
    return 0;
}

// The page's close, at job end and before an image.
void ClosePage() {
    AppendCommand(vcgl::kVcglPreamble);
    AppendCommand(vcgl::kPageEnd);
}

// --- Job -----------------------------------------------------------------

void Start() {}

bool Label() {
    const char* label = Configuration.LabelText;
    const std::int32_t n = static_cast<std::int32_t>(std::strlen(label));
    if (n == 0) return true;
    std::uint8_t head[1 + 2 + 3];
    std::int32_t k = 0;
    head[k++] = vcgl::kLabelOpcode;
    k += PackBigEndian8(static_cast<std::uint8_t>(n % 2 == 0 ? n / 2 + 1 : n / 2 + 2), head + k);
    k += PackBigEndian16(static_cast<std::uint16_t>(n), head + k);
    if (AppendBytes(k, head) != 0) return false;
    // An odd label is padded to whole words with its terminating NUL.
    return AppendBytes(n % 2 == 0 ? n : n + 1, label) == 0;
}

bool Head(const ModelRecord& model) {
    if (AppendCommand(vcgl::kJobBegin) != 0) return false;
    const ConfigRecord& config = Configuration.Config;
    const MediaRecord* media = Media(Configuration.CurrentModel, config.mediaIndex);
    if (model.media == 1 && media != nullptr && media->vcglCommand[0] != 0) {
        // Length from the command's own fourth byte, never past its field.
        const std::int32_t length = media->vcglCommand[3] + 4;
        const std::int32_t bounded = length < 60 ? length : 60;
        if (AppendBytes(bounded, media->vcglCommand) != 0) return false;
    }
    // Copies: a failure here shows at the next step.
    AppendCommand(vcgl::kCopiesHead);
    AppendFormat("%02X", config.copies);
    if (model.manualOutput == 1 && (config.modeFlags & kModeManualOutput) != 0) {
        if (AppendCommand(vcgl::kManualOutput) != 0) return false;
    }
    return JobHeader() == 0 && Label();
}

bool Tail(const ModelRecord& model) {
    // Halftone cells of the grey levels; results show at the next checked step.
    for (int g = 0; g < 256; ++g) {
        const int v = GreyRemapTable[GreyRemapTable[GreyRemapTable[g]]];
        AppendCommand(vcgl::kHalftoneHead);
        AppendWords({g, 16, 16});
        std::uint8_t rows[2 * 16 + 1];
        for (int r = 0; r < 16; ++r) PackBigEndian16(HalftonePatternTable[v][r], rows + 2 * r);
        AppendBytes(32, rows);
    }
    for (int p = 0; p < 256; ++p) {
        AppendCommand(vcgl::kPaletteHead);
        if (RedPenApplies(model, p)) {
            AppendWords({p, -1, -1, 0, -1});
        } else {
            const std::int32_t grey = PenGrey(p);
            AppendWords({p, grey, -1, -1, -1});
            if (grey == 0) JobState.BlackPen = static_cast<std::int16_t>(p);
        }
    }
    if (DefaultAttributes() != 0) return false;
    // Width 0 while the page corners are marked, then the default width.
    if (AppendWordCommand(vcgl::kPenWidthHead, 0) != 0) return false;
    if (AppendDot(0, 0) != 0) return false;
    const bool across = Configuration.PageGeometry.LongEdgeAcross == 1;
    const std::int32_t w = JobState.PageWidthUnits, h = JobState.PageHeightUnits;
    if (AppendDot(across ? h : w, across ? w : h) != 0) return false;
    return AppendWordCommand(vcgl::kPenWidthHead, static_cast<std::int32_t>(std::floor(1.112))) ==
           0;
}

void PageEnd() {
    ClosePage();
    AppendCommand(vcgl::kJobEnd);
}

// --- Pens ----------------------------------------------------------------

std::int32_t Pen(std::int16_t linePen, std::uint16_t hostPen) {
    GraphicsStateReplayRecord& replay = Module.GraphicsStateReplay;
    if (SendWordCommand(replay.pen, vcgl::kLinePenHead, linePen) != 0) return -1;
    return SendWordCommand(replay.hostPen, vcgl::kHostPenHead, hostPen);
}

std::int32_t LineType(std::uint16_t type, bool patterned) {
    return SendWordCommand(Module.GraphicsStateReplay.lineType, vcgl::kLineTypeHead,
                           patterned ? type : 0);
}

std::int32_t Width(double inches) {
    const double d = inches * 400.0;
    std::int32_t value;
    if (!(inches >= 0.0) || d > kMaxWidth)
        value = kMaxWidth;
    else if (d < 1.0)
        value = 1;
    else
        value = static_cast<std::int32_t>(std::floor(d));
    return SendWordCommand(Module.GraphicsStateReplay.width, vcgl::kPenWidthHead, value);
}

// --- Vectors -------------------------------------------------------------

std::int32_t Nothing() {
    return 0;
}

std::int32_t ReselectPen(std::int16_t pen) {
    return AppendWordCommand(vcgl::kLinePenHead, pen);
}

std::int32_t OpenDraw() {
    PageState.PenState = kPenDrawing;
    return 0;
}

// Points draw only while the pen is down.
std::int32_t Segment(std::int32_t dx, std::int32_t dy) {
    if (PageState.PenState != kPenDrawing) return 0;
    const DevicePoint from = PageState.PreviousDevicePosition;
    return AppendSegment(from.x, from.y, dx, dy);
}

std::int32_t AppendPair(std::int32_t a, std::int32_t b) {
    std::uint8_t packed[8 + 1];
    std::int32_t k = 0;
    if (ShortCoordinates()) {
        k += PackBigEndian16(static_cast<std::uint16_t>(a), packed + k);
        k += PackBigEndian16(static_cast<std::uint16_t>(b), packed + k);
    } else {
        k += PackBigEndian32(static_cast<std::uint32_t>(a), packed + k);
        k += PackBigEndian32(static_cast<std::uint32_t>(b), packed + k);
    }
    return AppendBytes(k, packed);
}

// The first vertex absolute, then offsets; the fill pen before, the host's
// pen after a solid fill.
std::int32_t Polygon(std::int16_t hostPen, std::int32_t n, const PolygonVertices& v) {
    const bool shortForm = ShortCoordinates();
    // The 32-bit form cannot state the word count of a larger polygon; such a
    // polygon is refused before anything is sent rather than sent miscounted.
    if (!shortForm && n > kMaxLongVertices) return -1;
    const bool halftone = (Configuration.Config.optionFlags & kOptionHalftoneFill) != 0;
    SetPenState(kPenClosed);
    if (AppendWordCommand(vcgl::kHostPenHead, halftone ? hostPen : JobState.BlackPen) != 0)
        return -1;
    PageState.PenStatePrevious = kPenClosed;
    PageState.PenState = kPenDrawing;

    std::int32_t dx, dy;
    if (ConvertPoint(v.x(0), v.y(0), &dx, &dy) != 0) return -1;
    const std::uint8_t* head = shortForm ? kPolygon16 : kPolygon32;
    if (AppendWordCommand({head[0], head[1]}, (shortForm ? 2 : 4) * n) != 0) return -1;
    if (AppendPair(PageState.DevicePosition.x, PageState.DevicePosition.y) != 0) return -1;
    for (std::int32_t i = 1; i < n; ++i) {
        if (ConvertPoint(v.x(i), v.y(i), &dx, &dy) != 0) return -1;
        if (AppendPair(dx, dy) != 0) return -1;
    }
    if (!halftone && AppendWordCommand(vcgl::kHostPenHead, hostPen) != 0) return -1;
    SetPenState(kPenClosed);
    PageState.PageHasContent = 1;
    return 0;
}

// --- Images --------------------------------------------------------------

// Raster images exist at 400 and 200 dpi only: the grid is the area in
// device units at that resolution.
bool Grid(double dpi, std::int64_t dx, std::int64_t dy, std::int32_t, std::int32_t, double* width,
          double* height) {
    if (dpi != 400 && dpi != 200) return false;
    const std::int64_t divisor = dpi == 400 ? 2 : 4;
    *width = static_cast<double>(dx / divisor);
    *height = static_cast<double>(dy / divisor);
    return true;
}

// 600 and 300 dpi codes are sent at the nearest of 400 and 200.
std::uint16_t ImageResolution(std::uint16_t code) {
    if (code == kResolution600) return kResolution400;
    if (code == kResolution300) return kResolution200;
    return code;
}

// The page rectangle job start marks.
DeviceRect Sheet() {
    return {0, 0, static_cast<double>(JobState.PageWidthUnits),
            static_cast<double>(JobState.PageHeightUnits)};
}

void PlaceImage(const ImagePlacement& im) {
    SendDirect(im.transparent ? vcgl::kPaintTransparent : vcgl::kPaintOpaque);
}

void Restore(const ImagePlacement&) {
    SendDirect(vcgl::kPaintOpaque);
    if (JobHeader() != 0 || DefaultAttributes() != 0) return;
    const GraphicsStateReplayRecord& replay = Module.GraphicsStateReplay;
    for (const ReplayCommand* c : {&replay.pen, &replay.hostPen, &replay.width, &replay.lineType})
        AppendBytes(c->length, c->bytes);
}

// --- Raster --------------------------------------------------------------

void SelectResolution(std::int32_t) {}

void SendResolution() {
    if (Module.CurrentDpi == 400) SendDirect(vcgl::kResolution400);
    if (Module.CurrentDpi == 200) SendDirect(vcgl::kResolution200);
}

void RasterBegin(const RasterFrame&) {
    SendResolution();
}

void SendImageHeader(const RasterFrame& frame, std::int32_t width, std::int32_t rows) {
    SendDirect(vcgl::kImageHeaderOpener);
    SendDirectBigEndian32(frame.anchorX);
    SendDirectBigEndian32(frame.anchorY);
    SendDirectBigEndian32(width);
    SendDirectBigEndian32(rows);
}

// Clears the band's area before an opaque image.
void SendBlankPreamble(const RasterFrame& frame, std::int32_t rows) {
    SendImageHeader(frame, 32, 1);
    SendDirectBigEndian32(frame.rowPixels);
    SendDirectBigEndian32(rows);
    SendDirect(vcgl::kImageHeaderTail);
    SendDirect(vcgl::kDataMode0207);
    SendDirect(vcgl::kDataOpener);
    SendDirect(vcgl::kBlankLength);
    SendDirect(vcgl::kBlankPattern);
    SendDirect(vcgl::kDataMode0200);
    SendDirect(vcgl::kPaintTransparent);
    SendResolution();
}

// Device units (1/400 inch) a raster row or pixel takes.
std::int32_t UnitsPerRow() {
    return Module.CurrentDpi == 200 ? 2 : 1;
}

void Frame(const RasterFrame& frame, std::int32_t rows, const std::uint8_t* coded,
           std::uint32_t count) {
    if (frame.transparent == 0) SendBlankPreamble(frame, rows);
    SendImageHeader(frame, frame.width, rows);
    // The size in device units.
    SendDirectBigEndian32(frame.width * UnitsPerRow());
    SendDirectBigEndian32(rows * UnitsPerRow());
    SendDirect(vcgl::kImageHeaderTail);
    SendDirect(vcgl::kDataMode0207);
    SendDirect(vcgl::kDataOpener);
    SendDirectBigEndian32(static_cast<std::int32_t>(count));
    SendDirectBytes(coded, count);
}

// The anchor moves by the band's rows in device units: at 200 dpi a row is
// two of them, and a move by the row count would lay the next band over
// half of this one.
void BandMove(RasterFrame& frame, std::int32_t advance) {
    SendDirect(vcgl::kDataMode0200);
    (frame.longEdge ? frame.anchorX : frame.anchorY) += advance * UnitsPerRow();
    SendResolution();
}

void RasterEnd() {
    SendDirect(vcgl::kDataMode0200);
    SendDirect(vcgl::kResolution400);
}

}  // namespace

extern const DataModeOps kVcglMode = {
    .start = Start,
    .head = Head,
    .tail = Tail,
    .pageEnd = PageEnd,
    .pen = Pen,
    .lineType = LineType,
    .width = Width,
    .closeSequence = Nothing,
    .reselectPen = ReselectPen,
    .openMove = Nothing,
    .openDraw = OpenDraw,
    .segment = Segment,
    .penUp = Nothing,
    .polygon = Polygon,
    .grid = Grid,
    .skipsFirstLineAt600 = false,
    .unitsPerInch = 400.0,
    .sheet = Sheet,
    .imageResolution = ImageResolution,
    .imageOpen = ClosePage,
    .placeImage = PlaceImage,
    .restore = Restore,
    .selectResolution = SelectResolution,
    .rasterBegin = RasterBegin,
    .frame = Frame,
    .bandMove = BandMove,
    .rasterEnd = RasterEnd,
};

}  // namespace varnu
