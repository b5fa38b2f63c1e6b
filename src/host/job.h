// Opening and closing a plot job: plot requests 30 and 2.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnu {

extern std::int32_t OutputHandle;  // NotifyHost's answer at job start; -1 after request 49

// Device units of the plot area and of the margins, set at job start.
extern std::int32_t PageWidthUnits;
extern std::int32_t PageHeightUnits;
extern std::int32_t MarginUnits[4];

// The "IW" text of job start; raster output sends it again after an image.
inline constexpr int kSavedWindowCommandSize = 64;
extern char SavedWindowCommand[kSavedWindowCommandSize];

void JobStart();  // plot request 30
void JobEnd();    // plot request 2

// The RTL/GL2 palette entry of a pen as job start sends it ("PC…"), into
// `text`; returns its length. Raster output sends the same after an image.
int FormatPenColour(int pen, char* text, std::size_t size);

// VCGL groups also sent after a raster image; 0 or -1.
std::int32_t VcglJobHeader();
std::int32_t VcglDefaultAttributes();

void ResetJobOnLoad();

}  // namespace varnu
