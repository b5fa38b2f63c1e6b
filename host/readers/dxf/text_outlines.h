// Text as filled outlines, through cairo and the fonts fontconfig knows.
#pragma once

#include <string>
#include <vector>

#include "model/clip.h"

namespace varnu::host::dxf {

// Text as filled outlines from a font, in text units with the baseline
// at 0, and how far its pen advances and its descenders reach below the
// baseline; `reach`, where its ink ends from its origin, is the width it
// is aligned by (0 without ink).
struct TextShape {
    std::vector<Ring> rings;
    double advance = 0, descent = 0, reach = 0;
};

// Only measured, without outlines, when `outlines` is false. `font` is the
// font file a STYLE names ("arial.ttf"); the system sans-serif without one
// fontconfig knows by that name. The cap height of its H stands for
// `height`; advances are the font's own, kerned as it kerns pairs.
// `coarseness` 0 flattens as cairo does by default; 1 to 3 flatten four,
// sixteen and sixty-four times coarser, for drawings of more text than
// the plot could hold.
TextShape TextOutlines(const std::string& text, double height, bool outlines = true,
                       const std::string& font = "", int coarseness = 0);
inline constexpr int kCoarsest = 3;

}  // namespace varnu::host::dxf
