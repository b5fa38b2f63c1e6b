#include "readers/images.h"

#include <cctype>
#include <cstring>

namespace varnu::host {

namespace {

bool HasSuffix(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}

}  // namespace

bool LoadImage(const std::string& path, Image* image, std::string* error) {
    if (HasSuffix(path, ".png")) return LoadPng(path, image, error);
    if (HasSuffix(path, ".tif") || HasSuffix(path, ".tiff")) return LoadTiff(path, image, error);
    if (HasSuffix(path, ".jpg") || HasSuffix(path, ".jpeg")) return LoadJpeg(path, image, error);
    *error = "unknown image kind (expected .png, .tif, .tiff, .jpg or .jpeg)";
    return false;
}

}  // namespace varnu::host
