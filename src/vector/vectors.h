// Moves, draws, pen up and abort: plot requests 3, 4, 8 and 9.
#pragma once

namespace varnu {

void MoveTo();     // 3
void DrawTo();     // 4
void PenUp();      // 8
void AbortPlot();  // 9

}  // namespace varnu
