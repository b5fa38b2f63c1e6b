#include "config/page_geometry.h"

#include "config/config_record.h"
#include "config/device_tables.h"
#include "interface/lifetimes.h"

namespace varnu {

namespace {

struct StepDivisorRow {
    double bound;
    std::int32_t divisor;
};
// The host's steps per data mode: the step divisor is the first row whose
// bound holds both extents (the largest past them all), the host counts
// stepsPerInch / divisor steps an inch, and a step is scalePerStep x divisor
// device units (HP-GL/2 1016 an inch; VCGL 400, reached as 800 / d x d / 2).
struct ModeSteps {
    StepDivisorRow divisors[4];
    std::int32_t largestDivisor;
    double stepsPerInch;
    double scalePerStep;
};
// clang-format off
constexpr ModeSteps kModeSteps[kDataModeCount] = {
    // bounds of the divisors 1, 2, 4, 8                     largest steps/inch scale
    {{{64.5, 1},   {129.0, 2},  {258.0, 4},  {516.0, 8}},  16, 1016.0, 1.0},  // RTL/GL2
    {{{81.915, 1}, {163.83, 2}, {327.66, 4}, {655.32, 8}}, 16, 800.0,  0.5},  // VCGL+MMR
};
// clang-format on

constexpr double kVcglShortLimit = 40.9575;

std::int32_t StepDivisorFor(const ModeSteps& steps, double x, double y) {
    for (const auto& row : steps.divisors)
        if (x <= row.bound && y <= row.bound) return row.divisor;
    return steps.largestDivisor;
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

    const ModeSteps& steps = kModeSteps[static_cast<int>(CurrentDataMode())];
    PageGeometryRecord& g = Configuration.PageGeometry;
    g.StepDivisor = StepDivisorFor(steps, *x, *y);
    g.ScaleFactor = g.StepDivisor * steps.scalePerStep;
    if (withResolution) {
        const double resolution = steps.stepsPerInch / g.StepDivisor;
        g.HostResolution[0] = resolution;
        g.HostResolution[1] = resolution;
    }
}

void UpdateVcglShortCoordinates() {
    if (CurrentDataMode() != DataMode::kVcgl) return;
    Configuration.VcglShortCoordinates =
        JobState.PlotExtentX < kVcglShortLimit && JobState.PlotExtentY < kVcglShortLimit;
}

}  // namespace varnu
