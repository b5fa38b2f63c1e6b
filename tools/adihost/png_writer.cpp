#include "adihost/png_writer.h"

#include <png.h>

#include <cstdio>
#include <cstring>

namespace adihost {

bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb,
              std::string* error) {
    if (width <= 0 || height <= 0 || rgb.size() < static_cast<std::size_t>(width) * height * 3) {
        *error = "no picture to write";
        return false;
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = PNG_FORMAT_RGB;
    // Written beside the target and renamed, so a failure leaves no file.
    const std::string temporary = path + ".part";
    if (!png_image_write_to_file(&png, temporary.c_str(), 0, rgb.data(), 0, nullptr)) {
        *error = std::string("cannot write ") + path + ": " + png.message;
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path;
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace adihost
