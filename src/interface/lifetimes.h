// The module-wide state every layer shares, one record per lifetime: the
// module (from load), the job (from plot request 49) and the page (from job
// start, request 30). Each is assigned fresh, as one, by the request that
// starts its lifetime. The configuration (config/configuration.h) and the
// image (raster/image_state.h) have records of their own beside the parts
// that own them.
#pragma once

#include <cstdint>

#include "interface/messages.h"
#include "varnu/host_interface.h"

namespace varnu {

// The two data modes; the configuration's mode bit chooses one.
enum class DataMode : std::uint8_t { kRtlGl2 = 0, kVcgl = 1 };
inline constexpr int kDataModeCount = 2;

// Values of ErrorLatch.
inline constexpr std::uint8_t kLatchClear = 0;
inline constexpr std::uint8_t kLatchHostInterface = 137;  // version, config load/store
inline constexpr std::uint8_t kLatchOutput = 255;         // write, memory, job step, abort

// PenState values. RTL/GL2: whether and how a PE sequence is open;
// VCGL+MMR: whether points draw.
inline constexpr std::int16_t kPenClosed = 1;  // no PE open / not drawing
inline constexpr std::int16_t kPenLifted = 2;  // "<" sent, its coordinate not yet
inline constexpr std::int16_t kPenDrawing = 4;
inline constexpr std::int16_t kPenMoved = 8;  // last coordinate was a pen-up move

struct DevicePoint {
    std::int32_t x, y;
};

// The most recent pen, width and line-type command exactly as sent; an image
// sends them again after its raster data.
struct ReplayCommand {
    std::uint8_t bytes[32];
    std::int32_t length;
};
struct GraphicsStateReplayRecord {
    ReplayCommand pen;       // "SP…" or 41 01 pen
    ReplayCommand hostPen;   // VCGL only: 47 01 host pen
    ReplayCommand width;     // "PW…" or 40 01 width
    ReplayCommand lineType;  // "LT…" or 43 01 00 n
};

inline constexpr int kResolutionCommandSize = 22 + 1;
inline constexpr int kRowRequestSize = 144;
inline constexpr int kSavedWindowCommandSize = 64;

// Module: from load to unload; only a load resets it. What outlives jobs
// lives here, and nothing else.
struct ModuleStateRecord {
    const std::uint8_t* HostServices = nullptr;  // the table the host handed to PLADI
    std::uint8_t DriverHeader[kDriverHeaderSize] = {};
    // The host's window, from driver request 11 and plot request 29; owner
    // of the raster failure message box.
    std::uint32_t HostWindow = 0;
    // What ReportMessage prints from; empty until request 50 installs the table.
    char ActiveMessages[kMessageSlots][kMessageSlotSize] = {};
    // The data mode of the last job start. What outlives jobs of one data
    // mode (the resolution in use, the replay record) is set back to the
    // module's load when a job starts in the other mode: no job's bytes
    // depend on a job of the other mode.
    DataMode JobMode = DataMode::kRtlGl2;
    // The dpi last selected for an image (0 before any) and its RTL command
    // (22 blanks before any): a code outside the four keeps both.
    std::int32_t CurrentDpi = 0;
    char ResolutionCommand[kResolutionCommandSize] = "                      ";
    // Filled before each call of the host's row fetch routine; bytes one
    // kind of image does not write keep what the other kind left.
    std::uint8_t RowRequest[kRowRequestSize] = {};
    // Set by every RTL/GL2 job start and kept until the next one: a drawing
    // request follows the mode in effect, which a configuration change may
    // have switched to RTL/GL2 since.
    const char* PeOpener = "PE7";                           // "PE7" or "PE"
    char SavedWindowCommand[kSavedWindowCommandSize] = {};  // job start's "IW" text
    GraphicsStateReplayRecord GraphicsStateReplay = {};
    std::int32_t LineTypeCount = 0;  // highest patterned type, requests 36 and 43
};
extern ModuleStateRecord Module;

// Job: one plot, from request 49 to the next. Request 49 assigns it fresh
// (the latch clear); job start and the page requests fill it in.
struct JobStateRecord {
    std::uint8_t ErrorLatch = kLatchClear;  // sticky until request 49
    double PlotExtentX = 0;                 // usable plot size in inches, requests 46, 47, 48
    double PlotExtentY = 0;
    std::int32_t OutputHandle = -1;  // NotifyHost's answer at job start
    // Device units of the plot area and of the margins.
    std::int32_t PageWidthUnits = 0;
    std::int32_t PageHeightUnits = 0;
    std::int32_t MarginUnits[4] = {0, 0, 0, 0};
    std::int16_t BlackPen = 7;            // highest palette pen whose grey is 0
    std::int32_t PendingPenReselect = 0;  // set after a polygon; the next move resends LinePen
};
extern JobStateRecord JobState;

// Page: from job start (request 30) to job end (request 2). Job start
// assigns it fresh; job end and request 49 release its buffer.
struct PageStateRecord {
    std::uint8_t* CommandBuffer = nullptr;  // nullptr while no job is open
    std::int32_t CommandFill = 0;           // bytes waiting, 0 .. capacity - 1 between calls
    std::int16_t PenState = kPenClosed;
    std::int16_t PenStatePrevious = kPenClosed;  // the state before the last change
    DevicePoint DevicePosition = {0, 0};         // device units
    DevicePoint PreviousDevicePosition = {0, 0};
    DevicePoint LastHostPoint = {-1, -1};  // (-1, -1) after job start: never a repeat
    std::int32_t PageHasContent = 0;       // set by draws; job end closes only such a page
    std::int16_t LinePen = 1;              // the pen last chosen by request 5
};
extern PageStateRecord PageState;

// The two change together: the previous state is kept for the next request.
inline void SetPenState(std::int16_t next) {
    PageState.PenStatePrevious = PageState.PenState;
    PageState.PenState = next;
}

}  // namespace varnu
