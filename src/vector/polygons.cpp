#include "vector/polygons.h"

#include <cstdint>

#include "interface/output_buffer.h"
#include "interface/packet.h"
#include "modes/data_mode.h"
#include "varnu/adi_abi.h"
#include "varnu/packet_layouts.h"

namespace varnu {

namespace {

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
    const std::int32_t result = ActiveMode().polygon(hostPen, count, PolygonVertices{vertices});
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
