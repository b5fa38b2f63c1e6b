// What a DXF drawing may make of itself: bounds on its expansion and its
// coordinates, so that a broken or hostile file is refused, not followed.
#pragma once

#include <cstddef>

namespace varnu::host::dxf {

inline constexpr int kMaxInsertDepth = 16;
// Nested arrays of blocks can multiply without end; a drawing that expands
// past this many points of lines (a plot request each) or of filled areas
// (text's letters; four bytes each in the plot) is refused rather than
// allowed to exhaust memory.
inline constexpr std::size_t kMaxPoints = 2000000;
inline constexpr std::size_t kMaxAreaPoints = 80000000;
// Arrays of blocks that draw nothing multiply the work alone: the entities
// visited while expanding are bounded as well.
inline constexpr std::size_t kMaxVisits = 2000000;
// INSERT arrays are cut to this many columns and rows.
inline constexpr int kMaxArray = 100;
// Coordinates beyond this (drawing units, after blocks are placed) are not
// a drawing but a broken or hostile file.
inline constexpr double kMaxCoordinate = 1e12;

// What one expansion may still do.
struct Budget {
    std::size_t points = 0, areaPoints = 0, visits = 0;
    int coarseness = 0;                      // of text outlines (text_outlines.h)
    std::size_t areaLimit = kMaxAreaPoints;  // twice that where nothing is held (measuring)
    bool Spent() const {
        return points > kMaxPoints || areaPoints > areaLimit || visits > kMaxVisits;
    }
};

}  // namespace varnu::host::dxf
