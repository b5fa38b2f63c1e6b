// PNG files from RGB pixels, through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnu::host {

// Through an OutputFile: "-" is standard output; refused when `path` is `input`.
bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb,
              std::string* error, const std::string& input = {});

}  // namespace varnu::host
