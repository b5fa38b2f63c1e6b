// DXF drawings as host requests: dxflib reads the file, blocks are expanded,
// curves flattened, text turned into filled outlines, and the drawing fitted
// to the sheet.
#pragma once

#include <string>

#include "adihost/host.h"
#include "adihost/script.h"

namespace adihost {

struct DxfOptions {
    double scaleDenominator = 0;      // 1:N with drawing units in millimetres; 0 fits the sheet
    double originX = 0, originY = 0;  // millimetres on the sheet of the drawing's origin
};

// The requests for `path` on `page`; `skipped` lists what was not drawn
// ("3 IMAGE, 1 WIPEOUT"), empty when everything was.
bool DxfScript(const std::string& path, const PageData& page, const DxfOptions& options,
               Script* script, std::string* skipped, std::string* error);

}  // namespace adihost
