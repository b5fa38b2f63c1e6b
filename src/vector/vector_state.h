// Drawing state shared by the vector requests, job start, job end, raster
// output and the output buffer's failure path.
#pragma once

#include <cstdint>

namespace varnu {

// PenState values. RTL/GL2: whether and how a PE sequence is open;
// VCGL+MMR: whether points draw.
inline constexpr std::int16_t kPenClosed = 1;  // no PE open / not drawing
inline constexpr std::int16_t kPenLifted = 2;  // "<" sent, its coordinate not yet
inline constexpr std::int16_t kPenDrawing = 4;
inline constexpr std::int16_t kPenMoved = 8;  // last coordinate was a pen-up move

struct DevicePoint {
    std::int32_t x, y;
};

// What one page's drawing has reached: job start resets it as one.
struct PageStateRecord {
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

// The job's pen choices: job start and the polygons set them, a new plot
// (request 49) and module load reset them as one.
struct JobPensRecord {
    std::int32_t PendingPenReselect = 0;  // set after a polygon; the next move resends LinePen
    std::int16_t BlackPen = 7;            // highest palette pen whose grey is 0
};
extern JobPensRecord JobPens;
void ResetJobPens();

// "PE7" or "PE": set by an RTL/GL2 job start and kept until the next one (a
// drawing request follows the mode in effect, which a configuration change
// may have switched to RTL/GL2 since).
extern const char* PeOpener;

// Job start: origin, closed sequence, nothing drawn, line pen 1.
void ResetPageState();

// Module load.
void ResetVectorStateOnLoad();

// A VCGL segment from (x0, y0) by (dx, dy), in the 16-bit form when
// VcglShortCoordinates is set (values cut to their low 16 bits), otherwise
// the 32-bit form.
std::int32_t AppendVcglSegment(std::int32_t x0, std::int32_t y0, std::int32_t dx, std::int32_t dy);

// A zero-length segment at the converted host point; changes no drawing
// state. Fails at once while ErrorLatch is set.
std::int32_t AppendVcglDot(std::int32_t hostX, std::int32_t hostY);

}  // namespace varnu
