// The host's row routines of plot request 52: the driver asks for a
// picture one line at a time, and this serves each line from the band of
// the picture that holds it. Pictures in memory are one band; pictures too
// large to hold (a PDF page, a CUPS raster page) are drawn a band at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace varnu::host {

// Where request 52 places a picture, in host steps.
struct Placement {
    std::int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool transparent = false;
    std::int16_t colour = 7;  // bilevel colour index
};

// Pixels of a band, rows top to bottom.
enum class PixelFormat {
    Bilevel,  // one byte, 1 set (black)
    Rgb,      // three bytes
    Rgb24,    // a 32-bit word 0x00RRGGBB (cairo's RGB24)
    Grey,     // one byte, 255 white
    Ink,      // one byte, 255 black
};

// Part of a picture, whole lines of it: whole rows, or whole columns when
// the driver asks for columns. Pixel (x, y) is at pixels + (x - band x) *
// step + (y - band y) * stride: rows as they lie, or a band of columns
// held mirrored on its diagonal (step a column, stride a pixel).
struct Band {
    const std::uint8_t* pixels = nullptr;  // the first pixel, (x, y)
    PixelFormat format = PixelFormat::Rgb;
    std::ptrdiff_t stride = 0;  // bytes from a pixel to the one below it
    std::ptrdiff_t step = 0;    // bytes from a pixel to the one right of it; 0: its size
    std::int32_t x = 0, y = 0;  // the band's first pixel in the picture
    std::int32_t width = 0, height = 0;
};

struct RowPicture {
    std::int32_t width = 0, height = 0;  // pixels
    bool bilevel = false;                // a one-bit scan (kind 0), else colour (kind 2)
    std::size_t lineCapacity = 0;        // bytes of the longest line served
    // Makes `band` hold picture row `index` (column `index` when `column`);
    // false with `error` set when the picture cannot be produced.
    std::function<bool(bool column, std::int32_t index, Band* band, std::string* error)> hold;
    std::string progressLabel;  // shown on a terminal when progress is asked for
};

// Sends request 52 for `picture` at `placement` and has the driver draw it at
// once. Returns the driver's answer to request 52 (52 when it took the
// picture); `error` is set when a line could not be served or there was no
// low memory for the lines.
std::int16_t DrawPicture(const RowPicture& picture, const Placement& placement, bool progress,
                         std::string* error);

}  // namespace varnu::host
