#include "model/image_placement.h"

#include <algorithm>
#include <cmath>

#include "model/fit.h"

namespace varnu::host {

namespace {

// Keeps the columns and rows of `image` that lie on a sheet of w x h host
// steps when it covers [x0, x1] x [y0, y1]; x1 and y1 move to the cut.
void CutAtSheetEdge(double w, double h, double x0, double y0, double* x1, double* y1,
                    Image* image) {
    const double pixelW = (*x1 - x0) / image->width, pixelH = (*y1 - y0) / image->height;
    const auto columns =
        static_cast<std::int32_t>(std::min<double>(image->width, std::ceil((w - x0) / pixelW)));
    const auto skipRows = static_cast<std::int32_t>(std::max(0.0, std::floor((*y1 - h) / pixelH)));
    const std::size_t bytes = image->bilevel ? 1 : 3;
    Image cut;
    cut.width = std::max(columns, 1);
    cut.height = std::max(image->height - skipRows, 1);
    cut.bilevel = image->bilevel;
    cut.pixels.reserve(static_cast<std::size_t>(cut.width) * cut.height * bytes);
    for (std::int32_t row = image->height - cut.height; row < image->height; ++row) {
        const auto first =
            image->pixels.begin() + static_cast<std::ptrdiff_t>(row) * image->width * bytes;
        cut.pixels.insert(cut.pixels.end(), first, first + cut.width * bytes);
    }
    *x1 = x0 + cut.width * pixelW;
    *y1 -= (image->height - cut.height) * pixelH;
    *image = std::move(cut);
}

}  // namespace

bool PlaceImage(const Sheet& sheet, const std::optional<Corners>& at, Image* image,
                Placement* placement, bool* cut, std::string* error) {
    const double stepsPerMm = sheet.resolution / 25.4;
    const double sheetW = sheet.extentX * sheet.resolution;
    const double sheetH = sheet.extentY * sheet.resolution;
    double x0, y0, x1, y1;
    if (at) {
        x0 = at->x0 * stepsPerMm, y0 = at->y0 * stepsPerMm;
        x1 = at->x1 * stepsPerMm, y1 = at->y1 * stepsPerMm;
    } else {
        const double scale =
            FitScale({static_cast<double>(image->width), static_cast<double>(image->height)},
                     {sheetW, sheetH});
        x0 = Centred(image->width * scale, sheetW), y0 = Centred(image->height * scale, sheetH);
        x1 = x0 + image->width * scale, y1 = y0 + image->height * scale;
    }
    if (x1 > 2147483647.0 || y1 > 2147483647.0) {
        *error = "the image area is too large";
        return false;
    }
    if (x0 >= sheetW || y0 >= sheetH) {
        *error = "the image lies outside the sheet (" +
                 std::to_string(std::lround(sheetW / stepsPerMm)) + " x " +
                 std::to_string(std::lround(sheetH / stepsPerMm)) + " mm)";
        return false;
    }
    *cut = x1 > sheetW + 1 || y1 > sheetH + 1;
    if (*cut) CutAtSheetEdge(sheetW, sheetH, x0, y0, &x1, &y1, image);
    *placement = {static_cast<std::int32_t>(x0),
                  static_cast<std::int32_t>(y0),
                  static_cast<std::int32_t>(x1),
                  static_cast<std::int32_t>(y1),
                  false,
                  7};
    return true;
}

}  // namespace varnu::host
