// Raster image files: PNG through libpng, JPEG through libjpeg, TIFF (Group
// 4 scans included) through libtiff, decoded into memory.
#pragma once

#include <string>

#include "model/image.h"

namespace varnu::host {

// Chosen by the file name's suffix.
bool LoadImage(const std::string& path, Image* image, std::string* error);
// The readers themselves, whatever the name.
bool LoadPng(const std::string& path, Image* image, std::string* error);
bool LoadTiff(const std::string& path, Image* image, std::string* error);
bool LoadJpeg(const std::string& path, Image* image, std::string* error);

}  // namespace varnu::host
