// "Bildkorrektur": the tone curve every raster grey level passes through.
#pragma once

#include <array>
#include <cstdint>

#include "config/configuration.h"

namespace varnu {

// Inputs at which the five control values give (or pull) the curve's output.
inline constexpr int kCurveInputs[5] = {0, 64, 128, 192, 255};

// Samples the quartic Bezier through P0..P4 into ToneCurve and keeps the
// values as ToneCurveEditPoints. Outputs are held to 0..255.
void rebuildToneCurve(const std::int32_t points[5]);

// The same from the configuration's curvePoints.
void rebuildToneCurveFromConfig();

}  // namespace varnu
