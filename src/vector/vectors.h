// Moves, draws, pen up and abort: plot requests 3, 4, 8 and 9, with the
// point output that polygons share.
#pragma once

#include <cstdint>

namespace varnu {

// Converts a host point (positions and LastHostPoint move to it) and sends
// it as the mode and PenState call for. -1 while ErrorLatch is set (nothing
// changes then) or when the send fails.
std::int32_t EmitPoint(std::uint16_t hostX, std::uint16_t hostY);

// Point conversion alone: -1 while latched; otherwise positions move and the
// offsets from the previous position are returned.
std::int32_t ConvertPoint(std::uint16_t hostX, std::uint16_t hostY, std::int32_t* dx,
                          std::int32_t* dy);

void MoveTo();     // 3
void DrawTo();     // 4
void PenUp();      // 8
void AbortPlot();  // 9

}  // namespace varnu
