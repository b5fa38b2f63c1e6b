#include "vector/vectors.h"

#include "config/config_record.h"
#include "config/page_geometry.h"
#include "interface/output_buffer.h"
#include "interface/packet.h"
#include "varnu/packet_layouts.h"
#include "varnu/vcgl_commands.h"
#include "vector/vector_state.h"

namespace varnu {

namespace {

constexpr char kPenUpFlag[] = "<";
constexpr char kReselectPen[] = ";SP%d";

bool VcglMode() {
    return (Configuration.Config.modeFlags & kModeVcgl) != 0;
}

bool PeEightBit() {
    return (Configuration.Config.optionFlags & kOptionPe8Bit) != 0;
}

// The request repeats the last point without a change of state: ignored.
bool IsRepeatedPoint(std::uint16_t x, std::uint16_t y) {
    return PageState.PenState == PageState.PenStatePrevious && PageState.PenState != kPenClosed &&
           x == PageState.LastHostPoint.x && y == PageState.LastHostPoint.y;
}

void Fail() {
    SetResult(kResultFailed);
}

}  // namespace

std::int32_t ConvertPoint(std::uint16_t hostX, std::uint16_t hostY, std::int32_t* dx,
                          std::int32_t* dy) {
    if (JobState.ErrorLatch != kLatchClear) return -1;
    PageState.LastHostPoint = {hostX, hostY};
    // Each offset is the difference of two truncated absolute positions, so
    // truncation never adds up along a polyline.
    const DevicePoint next = {TruncateToInt32(hostX * Configuration.PageGeometry.ScaleFactor),
                              TruncateToInt32(hostY * Configuration.PageGeometry.ScaleFactor)};
    PageState.PreviousDevicePosition = PageState.DevicePosition;
    PageState.DevicePosition = next;
    *dx = next.x - PageState.PreviousDevicePosition.x;
    *dy = next.y - PageState.PreviousDevicePosition.y;
    return 0;
}

std::int32_t EmitPoint(std::uint16_t hostX, std::uint16_t hostY) {
    std::int32_t dx, dy;
    if (ConvertPoint(hostX, hostY, &dx, &dy) != 0) return -1;
    if (!VcglMode()) return AppendPePair(dx, dy, PeEightBit());
    if (PageState.PenState != kPenDrawing) return 0;
    return AppendVcglSegment(PageState.PreviousDevicePosition.x, PageState.PreviousDevicePosition.y,
                             dx, dy);
}

void MoveTo() {
    const bool vcgl = VcglMode();
    if (JobState.PendingPenReselect) {
        JobState.PendingPenReselect = 0;
        if (!vcgl) {
            if (AppendFormat(kReselectPen, PageState.LinePen) != 0) return Fail();
            SetPenState(kPenClosed);  // the ";" closed any open sequence
        } else {
            std::uint8_t command[4 + 1] = {vcgl::kLinePenHead[0], vcgl::kLinePenHead[1]};
            PackBigEndian16(static_cast<std::uint16_t>(PageState.LinePen), command + 2);
            if (AppendBytes(4, command) != 0) return Fail();
        }
    }
    const std::uint16_t x = PacketGet<std::uint16_t>(layout::point::kX),
                        y = PacketGet<std::uint16_t>(layout::point::kY);
    if (IsRepeatedPoint(x, y)) return;
    PageState.PenStatePrevious = PageState.PenState;
    if (!vcgl) {
        std::int32_t status = 0;
        if (PageState.PenState == kPenClosed) {
            status = AppendText(Module.PeOpener);
            if (status == 0) status = AppendText(kPenUpFlag);
        } else if (PageState.PenState != kPenLifted) {
            status = AppendText(kPenUpFlag);
        }
        if (status != 0) return Fail();
    }
    PageState.PenState = kPenMoved;
    if (EmitPoint(x, y) != 0) Fail();
}

void DrawTo() {
    const std::uint16_t x = PacketGet<std::uint16_t>(layout::point::kX),
                        y = PacketGet<std::uint16_t>(layout::point::kY);
    if (IsRepeatedPoint(x, y)) return;
    PageState.PenStatePrevious = PageState.PenState;
    if (VcglMode()) {
        PageState.PenState = kPenDrawing;
    } else if (PageState.PenState == kPenClosed) {
        if (AppendText(Module.PeOpener) != 0) return Fail();
        PageState.PenState = kPenDrawing;
    } else if (PageState.PenState == kPenLifted) {
        // A zero-length pen-up move uses up the pending flag.
        if (AppendPePair(0, 0, PeEightBit()) != 0) return Fail();
        PageState.PenState = kPenMoved;
    } else {
        PageState.PenState = kPenDrawing;
    }
    if (EmitPoint(x, y) != 0) return Fail();
    PageState.PageHasContent = 1;
}

void PenUp() {
    if (PageState.PenState != kPenDrawing && PageState.PenState != kPenMoved) return;
    if (!VcglMode() && AppendText(kPenUpFlag) != 0) return Fail();
    SetPenState(kPenLifted);
}

void AbortPlot() {
    if (JobState.ErrorLatch == kLatchClear) JobState.ErrorLatch = kLatchOutput;
    Configuration.JobCopies = 1;
    PageState.PageHasContent = 0;
}

}  // namespace varnu
