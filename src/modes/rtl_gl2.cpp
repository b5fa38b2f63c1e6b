// RTL/GL2: a PJL job wrapper around HP-GL/2 vectors, with images as HP-RTL
// raster in MMR. Every byte this mode writes is here.
#include <cmath>
#include <cstdio>

#include "config/device_tables.h"
#include "config/page_geometry.h"
#include "interface/host_services.h"
#include "interface/output_buffer.h"
#include "modes/data_mode.h"
#include "varnu/pen_palette.h"

namespace varnu {
namespace {

// PJL wrapper and HP-GL/2 set-up.
constexpr char kPjlEnter[] = "\x1b%-12345X@PJL\r\n";  // UEL, PJL
constexpr char kPjlLanguage[] = "@PJL ENTER LANGUAGE=HPGL2\r\n";
constexpr char kEnterHpgl2Job[] = "\x1b%0B;";              // HP-GL/2 mode
constexpr char kBeginPlot[] = "BP2,%d;IN;";                // copies
constexpr char kBeginPlotLabel[] = "BP1,\"%s\",2,%d;IN;";  // label, copies
constexpr char kPageSize[] = "PS%ld,%ld";
constexpr char kInputWindow[] = "IP%ld,%ld,%ld,%ld";
constexpr char kScale[] = "SC0,%ld,0,%ld";
constexpr char kWindow[] = "IW0,0,%ld,%ld;";
constexpr char kManualOutputOn[] = "XF4,1;";
constexpr char kManualOutputOff[] = "XF4,0;";
constexpr char kLineAttributes[] = "LA1,4,2,4SP7RF";  // round ends and joins, pen 7
// The palette's size and colour range: job start sends them before the
// pens' colours, and an image again before it sends the colours again.
constexpr char kPenCount[] = "NP256";
constexpr char kColourRange[] = "CR0,255,0,255,0,255";
constexpr char kPenColour[] = "PC%d,%d,%d,%d";
constexpr char kRedPenColour[] = "PC%d,255,0,0";
constexpr char kHomeRelative[] = "PUPA0,0PR;";
constexpr char kTransparency[] = "TR0;";
constexpr char kPageEnd[] = ";PUSP0;PG;";  // closes an open PE too
constexpr char kPjlExit[] = "\x1b%-12345X\r\n";

// Serial handshake, sent to the device outside the plot data.
constexpr const char* kXonXoffHandshake[] = {"\x1b.R",
                                             "\x1b.I81;0;17:", "\x1b.N10;19:", "\x1b.@;0:"};
constexpr const char* kHardwareHandshake[] = {"\x1b.R", "\x1b.@;1:"};

// Pens.
constexpr char kSelectPen[] = "SP%d";
constexpr char kReselectPen[] = ";SP%d";
constexpr char kAdaptiveLineType[] = "LT-%d,%.1lf";  // adaptive pattern, relative length
constexpr char kSolidLine[] = "LT";
constexpr char kPenWidth[] = "PW%1.3lf";  // millimetres
constexpr double kMaxWidthMm = 297.0;
// Pattern length per line type, in percent of the P1-P2 diagonal.
constexpr double kPatternLength[] = {0.0, 1.0, 1.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0};

// Vectors and polygons.
constexpr char kPenUpFlag[] = "<";
constexpr char kPolygonModeOn[] = ";PM0%s";  // then a fresh PE sequence
constexpr char kPolygonFill[] = ";PM2FP";    // close polygon mode, fill

// Around an image, sent straight to the host.
constexpr char kImageTransparency[] = "%sTR%d;";  // leading ";" when the page has content
constexpr char kImageMove[] = "PU%lld,%lld";
constexpr char kImageAnchor[] = "PA%lld,%lld";
constexpr char kImageWindow[] = "IW%lld,%lld,%lld,%lld";
constexpr char kRestoreAnchor[] = "PA%d,%d";
constexpr char kRestoreMove[] = "PU%d,%d";
constexpr char kRelativeMode[] = "PR";

// HP-RTL raster.
constexpr char kEnterRtl[] = "\x1b%1A";  // HP-GL/2 to RTL, keep the pen position
constexpr char kOpaqueBackground[] = "\x1b&a0N";
// Source transparency: white pixels of an opaque image cover what lies below.
constexpr char kSourceTransparency[] = "\x1b*v%dN";
constexpr char kRasterWidth[] = "\x1b*r%dS";
constexpr char kRasterHeight[] = "\x1b*r%dT";
constexpr char kStartRaster[] = "\x1b*r1A";  // at the current position
constexpr char kCompressionMmr[] = "\x1b*b8M";
constexpr char kTransferData[] = "\x1b*b%dW";  // then the block
constexpr char kEndRaster[] = "\x1b*rC";
constexpr char kEnterHpgl2[] = "\x1b%0B";
constexpr char kResolutionFormat[] = "\x1b*t%dR";

bool PeEightBit() {
    return (Configuration.Config.optionFlags & kOptionPe8Bit) != 0;
}

std::int32_t SendText(ReplayCommand& record, const char* format, auto... args) {
    char text[sizeof record.bytes];
    const int n = std::snprintf(text, sizeof text, format, args...);
    const std::int32_t length = n < 0                                ? 0
                                : n >= static_cast<int>(sizeof text) ? sizeof text - 1
                                                                     : n;
    return SendAndRecord(record, text, length);
}

// The palette entry of a pen as job start sends it, into `text`.
int FormatPenColour(int pen, char* text, std::size_t size) {
    const ModelRecord* model = Model(Configuration.CurrentModel);
    if (model != nullptr && RedPenApplies(*model, pen))
        return std::snprintf(text, size, kRedPenColour, pen);
    const std::int32_t grey = PenGrey(pen);
    return std::snprintf(text, size, kPenColour, pen, grey, grey, grey);
}

void SendSerialHandshake() {
    const ConfigRecord& config = Configuration.Config;
    if ((Configuration.HostOptionBits & kHostOwnsHandshake) != 0 ||
        (config.optionFlags & kOptionSerial) == 0)
        return;
    switch (config.optionFlags & kOptionHandshakeMask) {
        case kHandshakeXonXoff:
            for (const char* s : kXonXoffHandshake) HostSendDeviceString(s);
            break;
        case kHandshakeHardware:
            for (const char* s : kHardwareHandshake) HostSendDeviceString(s);
            break;
        default:
            break;
    }
}

// --- Job -----------------------------------------------------------------

void Start() {
    Module.PeOpener = PeEightBit() ? "PE" : "PE7";
}

bool FinishingLines(const ModelRecord& model) {
    if (model.finisher != 1) return true;
    const ConfigRecord& config = Configuration.Config;
    const std::int32_t m = Configuration.CurrentModel;
    const FinishingChoiceRecord* program = FinishProgram(m, config.finishProgramIndex);
    if (program == nullptr) return true;
    if (AppendText(program->pjlLine) != 0) return false;
    if (IsBypassProgram(*program)) return true;
    const FinishingChoiceRecord* margin = FinishMargin(m, config.finishMarginIndex);
    const FinishingChoiceRecord* bin = OutputBin(m, config.outputBinIndex);
    if (margin != nullptr && AppendText(margin->pjlLine) != 0) return false;
    return bin == nullptr || AppendText(bin->pjlLine) == 0;
}

bool Head(const ModelRecord& model) {
    SendSerialHandshake();
    if (AppendText(kPjlEnter) != 0 || !FinishingLines(model)) return false;
    if (AppendText(kPjlLanguage) != 0 || AppendText(kEnterHpgl2Job) != 0) return false;
    // Inside the HP-GL/2 string a quote is written twice, so no label byte
    // can end the string and start a command of its own.
    char quoted[2 * kLabelTextMax + 1];
    std::size_t q = 0;
    for (const char* c = Configuration.LabelText; *c != '\0' && q + 2 < sizeof quoted; ++c) {
        if (*c == '"') quoted[q++] = '"';
        quoted[q++] = *c;
    }
    quoted[q] = '\0';
    const std::int32_t copies = Configuration.Config.copies;
    const std::int32_t begin = Configuration.LabelText[0] == '\0'
                                   ? AppendFormat(kBeginPlot, copies)
                                   : AppendFormat(kBeginPlotLabel, quoted, copies);
    if (begin != 0) return false;
    const MediaRecord* media = Media(Configuration.CurrentModel, Configuration.Config.mediaIndex);
    if (model.media == 1 && media != nullptr && media->hpglCommand[0] != '\0') {
        if (AppendText(media->hpglCommand) != 0) return false;
    }
    return true;
}

bool Tail(const ModelRecord& model) {
    const long w = JobState.PageWidthUnits, h = JobState.PageHeightUnits;
    const long m0 = JobState.MarginUnits[0], m1 = JobState.MarginUnits[1],
               m2 = JobState.MarginUnits[2], m3 = JobState.MarginUnits[3];
    const bool across = Configuration.PageGeometry.LongEdgeAcross == 1;
    if (AppendFormat(kPageSize, (across ? h : w) + m1 + m0, (across ? w : h) + m3 + m2) != 0)
        return false;
    if (AppendFormat(kInputWindow, m2, m1, w + m3, h + m0) != 0) return false;
    if (AppendFormat(kScale, w, h) != 0) return false;
    std::snprintf(Module.SavedWindowCommand, sizeof Module.SavedWindowCommand, kWindow, w, h);
    if (AppendText(Module.SavedWindowCommand) != 0) return false;
    if (model.manualOutput == 1) {
        const bool manual = (Configuration.Config.modeFlags & kModeManualOutput) != 0;
        if (AppendText(manual ? kManualOutputOn : kManualOutputOff) != 0) return false;
    }
    if (AppendText(kLineAttributes) != 0 || AppendText(kPenCount) != 0 ||
        AppendText(kColourRange) != 0)
        return false;

    // Pens 1..255 with their greys. With red printing possible, the darkest
    // pen becomes BlackPen.
    for (int p = 1; p < 256; ++p) {
        char text[32];
        FormatPenColour(p, text, sizeof text);
        if (model.redPrinting == 1 && !RedPenApplies(model, p) && PenGrey(p) == 0)
            JobState.BlackPen = static_cast<std::int16_t>(p);
        if (AppendText(text) != 0) return false;
    }
    return AppendText(kHomeRelative) == 0 && AppendText(kTransparency) == 0;
}

void PageEnd() {
    AppendText(kPageEnd);
    AppendText(kPjlExit);
}

// --- Pens ----------------------------------------------------------------

std::int32_t Pen(std::int16_t linePen, std::uint16_t) {
    return SendText(Module.GraphicsStateReplay.pen, kSelectPen, linePen);
}

std::int32_t LineType(std::uint16_t type, bool patterned) {
    ReplayCommand& record = Module.GraphicsStateReplay.lineType;
    return patterned ? SendText(record, kAdaptiveLineType, type, kPatternLength[type])
                     : SendText(record, "%s", kSolidLine);
}

std::int32_t Width(double inches) {
    // A width the host cannot mean (negative, not a number) draws as wide as
    // the widest, as a negative one always has.
    double mm = inches * 25.4;
    if (!(inches >= 0.0) || mm > kMaxWidthMm) mm = kMaxWidthMm;
    return SendText(Module.GraphicsStateReplay.width, kPenWidth, mm);
}

// --- Vectors -------------------------------------------------------------

std::int32_t CloseSequence() {
    return PageState.PenState != kPenClosed && AppendText(";") != 0 ? -1 : 0;
}

std::int32_t ReselectPen(std::int16_t pen) {
    if (AppendFormat(kReselectPen, pen) != 0) return -1;
    SetPenState(kPenClosed);  // the ";" closed any open sequence
    return 0;
}

std::int32_t OpenMove() {
    if (PageState.PenState == kPenClosed) {
        if (AppendText(Module.PeOpener) != 0) return -1;
        return AppendText(kPenUpFlag);
    }
    return PageState.PenState != kPenLifted ? AppendText(kPenUpFlag) : 0;
}

std::int32_t OpenDraw() {
    if (PageState.PenState == kPenClosed) {
        if (AppendText(Module.PeOpener) != 0) return -1;
        PageState.PenState = kPenDrawing;
    } else if (PageState.PenState == kPenLifted) {
        // A zero-length pen-up move uses up the pending flag.
        if (AppendPePair(0, 0, PeEightBit()) != 0) return -1;
        PageState.PenState = kPenMoved;
    } else {
        PageState.PenState = kPenDrawing;
    }
    return 0;
}

std::int32_t Segment(std::int32_t dx, std::int32_t dy) {
    return AppendPePair(dx, dy, PeEightBit());
}

std::int32_t PenUp() {
    return AppendText(kPenUpFlag);
}

std::int32_t Point(std::uint16_t hostX, std::uint16_t hostY) {
    std::int32_t dx, dy;
    if (ConvertPoint(hostX, hostY, &dx, &dy) != 0) return -1;
    return Segment(dx, dy);
}

// A pen-up move to the first vertex, the outline in polygon mode, fill.
std::int32_t Polygon(std::int16_t hostPen, std::int32_t n, const PolygonVertices& v) {
    const bool halftone = (Configuration.Config.optionFlags & kOptionHalftoneFill) != 0;
    const std::int32_t fillPen = halftone ? hostPen : JobState.BlackPen;
    if (PageState.PenState != kPenClosed && AppendText(";") != 0) return -1;
    SetPenState(kPenClosed);
    if (AppendFormat(kSelectPen, fillPen) != 0) return -1;
    if (AppendText(Module.PeOpener) != 0 || AppendText(kPenUpFlag) != 0) return -1;
    PageState.PenStatePrevious = kPenClosed;
    PageState.PenState = kPenMoved;
    if (Point(v.x(0), v.y(0)) != 0) return -1;
    if (AppendFormat(kPolygonModeOn, Module.PeOpener) != 0) return -1;
    PageState.PenStatePrevious = kPenMoved;
    PageState.PenState = kPenDrawing;
    for (std::int32_t i = 1; i < n; ++i)
        if (Point(v.x(i), v.y(i)) != 0) return -1;
    if (Point(v.x(0), v.y(0)) != 0) return -1;  // closes the outline
    if (AppendText(kPolygonFill) != 0) return -1;
    if (!halftone && AppendFormat(kSelectPen, hostPen) != 0) return -1;
    SetPenState(kPenClosed);
    PageState.PageHasContent = 1;
    return 0;
}

// --- Images --------------------------------------------------------------

// Host units are 1/1016 inch (0.0025 cm); the source is at dpi.
bool Grid(double dpi, std::int64_t dx, std::int64_t dy, std::int32_t sourceWidth,
          std::int32_t sourceHeight, double* width, double* height) {
    const double sw = sourceWidth, sh = sourceHeight;
    *width = std::trunc((static_cast<double>(dx) * 0.0025) / ((sw / dpi) * 2.54) * sw);
    *height = std::trunc((static_cast<double>(dy) * 0.0025) / ((sh / dpi) * 2.54) * sh);
    return true;
}

std::uint16_t ImageResolution(std::uint16_t code) {
    return code;
}

// User units are plotter units from the plot area's corner; the sheet
// reaches past it by the margins.
DeviceRect Sheet() {
    const JobStateRecord& j = JobState;
    return {-static_cast<double>(j.MarginUnits[2]), -static_cast<double>(j.MarginUnits[1]),
            static_cast<double>(j.PageWidthUnits) + j.MarginUnits[3],
            static_cast<double>(j.PageHeightUnits) + j.MarginUnits[0]};
}

void ImageOpen() {}

void PlaceImage(const ImagePlacement& im) {
    // The ";" closes the drawing's PE sequence; one that a move alone left
    // open in the job's buffer (nothing drawn yet), on its way to the host,
    // needs it as much.
    const bool moved = PageState.CommandBuffer != nullptr && JobState.ErrorLatch == kLatchClear &&
                       PageState.PenState != kPenClosed;
    const bool open = PageState.PageHasContent || moved;
    const char* lead = open ? ";" : "";
    SendDirectText(kImageTransparency, lead, im.transparent ? 1 : 0);
    SendDirectText(kImageMove, im.anchorX, im.anchorY);
    SendDirectText(kImageAnchor, im.anchorX, im.anchorY);
    // The window in HP-GL/2's order, x0, y0, x1, y1: it holds the anchor.
    SendDirectText(kImageWindow, im.windowX0, im.windowY0, im.windowX1, im.windowY1);
}

void SendReplay(const ReplayCommand& command) {
    if (command.length > 0) HostWriteOutput(command.bytes, command.length);
}

// Transparency off, the pen where it was, relative mode, the palette as job
// start set it up (an MMR raster mode may have installed a palette of its
// own), the window and the last pen, width and line type.
void Restore(const ImagePlacement& im) {
    SendDirectText(kImageTransparency, "", 0);
    SendDirectText(kRestoreAnchor, im.x1, im.y0);
    SendDirectText(kRestoreMove, im.saved.x, im.saved.y);
    SendDirectText("%s", kRelativeMode);
    SendDirectText("%s%s", kPenCount, kColourRange);
    for (int pen = 1; pen < 256; ++pen) {
        char text[32];
        const int n = FormatPenColour(pen, text, sizeof text);
        if (n > 0) HostWriteOutput(text, n);
    }
    SendDirectText("%s", Module.SavedWindowCommand);
    const GraphicsStateReplayRecord& replay = Module.GraphicsStateReplay;
    SendReplay(replay.pen);
    SendReplay(replay.width);
    SendReplay(replay.lineType);
}

// --- Raster --------------------------------------------------------------

void SelectResolution(std::int32_t dpi) {
    std::snprintf(Module.ResolutionCommand, 8, kResolutionFormat, dpi);
}

// Raster mode for the image, before its first band.
void RasterBegin(const RasterFrame& frame) {
    SendDirectText("%s", kEnterRtl);
    SendDirectText("%s", kOpaqueBackground);
    SendDirectText(kSourceTransparency, frame.transparent != 0 ? 0 : 1);
    SendDirectText("%s", Module.ResolutionCommand);
}

// An image is one raster: its size and start go out before the first band,
// and each band is one more block of rows (every block codes from a white
// row of its own and states its width), so the device lays all rows on one
// grid from the anchor and no band waits on a rounded move. An opaque image
// is told the width of its window: the rows' padding past it would print
// white over what lies beside the image.
void Frame(const RasterFrame& frame, std::int32_t, const std::uint8_t* coded, std::uint32_t count) {
    if (frame.bandsSent == 0) {
        SendDirectText(kRasterWidth, frame.transparent != 0 ? frame.width : frame.rowPixels);
        SendDirectText(kRasterHeight, frame.totalRows);
        SendDirectText("%s", kStartRaster);
        SendDirectText("%s", kCompressionMmr);
    }
    SendDirectText(kTransferData, static_cast<std::int32_t>(count + 4));
    SendDirectBigEndian32(frame.width);
    SendDirectBytes(coded, count);
}

// The next band's rows follow the last one's within the same raster.
void BandMove(RasterFrame&, std::int32_t) {}

void RasterEnd() {
    SendDirectText("%s", kEndRaster);
    SendDirectText("%s", kEnterHpgl2);
}

}  // namespace

extern const DataModeOps kRtlGl2Mode = {
    .start = Start,
    .head = Head,
    .tail = Tail,
    .pageEnd = PageEnd,
    .pen = Pen,
    .lineType = LineType,
    .width = Width,
    .closeSequence = CloseSequence,
    .reselectPen = ReselectPen,
    .openMove = OpenMove,
    .openDraw = OpenDraw,
    .segment = Segment,
    .penUp = PenUp,
    .polygon = Polygon,
    .grid = Grid,
    .skipsFirstLineAt600 = true,
    .unitsPerInch = 1016.0,
    .sheet = Sheet,
    .imageResolution = ImageResolution,
    .imageOpen = ImageOpen,
    .placeImage = PlaceImage,
    .restore = Restore,
    .selectResolution = SelectResolution,
    .rasterBegin = RasterBegin,
    .frame = Frame,
    .bandMove = BandMove,
    .rasterEnd = RasterEnd,
};

}  // namespace varnu
