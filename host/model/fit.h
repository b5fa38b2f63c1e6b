// The one fit-on-sheet policy: how large a drawing, page or picture is
// drawn and where, whatever reads it.
#pragma once

#include <optional>
#include <string>

#include "session/job.h"
#include "session/row_server.h"

namespace varnu::host {

// How far a page may pass the sheet and still count as fitting: a page
// drawn for the format, its size the standard's (A2 is 420 x 594 mm) where
// the driver's table keeps a few hundredths of an inch less (A2 16.533 x
// 23.36 in, A-Arch 8.96 in for 9 in), rounded to points or dots.
inline constexpr double kFitSlackInches = 0.05;

struct Area {
    double width = 0, height = 0;
};

// The largest scale at which `content` fits `sheet` (in any units) with a
// margin of `margin` times the sheet on every side.
double FitScale(Area content, Area sheet, double margin = 0);
// Where `size` starts, centred on `sheet`.
double Centred(double size, double sheet);

// A page of `size` inches (a PDF page, a CUPS raster page): fitted to the
// sheet, or at a fixed scale; turned a quarter clockwise when that lets it
// fit larger (fitted) or only then it fits (fixed). At a fixed scale a page
// may pass the sheet by `overhang` on each side (the paper's margins, where
// the page is the whole paper): it is centred and cut at the sheet's edges,
// turned only when only then it fits uncut, or only then it fits at all.
struct PageRule {
    bool fit = false;
    double scale = 1;  // when not fitted
    bool mayTurn = false;
    double overhang = 0;  // inches, when not fitted
};
struct PageFit {
    double scale = 1;
    bool turned = false;
    Area size;  // inches on the sheet, inside it even where the slack let it pass
    Area cut;   // inches cut from each side, on the sheet's axes
    Placement placement{};
};
// Nothing when at its fixed scale the page does not fit.
std::optional<PageFit> FitPage(Area size, const Sheet& sheet, const PageRule& rule);
// What a page of `size` inches at `scale` that FitPage refused is told,
// with the options that would place it.
std::string PageDoesNotFit(Area size, double scale, const Sheet& sheet);

}  // namespace varnu::host
