#include "sinks/png_file.h"

#include <png.h>

#include <cstdio>
#include <cstring>

#include "sinks/output_file.h"

namespace varnu::host {

bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb,
              std::string* error, const std::string& input) {
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
    OutputFile file;
    if (!file.Open(path, input, error)) return false;
    if (!png_image_write_to_stdio(&png, file.stream(), 0, rgb.data(), 0, nullptr)) {
        *error = std::string("cannot write ") + path + ": " + png.message;
        return false;
    }
    if (!file.Commit(error)) return false;
    return true;
}

}  // namespace varnu::host
