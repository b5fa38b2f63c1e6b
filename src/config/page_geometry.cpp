#include "config/page_geometry.h"

#include "config/config_record.h"
#include "config/device_tables.h"
#include "interface/lifetimes.h"

namespace varnu {

namespace {

// First row whose bound holds both extents wins.
struct StepDivisorRow {
    double bound;
    std::int32_t divisor;
};
// clang-format off
constexpr StepDivisorRow kRtlStepDivisors[] = {
    {64.5, 1}, {129.0, 2}, {258.0, 4}, {516.0, 8},
};
constexpr std::int32_t kRtlLargestDivisor = 16;
constexpr StepDivisorRow kVcglStepDivisors[] = {
    {81.915, 1}, {163.83, 2}, {327.66, 4}, {655.32, 8},
};
constexpr std::int32_t kVcglLargestDivisor = 16;
// clang-format on

// Device units per inch: HP-GL/2 1016, VCGL 400 (reached as 800 / d × d / 2).
constexpr double kRtlUnitsPerInch = 1016.0;
constexpr double kVcglHostStepsPerInch = 800.0;

constexpr double kVcglShortLimit = 40.9575;

template <std::size_t N>
std::int32_t StepDivisorFor(const StepDivisorRow (&rows)[N], std::int32_t largest, double x,
                            double y) {
    for (const auto& row : rows)
        if (x <= row.bound && y <= row.bound) return row.divisor;
    return largest;
}

}  // namespace

void ComputePageGeometry(bool withResolution, double* x, double* y) {
    const double margin = Configuration.Config.marginMm * kInchesPerMm;
    for (double& m : Configuration.PageGeometry.MarginInches) m = margin;
    const double* M = Configuration.PageGeometry.MarginInches;

    // A paper index the tables do not have reads as the first format.
    PaperFormatRecord* paper =
        MutablePaperFormat(Configuration.CurrentModel, Configuration.Config.paperIndex);
    if (paper == nullptr) paper = MutablePaperFormat(0, 1);
    if (paper->custom == 1) paper->length = Configuration.Config.customLengthMm * kInchesPerMm;

    if (paper->width < paper->length) {
        *x = paper->length - M[1] - M[0];
        *y = paper->width - M[3] - M[2];
        Configuration.Config.modeFlags |= kModeLongEdgeAlongX;
        Configuration.PageGeometry.LongEdgeAcross = 0;
    } else {
        *x = paper->width - M[3] - M[2];
        *y = paper->length - M[1] - M[0];
        Configuration.Config.modeFlags &= static_cast<std::uint16_t>(~kModeLongEdgeAlongX);
        Configuration.PageGeometry.LongEdgeAcross = 1;
    }

    const bool vcgl = (Configuration.Config.modeFlags & kModeVcgl) != 0;
    Configuration.PageGeometry.StepDivisor =
        vcgl ? StepDivisorFor(kVcglStepDivisors, kVcglLargestDivisor, *x, *y)
             : StepDivisorFor(kRtlStepDivisors, kRtlLargestDivisor, *x, *y);
    Configuration.PageGeometry.ScaleFactor = vcgl ? Configuration.PageGeometry.StepDivisor * 0.5
                                                  : Configuration.PageGeometry.StepDivisor;
    if (withResolution) {
        const double resolution = (vcgl ? kVcglHostStepsPerInch : kRtlUnitsPerInch) /
                                  Configuration.PageGeometry.StepDivisor;
        Configuration.PageGeometry.HostResolution[0] = resolution;
        Configuration.PageGeometry.HostResolution[1] = resolution;
    }
}

void UpdateVcglShortCoordinates() {
    if ((Configuration.Config.modeFlags & kModeVcgl) == 0) return;
    Configuration.VcglShortCoordinates =
        JobState.PlotExtentX < kVcglShortLimit && JobState.PlotExtentY < kVcglShortLimit;
}

}  // namespace varnu
