// DXF drawings as host requests: dxflib reads the file, blocks are expanded,
// curves flattened, text turned into filled outlines, and the drawing fitted
// to the sheet.
#pragma once

#include <string>
#include <vector>

#include "adihost/host.h"
#include "adihost/script.h"

namespace adihost {

struct DxfOptions {
    double scaleDenominator = 0;      // 1:N with drawing units in millimetres; 0 fits the sheet
    double originX = 0, originY = 0;  // millimetres on the sheet of the drawing's origin
    std::vector<std::string> layers;  // the layers to plot; empty for every one shown
};

// The requests for `path` on `page`; `skipped` lists what was not drawn
// ("3 IMAGE, 1 WIPEOUT"), empty when everything was; `unknownLayers` the
// names of `options.layers` the drawing does not have.
bool DxfScript(const std::string& path, const PageData& page, const DxfOptions& options,
               Script* script, std::string* skipped, std::string* error,
               std::vector<std::string>* unknownLayers = nullptr);

}  // namespace adihost
