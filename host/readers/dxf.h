// DXF drawings as a plot: dxflib reads the file, blocks are expanded,
// curves flattened, text turned into filled outlines, and the drawing
// fitted to the sheet or placed at a scale and cut at the sheet's edge.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/document.h"
#include "model/plot.h"
#include "session/job.h"

namespace varnu::host {

struct DxfOptions {
    double scaleDenominator = 0;      // 1:N with drawing units in millimetres; 0 fits the sheet
    double originX = 0, originY = 0;  // millimetres on the sheet of the drawing's origin
    std::vector<std::string> layers;  // the layers to plot; empty for every one shown
};

struct DxfReport {
    std::string skipped;  // what was not drawn ("3 IMAGE, 1 WIPEOUT"); empty when all was
    std::vector<std::string> unknownLayers;  // of DxfOptions::layers, not in the drawing
};

bool ReadDxf(const std::string& path, const Sheet& sheet, const DxfOptions& options, Plot* plot,
             DxfReport* report, std::string* error);
// A DXF drawing as a document of one page, read for its sheet when it is
// planned; the notes name layers asked for that it lacks and what it skipped.
std::unique_ptr<Document> OpenDxf(const std::string& path, const DocumentOptions& options,
                                  std::string* error);

// The drawing's text itself; `path` names it in errors.
bool ReadDxfText(std::string text, const std::string& path, const Sheet& sheet,
                 const DxfOptions& options, Plot* plot, DxfReport* report, std::string* error);

}  // namespace varnu::host
