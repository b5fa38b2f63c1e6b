#include "adihost/images.h"

#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "adihost/host.h"
#include "interface/adi_abi.h"
#include "interface/byte_order.h"

namespace adihost {

namespace {

using varnu::HostAddress;
using varnu::LoadLe;
using varnu::StoreLe;

bool HasSuffix(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}

// Whether the file is a one-bit grey PNG (a scan), from its header.
bool PngIsOneBitGrey(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool oneBit = false;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_read_info(png, info);
        oneBit = png_get_bit_depth(png, info) == 1 &&
                 png_get_color_type(png, info) == PNG_COLOR_TYPE_GRAY;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return oneBit;
}

bool LoadPng(const std::string& path, Image* image, std::string* error) {
    const bool scan = PngIsOneBitGrey(path);
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        *error = std::string("not a readable PNG: ") + png.message;
        return false;
    }
    png.format = scan ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    if (png.width == 0 || png.height == 0 || png.width > (1u << 20) || png.height > (1u << 20)) {
        png_image_free(&png);
        *error = "image size out of range";
        return false;
    }
    image->width = static_cast<std::int32_t>(png.width);
    image->height = static_cast<std::int32_t>(png.height);
    image->pixels.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, image->pixels.data(), 0, nullptr)) {
        *error = std::string("PNG decoding failed: ") + png.message;
        png_image_free(&png);
        return false;
    }
    image->bilevel = scan;
    if (scan)  // black pixels of the scan are the set ones
        for (std::uint8_t& v : image->pixels) v = v < 128 ? 1 : 0;
    return true;
}

bool LoadTiff(const std::string& path, Image* image, std::string* error) {
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
        *error = "not a readable TIFF";
        return false;
    }
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 0, samples = 1, photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (w == 0 || h == 0 || w > (1u << 20) || h > (1u << 20)) {
        TIFFClose(tif);
        *error = "image size out of range";
        return false;
    }
    image->width = static_cast<std::int32_t>(w);
    image->height = static_cast<std::int32_t>(h);
    bool ok = true;
    if (bits == 1 && samples == 1) {
        // A scan: each set pixel becomes one of the image colour.
        image->bilevel = true;
        image->pixels.assign(static_cast<std::size_t>(w) * h, 0);
        std::vector<std::uint8_t> line(static_cast<std::size_t>(TIFFScanlineSize(tif)));
        const bool zeroIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
        for (std::uint32_t y = 0; y < h && ok; ++y) {
            ok = TIFFReadScanline(tif, line.data(), y, 0) >= 0;
            for (std::uint32_t x = 0; x < w && ok; ++x) {
                const bool bit = (line[x / 8] >> (7 - x % 8)) & 1;
                image->pixels[static_cast<std::size_t>(y) * w + x] = (bit == zeroIsWhite) ? 1 : 0;
            }
        }
    } else {
        image->bilevel = false;
        std::vector<std::uint32_t> rgba(static_cast<std::size_t>(w) * h);
        ok = TIFFReadRGBAImageOriented(tif, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0) != 0;
        image->pixels.resize(static_cast<std::size_t>(w) * h * 3);
        for (std::size_t i = 0; i < rgba.size() && ok; ++i) {
            image->pixels[3 * i] = static_cast<std::uint8_t>(TIFFGetR(rgba[i]));
            image->pixels[3 * i + 1] = static_cast<std::uint8_t>(TIFFGetG(rgba[i]));
            image->pixels[3 * i + 2] = static_cast<std::uint8_t>(TIFFGetB(rgba[i]));
        }
    }
    TIFFClose(tif);
    if (!ok) *error = "TIFF decoding failed";
    return ok;
}

// The image the driver is drawing, and where.
struct Serving {
    const Image* image = nullptr;
    Placement placement{};
    std::uint8_t* reply = nullptr;  // low memory
    std::uint8_t* line = nullptr;   // low memory, one line of the grid
    std::size_t lineCapacity = 0;
    bool progress = false;
    std::int32_t fetched = 0;
};
Serving Current;

void ShowProgress(std::int32_t done, std::int32_t total) {
    if (!Current.progress || total <= 0) return;
    const int percent = static_cast<int>(100LL * done / total);
    std::fprintf(stderr, "\rimage %3d%% [%-40.*s]", percent, percent * 40 / 100,
                 "########################################");
    if (done >= total) std::fputs("\n", stderr);
}

