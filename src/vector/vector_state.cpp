#include "vector/vector_state.h"

#include "config/page_geometry.h"
#include "interface/output_buffer.h"

namespace varnu {

namespace {
constexpr std::uint8_t kVcglSegment16 = 0x64;  // x0 y0 dx dy as 16-bit words
constexpr std::uint8_t kVcglSegment32 = 0x6B;  // x0 y0 dx dy as 32-bit values
}  // namespace

std::int32_t AppendVcglSegment(std::int32_t x0, std::int32_t y0, std::int32_t dx, std::int32_t dy) {
    const std::int32_t values[4] = {x0, y0, dx, dy};
    std::uint8_t command[18 + 1];  // the packers write a NUL behind each value
    std::int32_t n = 2;
    if (Configuration.VcglShortCoordinates) {
        command[0] = kVcglSegment16;
        command[1] = 0x04;
        for (std::int32_t v : values)
            n += PackBigEndian16(static_cast<std::uint16_t>(v), command + n);
    } else {
        command[0] = kVcglSegment32;
        command[1] = 0x08;
        for (std::int32_t v : values)
            n += PackBigEndian32(static_cast<std::uint32_t>(v), command + n);
    }
    return AppendBytes(n, command);
}

std::int32_t AppendVcglDot(std::int32_t hostX, std::int32_t hostY) {
    if (JobState.ErrorLatch != kLatchClear) return -1;
    const std::int32_t x = TruncateToInt32(hostX * Configuration.PageGeometry.ScaleFactor);
    const std::int32_t y = TruncateToInt32(hostY * Configuration.PageGeometry.ScaleFactor);
    return AppendVcglSegment(x, y, 0, 0);
}

}  // namespace varnu
