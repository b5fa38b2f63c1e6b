#include "vector/vectors.h"

#include "interface/output_buffer.h"
#include "interface/packet.h"
#include "modes/data_mode.h"
#include "varnu/packet_layouts.h"

namespace varnu {

namespace {

// The request repeats the last point without a change of state: ignored.
bool IsRepeatedPoint(std::uint16_t x, std::uint16_t y) {
    return PageState.PenState == PageState.PenStatePrevious && PageState.PenState != kPenClosed &&
           x == PageState.LastHostPoint.x && y == PageState.LastHostPoint.y;
}

void Fail() {
    SetResult(kResultFailed);
}

}  // namespace

void MoveTo() {
    const DataModeOps& mode = ActiveMode();
    if (JobState.PendingPenReselect) {
        JobState.PendingPenReselect = 0;
        if (mode.reselectPen(PageState.LinePen) != 0) return Fail();
    }
    const std::uint16_t x = PacketGet<std::uint16_t>(layout::point::kX),
                        y = PacketGet<std::uint16_t>(layout::point::kY);
    if (IsRepeatedPoint(x, y)) return;
    PageState.PenStatePrevious = PageState.PenState;
    if (mode.openMove() != 0) return Fail();
    PageState.PenState = kPenMoved;
    if (EmitPoint(mode, x, y) != 0) Fail();
}

void DrawTo() {
    const std::uint16_t x = PacketGet<std::uint16_t>(layout::point::kX),
                        y = PacketGet<std::uint16_t>(layout::point::kY);
    if (IsRepeatedPoint(x, y)) return;
    PageState.PenStatePrevious = PageState.PenState;
    const DataModeOps& mode = ActiveMode();
    if (mode.openDraw() != 0) return Fail();
    if (EmitPoint(mode, x, y) != 0) return Fail();
    PageState.PageHasContent = 1;
}

void PenUp() {
    if (PageState.PenState != kPenDrawing && PageState.PenState != kPenMoved) return;
    if (ActiveMode().penUp() != 0) return Fail();
    SetPenState(kPenLifted);
}

void AbortPlot() {
    if (JobState.ErrorLatch == kLatchClear) JobState.ErrorLatch = kLatchOutput;
    Configuration.JobCopies = 1;
    PageState.PageHasContent = 0;
}

}  // namespace varnu
