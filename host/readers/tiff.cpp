#include <tiffio.h>

#include <algorithm>
#include <vector>

#include "readers/images.h"

namespace varnu::host {

namespace {

// What libtiff may allocate at once for one strip or tile.
constexpr tmsize_t kMaxTiffAllocation = tmsize_t{256} << 20;

// A scan: each set pixel becomes one of the image colour.
bool ReadScan(TIFF* tif, std::uint32_t w, std::uint32_t h, Image* image) {
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    image->bilevel = true;
    const tmsize_t lineSize = TIFFScanlineSize(tif);
    bool ok = lineSize >= static_cast<tmsize_t>((w + 7) / 8);
    std::vector<std::uint8_t> line(ok ? static_cast<std::size_t>(lineSize) : 0);
    const bool zeroIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
    for (std::uint32_t y = 0; y < h && ok; ++y) {
        ok = TIFFReadScanline(tif, line.data(), y, 0) >= 0;
        for (std::uint32_t x = 0; x < w && ok; ++x) {
            const bool bit = (line[x / 8] >> (7 - x % 8)) & 1;
            image->pixels.push_back(bit == zeroIsWhite ? 1 : 0);
        }
    }
    return ok;
}

// Anything else, as RGB through libtiff's RGBA interface, a band of rows
// (about a million pixels) at a time.
bool ReadColour(TIFF* tif, std::uint32_t w, std::uint32_t h, Image* image) {
    image->bilevel = false;
    char message[1024] = "";
    TIFFRGBAImage rgba;
    if (!TIFFRGBAImageOK(tif, message) || TIFFRGBAImageBegin(&rgba, tif, 0, message) == 0)
        return false;
    rgba.req_orientation = ORIENTATION_TOPLEFT;
    const std::uint32_t band = std::max<std::uint32_t>(1, (1u << 20) / w);
    std::vector<std::uint32_t> raster;
    bool ok = true;
    for (std::uint32_t y = 0; y < h && ok; y += band) {
        const std::uint32_t rows = std::min(band, h - y);
        raster.assign(static_cast<std::size_t>(w) * rows, 0);
        rgba.row_offset = static_cast<int>(y);
        rgba.col_offset = 0;
        ok = TIFFRGBAImageGet(&rgba, raster.data(), w, rows) != 0;
        for (std::size_t i = 0; i < raster.size() && ok; ++i) {
            image->pixels.push_back(static_cast<std::uint8_t>(TIFFGetR(raster[i])));
            image->pixels.push_back(static_cast<std::uint8_t>(TIFFGetG(raster[i])));
            image->pixels.push_back(static_cast<std::uint8_t>(TIFFGetB(raster[i])));
        }
    }
    TIFFRGBAImageEnd(&rgba);
    return ok;
}

}  // namespace

bool LoadTiff(const std::string& path, Image* image, std::string* error) {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    // libtiff's own buffers stay bounded too, whatever the tags declare.
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxTiffAllocation);
    TIFF* tif = TIFFOpenExt(path.c_str(), "r", options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr) {
        *error = "not a readable TIFF";
        return false;
    }
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 0, samples = 1;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (ImageSizeRefused(w, h, error)) {
        TIFFClose(tif);
        return false;
    }
    image->width = static_cast<std::int32_t>(w);
    image->height = static_cast<std::int32_t>(h);
    image->pixels.clear();
    // Pixels are kept as rows arrive: a file whose data ends early fails
    // having taken only what it held.
    const bool ok = bits == 1 && samples == 1 && !TIFFIsTiled(tif) ? ReadScan(tif, w, h, image)
                                                                   : ReadColour(tif, w, h, image);
    TIFFClose(tif);
    if (!ok) {
        image->pixels.clear();
        image->pixels.shrink_to_fit();
        *error = "TIFF decoding failed";
    }
    return ok;
}

}  // namespace varnu::host
