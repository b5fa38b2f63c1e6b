// The printer's test page, drawn through the driver itself: rulers in
// millimetres along both edges to check the scale, every line type, widths
// from 0.1 to 2 mm, the greys of the first eight pens, a grey wedge at
// 200, 300, 400 and 600 source pixels an inch, and the configuration
// summary the driver prints, as text.
#pragma once

#include <memory>

#include "model/document.h"

namespace varnu::host {

// A document of one page, laid out for the sheet of its job (on 11 x 11
// inches, shrunk on a smaller sheet; at least 4 x 4 inches).
std::unique_ptr<Document> OpenTestPage();

}  // namespace varnu::host
