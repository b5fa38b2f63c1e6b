// Pens, line types and line widths: plot requests 5, 7, 41, 36, 43 and 15,
// and the record of the last commands that raster output sends again.
#pragma once

#include <cstdint>

#include "interface/lifetimes.h"

namespace varnu {

// RTL/GL2: ";" when a PE sequence is open; both modes: PenState to 1.
// -1 when the ";" could not be sent (the state is then unchanged).
std::int32_t CloseOpenSequence();

void SelectPen();          // 5
void SelectLineType();     // 7
void SelectPenWidth();     // 41
void SetLineTypeCount();   // 36
void RefreshModel();       // 43
void DescribeLineTypes();  // 15

}  // namespace varnu
