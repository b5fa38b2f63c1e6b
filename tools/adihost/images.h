// Raster images for the driver: PNG and TIFF files decoded into memory, and
// the host's row routines that serve them line by line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace adihost {

struct Image {
    std::int32_t width = 0, height = 0;
    bool bilevel = false;              // 1 byte a pixel: 0 background, 1 set (black)
    std::vector<std::uint8_t> pixels;  // rows top to bottom; RGB for colour images
};

// PNG through libpng, TIFF (Group 4 scans included) through libtiff.
bool LoadImage(const std::string& path, Image* image, std::string* error);

struct Placement {
    std::int32_t x0, y0, x1, y1;  // host steps
    bool transparent = false;
    std::int16_t colour = 7;  // bilevel colour index
};

// Sends plot request 52 for `image`; the driver draws it at the next plot
// request, pulling lines through our row routines. `image` must outlive that.
std::int16_t SendImage(const Image& image, const Placement& placement, bool progress);

}  // namespace adihost
