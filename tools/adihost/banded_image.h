// Pictures too large to hold whole (a PDF page, a CUPS raster page) sent
// through the driver's image request: the row routine asks the picture for
// one band of pixels at a time, so memory is bounded by the band.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "adihost/images.h"

namespace adihost {

struct BandedPicture {
    std::int32_t width = 0, height = 0;  // pixels, rows top to bottom
    // Fills the rectangle at (x, y) of w x h pixels, w words a row, each
    // pixel 0x00RRGGBB (cairo's RGB24, so poppler draws straight into the
    // band); false with a message when the picture cannot be produced.
    std::function<bool(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                       std::uint32_t* pixels, std::string* error)>
        render;
    std::string progressLabel;  // "page 2" on the terminal; empty for none
};

// Sends the picture as a colour image at `placement` and has the driver
// draw it at once. False with a message when the picture failed; the
// driver then drew nothing of it.
bool SendBandedPicture(const BandedPicture& picture, const Placement& placement,
                       std::string* error);

// Device pixels per inch of the stored configuration (600, 400, 300, 200),
// known once a plot job is open.
int ConfiguredDpi();

// Most bytes a band may hold: the bound on the memory a picture takes.
inline constexpr std::size_t kBandBytes = std::size_t{64} << 20;

}  // namespace adihost
