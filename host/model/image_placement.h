// Where an image file lands on the sheet: where the user said, or fitted.
#pragma once

#include <optional>
#include <string>

#include "model/image.h"
#include "session/job.h"
#include "session/row_server.h"

namespace varnu::host {

// The corners of an area in millimetres from the sheet's lower left corner.
struct Corners {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// `image` placed at `at`, or fitted to the sheet keeping its proportions.
// Only what lands on the sheet is kept, cut at whole pixels (`cut` says
// whether any was): an image mostly beyond the sheet would make a stream of
// gigabytes the printer throws away. False with `error` set for an image
// wholly beyond the sheet or an area too large.
bool PlaceImage(const Sheet& sheet, const std::optional<Corners>& at, Image* image,
                Placement* placement, bool* cut, std::string* error);

}  // namespace varnu::host
