// The page values every output part reads: margins, plot extents, the step
// divisor, the host resolution and the scale from host steps to device units.
#pragma once

#include <climits>
#include <cstdint>

#include "config/configuration.h"

namespace varnu {

inline constexpr double kInchesPerMm = 0.03937007874015748;

// Derives margins, the long-edge bit, the step divisor and the scale factor
// from the configuration and its paper row; returns the plot area X (always
// the longer side) and Y. With `withResolution` it also sets HostResolution.
// A custom paper row takes its length from customLengthMm, in the table itself.
void ComputePageGeometry(bool withResolution, double* x, double* y);

// In the VCGL+MMR mode, from the current plot extents.
void UpdateVcglShortCoordinates();

// Truncation toward zero to a 32-bit integer, as every point and size
// conversion does; values beyond the range are held at its ends (a plain
// cast would be undefined there).
inline std::int32_t TruncateToInt32(double v) {
    if (!(v > -2147483648.0)) return v != v ? 0 : INT32_MIN;
    if (v >= 2147483647.0) return INT32_MAX;
    return static_cast<std::int32_t>(v);
}

}  // namespace varnu
