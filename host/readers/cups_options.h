// The PPD's own options and the CUPS raster header fields they set, shared
// by the PPD writer (tools/cups/varnu_ppd.cpp) and the raster reader. MIT,
// like the PPD writer. Each field holds the chosen row (or value) plus one;
// 0 means the option was not given.
#pragma once

namespace varnu {

inline constexpr const char* kDataModeOption = "VarnuDataMode";
inline constexpr int kDataModeField = 0;  // 1 RTL/GL2, 2 VCGL+MMR
inline constexpr const char* kFillOption = "VarnuFill";
inline constexpr int kFillField = 1;  // 1 solid, 2 halftone
inline constexpr const char* kProgramOption = "VarnuFinishProgram";
inline constexpr int kProgramField = 2;
inline constexpr const char* kFinishMarginOption = "VarnuFinishMargin";
inline constexpr int kFinishMarginField = 3;
inline constexpr const char* kMarginOption = "VarnuMargin";
inline constexpr int kMarginField = 4;  // millimetres plus one
// Media travel in cupsMediaType, also as row plus one.

}  // namespace varnu
