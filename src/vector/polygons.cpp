#include "vector/polygons.h"

#include <cstdint>

#include "config/config_record.h"
#include "config/page_geometry.h"
#include "interface/output_buffer.h"
#include "interface/packet.h"
#include "varnu/adi_abi.h"
#include "varnu/byte_order.h"
#include "varnu/packet_layouts.h"
#include "varnu/vcgl_commands.h"
#include "vector/vector_state.h"
#include "vector/vectors.h"

namespace varnu {

namespace {

constexpr char kSelectPen[] = "SP%d";
constexpr char kPolygonModeOn[] = ";PM0%s";  // then a fresh PE sequence
constexpr char kPolygonFill[] = ";PM2FP";    // close polygon mode, fill
constexpr std::uint8_t kVcglPolygon16[2] = {0xFF, 0x7C};
constexpr std::uint8_t kVcglPolygon32[2] = {0xFF, 0x83};

// The largest polygon whose 32-bit form has a word count (4 per vertex) that
// fits its 16-bit field.
constexpr std::int32_t kMaxVcglLongVertices = 0xFFFF / 4;

// Vertices as the host laid them out: unsigned 16-bit X, then Y, 4 bytes each.
struct Vertices {
    const std::uint8_t* base;
    std::uint16_t x(std::int32_t i) const {
        return LoadLe<std::uint16_t>(base, 4 * static_cast<std::size_t>(i));
    }
    std::uint16_t y(std::int32_t i) const {
        return LoadLe<std::uint16_t>(base, 4 * static_cast<std::size_t>(i) + 2);
    }
};

bool HalftoneFill() {
    return (Configuration.Config.optionFlags & kOptionHalftoneFill) != 0;
}

std::int32_t SendFillPen(std::int32_t pen) {
    std::uint8_t command[4 + 1] = {vcgl::kHostPenHead[0], vcgl::kHostPenHead[1]};
    PackBigEndian16(static_cast<std::uint16_t>(pen), command + 2);
    return AppendBytes(4, command);
}

std::int32_t RtlPolygon(std::int16_t hostPen, std::int32_t n, const Vertices& v) {
    const std::int32_t fillPen = HalftoneFill() ? hostPen : JobState.BlackPen;
    if (PageState.PenState != kPenClosed && AppendText(";") != 0) return -1;
    SetPenState(kPenClosed);
    if (AppendFormat(kSelectPen, fillPen) != 0) return -1;
    if (AppendText(Module.PeOpener) != 0 || AppendText("<") != 0) return -1;
    PageState.PenStatePrevious = kPenClosed;
    PageState.PenState = kPenMoved;
    if (EmitPoint(v.x(0), v.y(0)) != 0) return -1;  // pen-up move to the first vertex
    if (AppendFormat(kPolygonModeOn, Module.PeOpener) != 0) return -1;
    PageState.PenStatePrevious = kPenMoved;
    PageState.PenState = kPenDrawing;
    for (std::int32_t i = 1; i < n; ++i)
        if (EmitPoint(v.x(i), v.y(i)) != 0) return -1;
    if (EmitPoint(v.x(0), v.y(0)) != 0) return -1;  // closes the outline
    if (AppendText(kPolygonFill) != 0) return -1;
    if (!HalftoneFill() && AppendFormat(kSelectPen, hostPen) != 0) return -1;
    SetPenState(kPenClosed);
    PageState.PageHasContent = 1;
    return 0;
}

std::int32_t VcglPolygon(std::int16_t hostPen, std::int32_t n, const Vertices& v) {
    const bool shortForm = Configuration.VcglShortCoordinates != 0;
    // The 32-bit form cannot state the word count of a larger polygon; such a
    // polygon is refused before anything is sent rather than sent miscounted.
    if (!shortForm && n > kMaxVcglLongVertices) return -1;

    const std::int32_t fillPen = HalftoneFill() ? hostPen : JobState.BlackPen;
    SetPenState(kPenClosed);
    if (SendFillPen(fillPen) != 0) return -1;
    PageState.PenStatePrevious = kPenClosed;
    PageState.PenState = kPenDrawing;

    auto sendPair = [shortForm](std::int32_t a, std::int32_t b) {
        std::uint8_t packed[8 + 1];
        std::int32_t k = 0;
        if (shortForm) {
            k += PackBigEndian16(static_cast<std::uint16_t>(a), packed + k);
            k += PackBigEndian16(static_cast<std::uint16_t>(b), packed + k);
        } else {
            k += PackBigEndian32(static_cast<std::uint32_t>(a), packed + k);
            k += PackBigEndian32(static_cast<std::uint32_t>(b), packed + k);
        }
        return AppendBytes(k, packed);
    };

    std::int32_t dx, dy;
    if (ConvertPoint(v.x(0), v.y(0), &dx, &dy) != 0) return -1;
    std::uint8_t head[4 + 1];
    head[0] = shortForm ? kVcglPolygon16[0] : kVcglPolygon32[0];
    head[1] = shortForm ? kVcglPolygon16[1] : kVcglPolygon32[1];
    PackBigEndian16(static_cast<std::uint16_t>((shortForm ? 2 : 4) * n), head + 2);
    if (AppendBytes(4, head) != 0) return -1;
    if (sendPair(PageState.DevicePosition.x, PageState.DevicePosition.y) != 0) return -1;
    for (std::int32_t i = 1; i < n; ++i) {
        if (ConvertPoint(v.x(i), v.y(i), &dx, &dy) != 0) return -1;
        if (sendPair(dx, dy) != 0) return -1;
    }
    if (!HalftoneFill() && SendFillPen(hostPen) != 0) return -1;
    SetPenState(kPenClosed);
    PageState.PageHasContent = 1;
    return 0;
}

void FillPolygon(std::int16_t hostPen, std::int16_t count, const std::uint8_t* vertices) {
    if (JobState.ErrorLatch != kLatchClear) {
        SetResult(kResultOk);
        return;
    }
    if (count < 2) return;
    if (vertices == nullptr) {
        SetResult(kResultFailed);
        return;
    }
    const Vertices v{vertices};
    const std::int32_t result = (Configuration.Config.modeFlags & kModeVcgl)
                                    ? VcglPolygon(hostPen, count, v)
                                    : RtlPolygon(hostPen, count, v);
    SetResult(static_cast<std::int16_t>(result));
    if (result == 0) JobState.PendingPenReselect = 1;
}

}  // namespace

void PolygonInline() {
    FillPolygon(PacketGet<std::int16_t>(layout::polygon::kFill),
                PacketGet<std::int16_t>(layout::polygon::kCount),
                CurrentPacket + layout::polygon::kVertices);
}

void PolygonPointer() {
    // The vertex array lies behind a 4-byte host address.
    FillPolygon(PacketGet<std::int16_t>(layout::polygon_by_address::kFill),
                PacketGet<std::int16_t>(layout::polygon_by_address::kCount),
                FromHostAddress<const std::uint8_t>(
                    PacketGet<HostAddress>(layout::polygon_by_address::kVertices)));
}

}  // namespace varnu
