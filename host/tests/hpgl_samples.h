// Plot files made for the tests: each exercises a group of commands, as
// HP-GL/2 in PJL (on a page the size of the driver's default sheet) or as
// HP-GL without PJL or page size, as older programs write it.
#pragma once

#include <string>
#include <vector>

namespace varnu::host::testing {

struct PlotSample {
    std::string name;  // also its file name
    std::string bytes;
    // Positions compare: its page is the driver's default sheet, or it has
    // none (and draws from the sheet's corner).
    bool samePlace = true;
    int reach = 2;  // pixels of 50 dpi ink may lie apart (labels' fonts differ)
    // The least agreement, pixel for pixel, with another reader: labels are
    // drawn in a filled font where others use a stroke font, and the driver
    // draws every line black, where they draw a red pen's light.
    double agreement = 0.9;
};

const std::vector<PlotSample>& PlotSamples();

}  // namespace varnu::host::testing
