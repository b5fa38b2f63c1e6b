// Hatched fills (FT 3 and 4): parallel lines across an area.
#pragma once

#include <vector>

#include "readers/hpgl/drawing.h"

namespace varnu::host::hpgl {

// Draws lines `spacing` page units apart at `angle` degrees (and across
// them when `cross`) inside `rings` with the pen of `style`; false, with
// nothing drawn, when that would take too many lines.
bool Hatch(const std::vector<Ring>& rings, bool nonzero, double spacing, double angle, bool cross,
           const Stroke& style, Sink* sink);

}  // namespace varnu::host::hpgl
