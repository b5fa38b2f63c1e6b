#include "model/fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varnu::host {

namespace {

bool FitsAt(Area size, double scale, bool turned, const Sheet& sheet, double overhang = 0) {
    const double x = (turned ? size.height : size.width) * scale;
    const double y = (turned ? size.width : size.height) * scale;
    return x <= sheet.extentX + 2 * overhang + kFitSlackInches &&
           y <= sheet.extentY + 2 * overhang + kFitSlackInches;
}

// A page `length` long on a sheet `extent` long: inside it, squeezed by the
// slack at most, or cut at both edges where it passes by more.
double Cut(double length, double extent) {
    return length > extent + kFitSlackInches ? (length - extent) / 2 : 0;
}

}  // namespace

double FitScale(Area content, Area sheet, double margin) {
    return std::min(sheet.width * (1 - 2 * margin) / content.width,
                    sheet.height * (1 - 2 * margin) / content.height);
}

double Centred(double size, double sheet) {
    return (sheet - size) / 2;
}

std::optional<PageFit> FitPage(Area size, const Sheet& sheet, const PageRule& rule) {
    const Area extent{sheet.extentX, sheet.extentY};
    const Area turnedSize{size.height, size.width};
    PageFit fit;
    if (rule.fit) {
        fit.turned = rule.mayTurn && FitScale(turnedSize, extent) > FitScale(size, extent);
        fit.scale = FitScale(fit.turned ? turnedSize : size, extent);
    } else {
        fit.scale = rule.scale;
        const double s = fit.scale, o = rule.overhang;
        const bool uncut = FitsAt(size, s, false, sheet) || FitsAt(size, s, true, sheet);
        fit.turned = rule.mayTurn &&
                     (uncut ? !FitsAt(size, s, false, sheet)
                            : !FitsAt(size, s, false, sheet, o) && FitsAt(size, s, true, sheet, o));
        if (!FitsAt(size, s, fit.turned, sheet, o)) return std::nullopt;
    }
    const double x = (fit.turned ? size.height : size.width) * fit.scale;
    const double y = (fit.turned ? size.width : size.height) * fit.scale;
    fit.cut = {Cut(x, sheet.extentX), Cut(y, sheet.extentY)};
    fit.size = {std::min(x, sheet.extentX), std::min(y, sheet.extentY)};
    const double r = sheet.resolution;
    const double x0 = Centred(fit.size.width, sheet.extentX) * r;
    const double y0 = Centred(fit.size.height, sheet.extentY) * r;
    fit.placement = {static_cast<std::int32_t>(std::lround(x0)),
                     static_cast<std::int32_t>(std::lround(y0)),
                     static_cast<std::int32_t>(std::lround(x0 + fit.size.width * r)),
                     static_cast<std::int32_t>(std::lround(y0 + fit.size.height * r)),
                     false,
                     7};
    return fit;
}

std::string PageDoesNotFit(Area size, double scale, const Sheet& sheet) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "the page (%.0f x %.0f mm at scale %g) does not fit the sheet "
                  "(%.0f x %.0f mm); use --fit, --scale or --rotate auto",
                  size.width * 25.4 * scale, size.height * 25.4 * scale, scale,
                  sheet.extentX * 25.4, sheet.extentY * 25.4);
    return text;
}

}  // namespace varnu::host
