// What a plot file may make of itself: bounds on every count, size and
// loop, so that a broken or hostile file is refused within seconds and
// bounded memory rather than followed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnu::host::hpgl {

inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;
inline constexpr int kMaxPages = 1000;
// A number: its characters, and its magnitude (HP-GL/2's own range).
inline constexpr std::size_t kMaxNumberChars = 40;
inline constexpr double kMaxMagnitude = 1073741823.0;
// A page side, plotter units: 100 m, longer than any roll.
inline constexpr double kMaxPageUnits = 4e6;
inline constexpr double kUnitsPerInch = 1016.0;
inline constexpr double kUnitsPerMm = kUnitsPerInch / 25.4;
// Points one page may draw (lines, filled areas, letters' outlines), and
// points the polygon buffer holds at once.
inline constexpr std::size_t kMaxPagePoints = 20000000;
inline constexpr std::size_t kMaxPolygonPoints = 1000000;
// Characters of one label, and of all labels of a page.
inline constexpr std::size_t kMaxLabelChars = 16384;
inline constexpr std::size_t kMaxPageLabelChars = 1000000;
// A PJL line, a PE number's digits, bytes skipped that are no command.
inline constexpr std::size_t kMaxPjlLine = 4096;
inline constexpr int kMaxPeDigits = 8;
inline constexpr std::size_t kMaxStrayBytes = 65536;
// Raster: pixels a row, rows an image, and bytes of decoded rows a page holds.
inline constexpr std::int64_t kMaxRasterWidth = std::int64_t{1} << 18;
inline constexpr std::int64_t kMaxRasterRows = std::int64_t{1} << 20;
inline constexpr std::size_t kMaxPageRasterBytes = std::size_t{256} << 20;
// Pixels a page's raster rows make, however cheaply each row is sent (a
// 36-inch roll of 15 m at 600 dpi is 7.7 thousand million).
inline constexpr std::int64_t kMaxPageRasterPixels = std::int64_t{1} << 34;
inline constexpr int kMaxPlanes = 8;
// Chord angles of arcs and circles, degrees (HP-GL/2's own range).
inline constexpr double kMinChordAngle = 0.5;
inline constexpr double kMaxChordAngle = 180.0;
// What the plot of a page may hold: points of lines (a request each) and
// of filled areas (four bytes each), dashes included.
inline constexpr std::size_t kMaxPlotLinePoints = 4000000;
inline constexpr std::size_t kMaxPlotAreaPoints = 40000000;
// Hatch lines one fill may draw before it is drawn solid.
inline constexpr std::size_t kMaxHatchLines = 20000;

}  // namespace varnu::host::hpgl
