// Pens, line types and line widths: plot requests 5, 7, 41, 36, 43 and 15,
// and the record of the last commands that raster output sends again.
#pragma once

#include <cstdint>

namespace varnu {

// Highest line type the host may use as a pattern; 0 = all solid.
extern std::int32_t LineTypeCount;

// The most recent command of each kind exactly as sent.
struct ReplayCommand {
    std::uint8_t bytes[32];
    std::int32_t length;
};
struct GraphicsStateReplayRecord {
    ReplayCommand pen;       // "SP…" or 41 01 pen
    ReplayCommand hostPen;   // VCGL only: 47 01 host pen
    ReplayCommand width;     // "PW…" or 40 01 width
    ReplayCommand lineType;  // "LT…" or 43 01 00 n
    bool vcgl;               // the data mode the commands were sent in
};
extern GraphicsStateReplayRecord GraphicsStateReplay;

// Job start: the record outlives jobs of one data mode only; a job in the
// other mode starts with none, so nothing of one mode is sent in the other.
void KeepReplayForMode(bool vcgl);

// RTL/GL2: ";" when a PE sequence is open; both modes: PenState to 1.
// -1 when the ";" could not be sent (the state is then unchanged).
std::int32_t CloseOpenSequence();

void SelectPen();          // 5
void SelectLineType();     // 7
void SelectPenWidth();     // 41
void SetLineTypeCount();   // 36
void RefreshModel();       // 43
void DescribeLineTypes();  // 15

void ResetPensOnLoad();

}  // namespace varnu
