// The two stream readers and what they share: opening the sheet (its size
// checked, and what the stream may take for it), pens drawn with dashes.
#pragma once

#include <memory>
#include <vector>

#include "preview/input.h"
#include "preview/preview.h"
#include "preview/sheet.h"

namespace varnu::preview {

// Both throw StreamError where reading stops; out->sheet is set as soon as
// the stream gives the sheet's size, so what was drawn stays.
void ReadRtl(Input& in, const Options& options, Rendering* out);
void ReadVcgl(Input& in, const Options& options, Rendering* out);

// A sheet of `along` x `across` device units (x along the longer side),
// refused when no printer's roll holds it.
std::shared_ptr<Sheet> OpenSheet(double along, double across, double unitsPerInch,
                                 const Options& options, std::uint64_t at, Input& in);

// A pen's dashes: on and off lengths in preview pixels; empty is solid.
struct Dashes {
    std::vector<double> lengths;
    bool adaptive = false;  // each segment holds whole patterns, from its start
    double phase = 0;       // where the pattern stands, carried along a polyline
};

// Strokes `points` (a NaN point lifts the pen) with `dashes`, cut to `clip`.
void StrokeDashed(Sheet& sheet, const std::vector<Point>& points, double width, std::uint8_t ink,
                  Dashes* dashes, const Rect& clip);

// The printer's line-type patterns 1 to 8 (dash and gap lengths, percent
// of the pattern), from its VCGL pattern commands.
std::vector<double> LineTypePercent(int type);

}  // namespace varnu::preview
