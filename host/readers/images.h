// Raster image files: PNG through libpng, JPEG through libjpeg, TIFF (Group
// 4 scans included) through libtiff, decoded into memory.
#pragma once

#include <memory>
#include <string>

#include "model/document.h"
#include "model/image.h"

namespace varnu::host {

// Chosen by the file name's suffix.
bool LoadImage(const std::string& path, Image* image, std::string* error);
// The readers themselves, whatever the name.
bool LoadPng(const std::string& path, Image* image, std::string* error);
bool LoadTiff(const std::string& path, Image* image, std::string* error);
bool LoadJpeg(const std::string& path, Image* image, std::string* error);

// An image as a document of one page: placed where `options` say, else
// fitted to the sheet; only what lands on the sheet is sent.
std::unique_ptr<Document> OpenPng(const std::string& path, const DocumentOptions& options,
                                  std::string* error);
std::unique_ptr<Document> OpenJpeg(const std::string& path, const DocumentOptions& options,
                                   std::string* error);
std::unique_ptr<Document> OpenTiff(const std::string& path, const DocumentOptions& options,
                                   std::string* error);

}  // namespace varnu::host
