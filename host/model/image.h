// A raster image held in memory, as the readers decode it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnu::host {

struct Image {
    std::int32_t width = 0, height = 0;
    bool bilevel = false;              // 1 byte a pixel: 0 background, 1 set (black)
    std::vector<std::uint8_t> pixels;  // rows top to bottom; RGB for colour images
};

// The largest image held: memory for its pixels is bounded by these, and
// by what the file holds, never by what its header declares alone.
inline constexpr std::uint64_t kMaxImageSide = std::uint64_t{1} << 20;
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 28;  // 16384 x 16384

// True, with `error` saying why, for a size beyond those bounds or empty.
bool ImageSizeRefused(std::uint64_t width, std::uint64_t height, std::string* error);

}  // namespace varnu::host
