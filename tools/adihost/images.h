// Raster images for the driver: PNG and TIFF files decoded into memory, and
// the host's row routines that serve them line by line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "adihost/host.h"

namespace adihost {

struct Image {
    std::int32_t width = 0, height = 0;
    bool bilevel = false;              // 1 byte a pixel: 0 background, 1 set (black)
    std::vector<std::uint8_t> pixels;  // rows top to bottom; RGB for colour images
};

// The largest image we read: memory for its pixels is bounded by these, and
// by what the file holds, never by what its header declares alone.
inline constexpr std::uint64_t kMaxImageSide = std::uint64_t{1} << 20;
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 28;  // 16384 x 16384

// PNG through libpng, TIFF (Group 4 scans included) through libtiff, chosen
// by the file name's suffix.
bool LoadImage(const std::string& path, Image* image, std::string* error);
// The readers themselves, whatever the name.
bool LoadPng(const std::string& path, Image* image, std::string* error);
bool LoadTiff(const std::string& path, Image* image, std::string* error);

struct Placement {
    std::int32_t x0, y0, x1, y1;  // host steps
    bool transparent = false;
    std::int16_t colour = 7;  // bilevel colour index
};

// Plot request 52 for an image of width x height pixels at `placement`,
// served by the row routines `fetch` and `release`: colour (kind 2, 24
// bits) or a one-bit scan (kind 0).
Packet ImageRequest(const Placement& placement, void* (*fetch)(void*),
                    std::int32_t (*release)(void*), std::int32_t width, std::int32_t height,
                    bool bilevel);

// Sends plot request 52 for `image`; the driver draws it at the next plot
// request, pulling lines through our row routines. `image` and the low
// memory taken here must outlive that. -1 with `why` set when we could not
// send it at all.
std::int16_t SendImage(const Image& image, const Placement& placement, bool progress,
                       std::string* why);

}  // namespace adihost
