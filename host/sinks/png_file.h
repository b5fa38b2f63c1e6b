// PNG files from RGB pixels, or grey rows as they are made, through libpng.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varnu::host {

// Through an OutputFile: "-" is standard output; refused when `path` is `input`.
bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb,
              std::string* error, const std::string& input = {});

// Calls its argument once for each row, top to bottom.
using PngRows = std::function<void(const std::function<void(const std::uint8_t* row)>& row)>;

// A grey PNG of `width` x `height`, its rows written as `rows` makes them,
// so no whole picture is held; the same output file rules as above.
bool WriteGreyPng(const std::string& path, int width, int height, const PngRows& rows,
                  std::string* error, const std::string& input = {});

}  // namespace varnu::host
