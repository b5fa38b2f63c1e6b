// Raster images from the host: plot request 52 records one, and the next
// plot request of any code draws it first.
#pragma once

#include <cstdint>

#include "raster/image_state.h"

namespace varnu {

void AcceptImage();  // plot request 52

// Called first on every plot request; draws a waiting image. Always ends
// with no image pending; returns 0.
std::int32_t FlushPendingImage();

}  // namespace varnu
