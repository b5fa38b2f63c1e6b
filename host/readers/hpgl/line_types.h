// Line types: the standard shapes, and a line cut into dashes by a pattern.
#pragma once

#include <functional>
#include <vector>

#include "model/clip.h"
#include "readers/hpgl/drawing.h"

namespace varnu::host::hpgl {

// The shape of standard line type 1 to 8: dash, gap, dash, ... in percent.
const std::vector<double>& StandardLineType(int type);

// Cuts `points` into the dashes `pattern` draws (a dot is a dash of one
// point), each handed to `dash`; false when `budget` dashes would not do.
// The pattern runs on along the polyline, or starts anew on each segment
// and is stretched to whole patterns there when adaptive.
bool Dashes(const Ring& points, const Pattern& pattern, std::size_t* budget,
            const std::function<void(Ring&&)>& dash);

}  // namespace varnu::host::hpgl
