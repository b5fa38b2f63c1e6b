// Raster images from the host: plot request 52 records one, and the next
// plot request of any code draws it first.
#pragma once

#include <cstdint>

namespace varnu {

inline constexpr std::uint32_t kImagePending = 0x5A5A;

inline constexpr int kImagePacketCopySize = 124;
inline constexpr int kRowRequestSize = 144;

struct PendingImageRecord {
    std::uint32_t marker;  // kImagePending while an image waits
    std::uint8_t packet[kImagePacketCopySize];
    std::int32_t x0, y0, x1, y1, width;     // target area, host units
    std::int32_t pixelsPerLine, lineCount;  // source size, then the grid asked for
    std::int32_t transparent;
    std::int32_t bilevel;
    std::int16_t colourIndex;       // limited to 7
    std::uint8_t red, green, blue;  // colour of a bilevel image's set pixels
    std::int32_t savedX, savedY;    // DevicePosition when drawing began
};
extern PendingImageRecord PendingImage;

// Filled before each call of the host's row fetch routine; outlives images.
extern std::uint8_t RowRequest[kRowRequestSize];

void AcceptImage();  // plot request 52

// Called first on every plot request; draws a waiting image. Always ends
// with no image pending; returns 0.
std::int32_t FlushPendingImage();

void ResetImageRequestOnLoad();

}  // namespace varnu
