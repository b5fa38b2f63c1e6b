// The page values every output part reads: margins, plot extents, the step
// divisor, the host resolution and the scale from host steps to device units.
#pragma once

#include <climits>
#include <cstdint>

namespace varnu {

struct PageGeometryRecord {
    double MarginInches[4];  // M0, M1 come off the length, M2, M3 off the width
    double PlotExtentX;      // usable plot size in inches, from requests 46, 47, 48
    double PlotExtentY;
    std::uint8_t LongEdgeAcross;  // 1 when the paper's width is not smaller than its length
    std::int32_t StepDivisor;     // 1, 2, 4, 8 or 16
    double HostResolution[2];     // host steps per inch, X and Y (equal)
    double ScaleFactor;           // device units per host step
};

extern PageGeometryRecord PageGeometry;

// 1 when both plot extents are below 40.9575 inches in the VCGL+MMR mode:
// VCGL coordinates then fit 16-bit words.
extern std::int32_t VcglShortCoordinates;

inline constexpr double kInchesPerMm = 0.03937007874015748;

// Derives margins, the long-edge bit, the step divisor and the scale factor
// from the configuration and its paper row; returns the plot area X (always
// the longer side) and Y. With `withResolution` it also sets HostResolution.
// A custom paper row takes its length from customLengthMm, in the table itself.
void ComputePageGeometry(bool withResolution, double* x, double* y);

// In the VCGL+MMR mode, from the current plot extents.
void UpdateVcglShortCoordinates();

void ResetPageGeometryOnLoad();

// Truncation toward zero to a 32-bit integer, as every point and size
// conversion does; values beyond the range are held at its ends (a plain
// cast would be undefined there).
inline std::int32_t TruncateToInt32(double v) {
    if (!(v > -2147483648.0)) return v != v ? 0 : INT32_MIN;
    if (v >= 2147483647.0) return INT32_MAX;
    return static_cast<std::int32_t>(v);
}

}  // namespace varnu
