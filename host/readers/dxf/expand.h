// A DXF drawing's blocks expanded into flattened primitives in drawing
// coordinates, within the bounds of limits.h.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "readers/dxf/entities.h"

namespace varnu::host::dxf {

// A flattened primitive in drawing coordinates.
struct Primitive {
    bool fill;
    Style style;
    std::vector<Ring> rings;
    bool closed;
    int line;  // of the entity in the file
};

// Takes each primitive as it is made; false to stop, with the error set.
using Sink = std::function<bool(Primitive&&)>;

// How a pass over the drawing outlines text and bounds its filled areas,
// and what they came to.
struct Pass {
    int coarseness = 0;  // of text outlines (text_outlines.h)
    // Where nothing is held (measuring), twice kMaxAreaPoints: more than the
    // coarsest text could bring within it, and work to bound all the same.
    std::size_t areaLimit = kMaxAreaPoints;
    std::size_t areaPoints = 0;
    bool areaSpent = false;  // stopped past kMaxAreaPoints
};

// The whole drawing (its entities outside blocks), curves flattened within
// `tolerance`, handed to `sink` in the drawing's order; false with `error`
// set past the budget of limits.h, or as the sink set it.
bool Expand(const Reader& reader, double tolerance, const Sink& sink,
            std::map<std::string, int>* skipped, const std::string& path, std::string* error,
            Pass* pass = nullptr);

}  // namespace varnu::host::dxf
