#include "config/tone_curve.h"

#include <cfloat>
#include <cstring>

#include "config/config_record.h"
#include "varnu/default_tone_curve.h"

// The curve, the image grid and the cut to the sheet are defined in double
// arithmetic. Evaluated in the x87 unit's wider registers, 255 x (1/255) is
// just below 1, the curve ends at 254 instead of 255, and white paper gets
// dither dots: 32-bit x86 builds must use SSE floating point.
static_assert(FLT_EVAL_METHOD == 0, "doubles must be evaluated as doubles (-msse2 -mfpmath=sse)");

namespace varnu {

void rebuildToneCurve(const std::int32_t points[5]) {
    for (int k = 0; k < 5; ++k) Configuration.ToneCurveEditPoints[k] = points[k];
    const double p0 = points[0], p1 = points[1], p2 = points[2], p3 = points[3], p4 = points[4];
    for (int i = 0; i < 256; ++i) {
        const double t = i * 0.00392156862745098;  // 1/255; exactly 1.0 at i = 255
        const double u = 1.0 - t;
        const double y = p0 * u * u * u * u + 4.0 * p1 * t * u * u * u + 6.0 * p2 * t * t * u * u +
                         4.0 * p3 * t * t * t * u + p4 * t * t * t * t;
        // Truncation toward zero. Control values outside 0..255 can push y
        // out of the byte range; it is held at the nearer end instead of
        // wrapping round to the opposite grey.
        const int level = static_cast<int>(y);
        Configuration.ToneCurve[i] = static_cast<std::uint8_t>(level < 0     ? 0
                                                               : level > 255 ? 255
                                                                             : level);
    }
}

void rebuildToneCurveFromConfig() {
    std::int32_t points[5];
    for (int k = 0; k < 5; ++k) points[k] = Configuration.Config.curvePoints[k];
    rebuildToneCurve(points);
}

}  // namespace varnu
