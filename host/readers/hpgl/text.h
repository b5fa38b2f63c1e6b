// Labels drawn as filled outlines: the system's DejaVu Sans Mono in the
// cells of a fixed-pitch stroke font, its sans-serif for proportional
// fonts, sized, turned, slanted and placed as the label commands say.
#pragma once

#include <string>
#include <vector>

#include "readers/hpgl/state.h"

namespace varnu::host::hpgl {

// The size of a character cell in plotter units: cap height, advance and
// line spacing, and how much wider than the font's own the glyphs are.
struct Cell {
    double cap = 0, advance = 0, line = 0;
    double widthScale = 1;
    bool proportional = false;
};
Cell CellOf(const State& s);

// The run of the text: a unit vector in plotter units of the turned system.
Point2 TextDirection(const State& s);

// A glyph at a cap height of kGlyphCap, baseline at 0.
inline constexpr double kGlyphCap = 100;
const std::vector<Ring>& GlyphRings(unsigned char c, bool proportional);
double GlyphAdvance(unsigned char c, bool proportional);
double GlyphDescent(unsigned char c, bool proportional);

}  // namespace varnu::host::hpgl
