#include "raster/pending_image.h"

namespace varnu {

std::uint16_t PendingImage = 0;

std::int32_t FlushPendingImage() {
    PendingImage = 0;
    return 0;
}

void ResetPendingImageOnLoad() {
    PendingImage = 0;
}

}  // namespace varnu
