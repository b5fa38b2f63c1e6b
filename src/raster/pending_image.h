// The raster image recorded by request 52 and drawn at the start of the next
// plot request.
#pragma once

#include <cstdint>

namespace varnu {

inline constexpr std::uint16_t kImagePending = 0x5A5A;
extern std::uint16_t PendingImage;  // kImagePending while an image waits

// Called first on every plot request; draws a waiting image.
std::int32_t FlushPendingImage();

void ResetPendingImageOnLoad();

}  // namespace varnu
