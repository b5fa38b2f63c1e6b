// A DXF drawing's blocks expanded into flattened primitives in drawing
// coordinates, within the bounds of limits.h.
#pragma once

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

// The whole drawing (its entities outside blocks), curves flattened within
// `tolerance`; false with `error` set past kMaxPoints or kMaxVisits.
bool Expand(const Reader& reader, double tolerance, std::vector<Primitive>* out,
            std::map<std::string, int>* skipped, const std::string& path, std::string* error);

}  // namespace varnu::host::dxf