// Our row fetch routine: the strip the driver asks for, resampled from the
// image (nearest pixel). Lines are counted from the bottom (or left) of the
// area; along a line the printer's raster runs right to left across the
// sheet and upwards along its long edge.
void* FetchRow(void* request) {
    const Image& im = *Current.image;
    const Placement& at = Current.placement;
    const bool alongX = LoadLe<std::int32_t>(request, 40) == 7;  // lines are columns
    const std::int32_t first = LoadLe<std::int32_t>(request, alongX ? 4 : 0);
    const std::int32_t last = LoadLe<std::int32_t>(request, alongX ? 12 : 8);
    const std::int32_t pixels = last - first + 1;
    std::memset(Current.reply, 0, 16);
    const std::size_t bytesPerPixel = im.bilevel ? 1 : 3;
    if (pixels <= 0 || static_cast<std::size_t>(pixels) * bytesPerPixel > Current.lineCapacity) {
        StoreLe<std::int16_t>(Current.reply, 14, 1);  // we cannot produce this line
        return Current.reply;
    }
    double fraction;
    if (!alongX) {
        const double mid =
            (LoadLe<std::int32_t>(request, 20) + LoadLe<std::int32_t>(request, 28)) / 2.0;
        fraction = (mid - at.y0) / (static_cast<double>(at.y1) - at.y0);
    } else {
        const double mid =
            (LoadLe<std::int32_t>(request, 16) + LoadLe<std::int32_t>(request, 24)) / 2.0;
        fraction = (mid - at.x0) / (static_cast<double>(at.x1) - at.x0);
    }
    fraction = fraction < 0 ? 0 : fraction > 0.999999 ? 0.999999 : fraction;
    for (std::int32_t p = 0; p < pixels; ++p) {
        const double along = (p + 0.5) / pixels;
        std::int32_t x, y;
        if (!alongX) {
            // Across the sheet the raster runs from the area's right edge leftwards.
            x = im.width - 1 - static_cast<std::int32_t>(along * im.width);
            y = im.height - 1 - static_cast<std::int32_t>(fraction * im.height);
        } else {
            x = static_cast<std::int32_t>(fraction * im.width);
            y = im.height - 1 - static_cast<std::int32_t>(along * im.height);
        }
        const std::size_t source = (static_cast<std::size_t>(y) * im.width + x) * bytesPerPixel;
        std::memcpy(Current.line + p * bytesPerPixel, &im.pixels[source], bytesPerPixel);
    }
    HostAddress address = 0;
    varnu::ToHostAddress(Current.line, &address);
    StoreLe<HostAddress>(Current.reply, 0, address);
    StoreLe<std::int32_t>(Current.reply, 4, static_cast<std::int32_t>(pixels * bytesPerPixel));
    ShowProgress(++Current.fetched, alongX ? im.width : im.height);
    return Current.reply;
}

std::int32_t ReleaseRow(void*) {
    return 0;
}

}  // namespace

bool LoadImage(const std::string& path, Image* image, std::string* error) {
    if (HasSuffix(path, ".png")) return LoadPng(path, image, error);
    if (HasSuffix(path, ".tif") || HasSuffix(path, ".tiff")) return LoadTiff(path, image, error);
    *error = "unknown image kind (expected .png, .tif or .tiff)";
    return false;
}

std::int16_t SendImage(const Image& image, const Placement& placement, bool progress) {
    Current = Serving{};
    Current.image = &image;
    Current.placement = placement;
    Current.progress = progress && isatty(STDERR_FILENO);
    // A line of the grid is at most the longer side at 16 times the source.
    Current.lineCapacity = static_cast<std::size_t>(1) << 26;
    Current.reply = static_cast<std::uint8_t*>(LowAllocate(16));
    Current.line = static_cast<std::uint8_t*>(LowAllocate(Current.lineCapacity));
    if (Current.reply == nullptr || Current.line == nullptr) return -1;

    Packet p(52);
    HostAddress fetch = 0, release = 0;
    varnu::FunctionToHostAddress(&FetchRow, &fetch);
    varnu::FunctionToHostAddress(&ReleaseRow, &release);
    p.Set<HostAddress>(4, fetch).Set<HostAddress>(8, release).Set<std::uint32_t>(12, 1);
    p.Set<std::int32_t>(16, placement.x0).Set<std::int32_t>(20, placement.y0);
    p.Set<std::int32_t>(24, placement.x1).Set<std::int32_t>(28, placement.y1);
    // Pixel kind 0 with one bit for scans, kind 2 with 24 bits for colour.
    p.Set<std::int32_t>(32, image.bilevel ? 0 : 2);
    p.Set<std::int32_t>(36, image.width).Set<std::int32_t>(40, image.height);
    p.Set<std::int16_t>(44, placement.transparent ? 1 : 0);
    p.Set<std::int16_t>(46, image.bilevel ? 1 : 24);
    p.Set<std::int16_t>(48, placement.colour);
    return SendPlot(p);
}

}  // namespace adihost
