// The data modes: what each writes for a job, a pen, a vector, a polygon and
// a raster image. The requests keep the logic that every mode shares and
// call the row of the mode in effect; a mode is one file and one row of
// kDataModes (data_mode.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/config_record.h"
#include "config/page_geometry.h"
#include "interface/lifetimes.h"
#include "varnu/byte_order.h"
#include "varnu/printer_tables.h"

namespace varnu {

// Vertices as the host laid them out: unsigned 16-bit X, then Y, 4 bytes each.
struct PolygonVertices {
    const std::uint8_t* base;
    std::uint16_t x(std::int32_t i) const {
        return LoadLe<std::uint16_t>(base, 4 * static_cast<std::size_t>(i));
    }
    std::uint16_t y(std::int32_t i) const {
        return LoadLe<std::uint16_t>(base, 4 * static_cast<std::size_t>(i) + 2);
    }
};

// A rectangle in device units.
struct DeviceRect {
    double x0, y0, x1, y1;
};

// Where an image goes and what it covers.
struct ImagePlacement {
    std::int32_t x0, y0, x1, y1;  // target area, host units
    // Device units: the first pixel's corner ((x1, y0), or (x0, y0) with the
    // long edge along x, moved onto the sheet when the image passes it), and
    // the target area's part on the sheet.
    long long anchorX, anchorY;
    long long windowX0, windowY0, windowX1, windowY1;
    std::int32_t transparent;
    DevicePoint saved;  // DevicePosition when drawing began
};

// The part of an image's raster state that the framing reads and advances.
struct RasterFrame {
    DataMode mode;  // of the image
    std::int32_t transparent;
    std::int32_t anchorX;  // VCGL: device units, advanced band by band
    std::int32_t anchorY;
    bool longEdge;           // long-edge bit of the configuration
    std::int32_t rowPixels;  // pixels per line x n
    std::int32_t width;      // W: row pixels raised to a multiple of 32, plus 32
    std::int32_t totalRows;  // rows of the whole image, all bands together
    std::int32_t bandsSent;  // bands framed so far
};

// One row per mode. Statuses are 0 or -1 (a failed append, which the
// command buffer has latched); the raster operations send straight to the
// host and have no status, as the host expects.
struct DataModeOps {
    // Job start (request 30): before the buffer, the set-up before and
    // after the device units are known; job end's close of the page.
    void (*start)();
    bool (*head)(const ModelRecord& model);
    bool (*tail)(const ModelRecord& model);
    void (*pageEnd)();

    // Pens (requests 5, 7, 41): each command is recorded for the replay.
    std::int32_t (*pen)(std::int16_t linePen, std::uint16_t hostPen);
    std::int32_t (*lineType)(std::uint16_t type, bool patterned);
    std::int32_t (*width)(double inches);

    // Vectors (requests 3, 4, 8): the open sequence, the pen's state
    // changes and the offsets of each converted point.
    std::int32_t (*closeSequence)();
    std::int32_t (*reselectPen)(std::int16_t pen);
    std::int32_t (*openMove)();
    std::int32_t (*openDraw)();
    std::int32_t (*segment)(std::int32_t dx, std::int32_t dy);
    std::int32_t (*penUp)();

    // A filled polygon of n >= 2 vertices (requests 33, 54).
    std::int32_t (*polygon)(std::int16_t hostPen, std::int32_t n, const PolygonVertices& v);

    // Images (request 52): the pixel grid asked of the host (false when the
    // mode cannot place the image), whether line 0 is skipped at 600 dpi,
    // the commands before the first raster byte, and the vector state
    // after the last.
    bool (*grid)(double dpi, std::int64_t dx, std::int64_t dy, std::int32_t sourceWidth,
                 std::int32_t sourceHeight, double* width, double* height);
    bool skipsFirstLineAt600;
    double unitsPerInch;    // device units
    DeviceRect (*sheet)();  // the sheet the job described, device units
    std::uint16_t (*imageResolution)(std::uint16_t code);
    void (*imageOpen)();
    void (*placeImage)(const ImagePlacement& image);
    void (*restore)(const ImagePlacement& image);

    // Raster output: the resolution chosen, raster mode entered, one coded
    // band framed, what lies between two bands, raster mode left.
    void (*selectResolution)(std::int32_t dpi);
    void (*rasterBegin)(const RasterFrame& frame);
    void (*frame)(const RasterFrame& frame, std::int32_t rows, const std::uint8_t* coded,
                  std::uint32_t count);
    void (*bandMove)(RasterFrame& frame, std::int32_t advance);
    void (*rasterEnd)();
};

const DataModeOps& ModeOps(DataMode mode);

// The row of the mode the configuration has now: a drawing request follows
// the mode in effect.
inline const DataModeOps& ActiveMode() {
    return ModeOps(CurrentDataMode());
}

// What the modes share.

// Job start: a job in the other data mode than the last starts from the
// module's load as far as the mode's own lasting values go (the resolution
// in use and its RTL command, the replay record).
void StartJobInMode(DataMode mode);

// Keeps a command as sent and appends it.
std::int32_t SendAndRecord(ReplayCommand& record, const void* bytes, std::int32_t length);

// Whether `pen` prints red: the model can, red printing is on, it is the red pen.
bool RedPenApplies(const ModelRecord& model, std::int32_t pen);

// Point conversion: -1 while latched; otherwise positions move and the
// offsets from the previous position are returned. Each offset is the
// difference of two truncated absolute positions, so truncation never adds
// up along a polyline. Inline: every vector point passes here.
inline std::int32_t ConvertPoint(std::uint16_t hostX, std::uint16_t hostY, std::int32_t* dx,
                                 std::int32_t* dy) {
    if (JobState.ErrorLatch != kLatchClear) return -1;
    PageState.LastHostPoint = {hostX, hostY};
    const double scale = Configuration.PageGeometry.ScaleFactor;
    const DevicePoint next = {TruncateToInt32(hostX * scale), TruncateToInt32(hostY * scale)};
    PageState.PreviousDevicePosition = PageState.DevicePosition;
    PageState.DevicePosition = next;
    *dx = next.x - PageState.PreviousDevicePosition.x;
    *dy = next.y - PageState.PreviousDevicePosition.y;
    return 0;
}

// Converts a host point and sends it as the mode and PenState call for. -1
// while the latch is set (nothing changes then) or when the send fails.
inline std::int32_t EmitPoint(const DataModeOps& mode, std::uint16_t hostX, std::uint16_t hostY) {
    std::int32_t dx, dy;
    if (ConvertPoint(hostX, hostY, &dx, &dy) != 0) return -1;
    return mode.segment(dx, dy);
}

}  // namespace varnu
