// Drawing state shared by the vector requests, job start, job end, raster
// output and the output buffer's failure path.
#pragma once

#include <cstdint>

#include "interface/lifetimes.h"

namespace varnu {

// A VCGL segment from (x0, y0) by (dx, dy), in the 16-bit form when
// VcglShortCoordinates is set (values cut to their low 16 bits), otherwise
// the 32-bit form.
std::int32_t AppendVcglSegment(std::int32_t x0, std::int32_t y0, std::int32_t dx, std::int32_t dy);

// A zero-length segment at the converted host point; changes no drawing
// state. Fails at once while ErrorLatch is set.
std::int32_t AppendVcglDot(std::int32_t hostX, std::int32_t hostY);

}  // namespace varnu
