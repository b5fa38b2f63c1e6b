#include "config/page_geometry.h"

#include "config/config_record.h"
#include "config/device_tables.h"

namespace varnu {

PageGeometryRecord PageGeometry;
std::int32_t VcglShortCoordinates = 0;

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
    const double margin = Config.marginMm * kInchesPerMm;
    for (double& m : PageGeometry.MarginInches) m = margin;
    const double* M = PageGeometry.MarginInches;

    // A paper index the tables do not have reads as the first format.
    PaperFormatRecord* paper = MutablePaperFormat(CurrentModel, Config.paperIndex);
    if (paper == nullptr) paper = MutablePaperFormat(0, 1);
    if (paper->custom == 1) paper->length = Config.customLengthMm * kInchesPerMm;

    if (paper->width < paper->length) {
        *x = paper->length - M[1] - M[0];
        *y = paper->width - M[3] - M[2];
        Config.modeFlags |= kModeLongEdgeAlongX;
        PageGeometry.LongEdgeAcross = 0;
    } else {
        *x = paper->width - M[3] - M[2];
        *y = paper->length - M[1] - M[0];
        Config.modeFlags &= static_cast<std::uint16_t>(~kModeLongEdgeAlongX);
        PageGeometry.LongEdgeAcross = 1;
    }

    const bool vcgl = (Config.modeFlags & kModeVcgl) != 0;
    PageGeometry.StepDivisor = vcgl ? StepDivisorFor(kVcglStepDivisors, kVcglLargestDivisor, *x, *y)
                                    : StepDivisorFor(kRtlStepDivisors, kRtlLargestDivisor, *x, *y);
    PageGeometry.ScaleFactor = vcgl ? PageGeometry.StepDivisor * 0.5 : PageGeometry.StepDivisor;
    if (withResolution) {
        const double resolution =
            (vcgl ? kVcglHostStepsPerInch : kRtlUnitsPerInch) / PageGeometry.StepDivisor;
        PageGeometry.HostResolution[0] = resolution;
        PageGeometry.HostResolution[1] = resolution;
    }
}

void UpdateVcglShortCoordinates() {
    if ((Config.modeFlags & kModeVcgl) == 0) return;
    VcglShortCoordinates =
        PageGeometry.PlotExtentX < kVcglShortLimit && PageGeometry.PlotExtentY < kVcglShortLimit;
}

void ResetPageGeometryOnLoad() {
    PageGeometry = PageGeometryRecord{};
    VcglShortCoordinates = 0;
}

}  // namespace varnu
