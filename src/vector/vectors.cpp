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
    return (Config.modeFlags & kModeVcgl) != 0;
}

bool PeEightBit() {
    return (Config.optionFlags & kOptionPe8Bit) != 0;
}

// The request repeats the last point without a change of state: ignored.
bool IsRepeatedPoint(std::uint16_t x, std::uint16_t y) {
    return PenState == PenStatePrevious && PenState != kPenClosed && x == LastHostPoint.x &&
           y == LastHostPoint.y;
}

void Fail() {
    SetResult(kResultFailed);
}

}  // namespace

std::int32_t ConvertPoint(std::uint16_t hostX, std::uint16_t hostY, std::int32_t* dx,
                          std::int32_t* dy) {
    if (ErrorLatch != kLatchClear) return -1;
    LastHostPoint = {hostX, hostY};
    // Each offset is the difference of two truncated absolute positions, so
    // truncation never adds up along a polyline.
    const DevicePoint next = {TruncateToInt32(hostX * PageGeometry.ScaleFactor),
                              TruncateToInt32(hostY * PageGeometry.ScaleFactor)};
    PreviousDevicePosition = DevicePosition;
    DevicePosition = next;
    *dx = next.x - PreviousDevicePosition.x;
    *dy = next.y - PreviousDevicePosition.y;
    return 0;
}

std::int32_t EmitPoint(std::uint16_t hostX, std::uint16_t hostY) {
    std::int32_t dx, dy;
    if (ConvertPoint(hostX, hostY, &dx, &dy) != 0) return -1;
    if (!VcglMode()) return AppendPePair(dx, dy, PeEightBit());
    if (PenState != kPenDrawing) return 0;
    return AppendVcglSegment(PreviousDevicePosition.x, PreviousDevicePosition.y, dx, dy);
}

void MoveTo() {
    const bool vcgl = VcglMode();
    if (PendingPenReselect) {
        PendingPenReselect = 0;
        if (!vcgl) {
            if (AppendFormat(kReselectPen, LinePen) != 0) return Fail();
            SetPenState(kPenClosed);  // the ";" closed any open sequence
        } else {
            std::uint8_t command[4 + 1] = {vcgl::kLinePenHead[0], vcgl::kLinePenHead[1]};
            PackBigEndian16(static_cast<std::uint16_t>(LinePen), command + 2);
            if (AppendBytes(4, command) != 0) return Fail();
        }
    }
    const std::uint16_t x = PacketGet<std::uint16_t>(layout::point::kX),
                        y = PacketGet<std::uint16_t>(layout::point::kY);
    if (IsRepeatedPoint(x, y)) return;
    PenStatePrevious = PenState;
    if (!vcgl) {
        std::int32_t status = 0;
        if (PenState == kPenClosed) {
            status = AppendText(PeOpener);
            if (status == 0) status = AppendText(kPenUpFlag);
        } else if (PenState != kPenLifted) {
            status = AppendText(kPenUpFlag);
        }
        if (status != 0) return Fail();
    }
    PenState = kPenMoved;
    if (EmitPoint(x, y) != 0) Fail();
}

void DrawTo() {
    const std::uint16_t x = PacketGet<std::uint16_t>(layout::point::kX),
                        y = PacketGet<std::uint16_t>(layout::point::kY);
    if (IsRepeatedPoint(x, y)) return;
    PenStatePrevious = PenState;
    if (VcglMode()) {
        PenState = kPenDrawing;
    } else if (PenState == kPenClosed) {
        if (AppendText(PeOpener) != 0) return Fail();
        PenState = kPenDrawing;
    } else if (PenState == kPenLifted) {
        // A zero-length pen-up move uses up the pending flag.
        if (AppendPePair(0, 0, PeEightBit()) != 0) return Fail();
        PenState = kPenMoved;
    } else {
        PenState = kPenDrawing;
    }
    if (EmitPoint(x, y) != 0) return Fail();
    PageHasContent = 1;
}

void PenUp() {
    if (PenState != kPenDrawing && PenState != kPenMoved) return;
    if (!VcglMode() && AppendText(kPenUpFlag) != 0) return Fail();
    SetPenState(kPenLifted);
}

void AbortPlot() {
    if (ErrorLatch == kLatchClear) ErrorLatch = kLatchOutput;
    JobCopies = 1;
    PageHasContent = 0;
}

}  // namespace varnu
