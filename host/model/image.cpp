#include "model/image.h"

namespace varnu::host {

bool ImageSizeRefused(std::uint64_t width, std::uint64_t height, std::string* error) {
    if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide ||
        width * height > kMaxImagePixels) {
        *error = "image of " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels refused (at most " + std::to_string(kMaxImagePixels) + " pixels and " +
                 std::to_string(kMaxImageSide) + " a side)";
        return true;
    }
    return false;
}

}  // namespace varnu::host
