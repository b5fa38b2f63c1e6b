#include "adihost/images.h"

#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "adihost/host.h"
#include "varnu/adi_abi.h"
#include "varnu/byte_order.h"
#include "varnu/packet_layouts.h"

namespace adihost {

namespace {

using varnu::HostAddress;
using varnu::LoadLe;
using varnu::StoreLe;

// What libtiff may allocate at once for one strip or tile.
constexpr tmsize_t kMaxTiffAllocation = tmsize_t{256} << 20;

bool HasSuffix(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}

// What a PNG's header says of its pixels as stored.
struct PngHeader {
    int bitDepth = 8, colourType = PNG_COLOR_TYPE_RGB;
    bool OneBitGrey() const { return bitDepth == 1 && colourType == PNG_COLOR_TYPE_GRAY; }
    // Bits a pixel takes in the file's rows before compression.
    std::uint64_t BitsPerPixel() const {
        const int channels = colourType == PNG_COLOR_TYPE_RGB          ? 3
                             : colourType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                             : colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                       : 1;
        return static_cast<std::uint64_t>(channels) * static_cast<std::uint64_t>(bitDepth);
    }
};

PngHeader ReadPngHeader(const std::string& path) {
    PngHeader header;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return header;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_read_info(png, info);
        header.bitDepth = png_get_bit_depth(png, info);
        header.colourType = png_get_color_type(png, info);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return header;
}

bool SizeRefused(std::uint64_t width, std::uint64_t height, std::string* error) {
    if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide ||
        width * height > kMaxImagePixels) {
        *error = "image of " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels refused (at most " + std::to_string(kMaxImagePixels) + " pixels and " +
                 std::to_string(kMaxImageSide) + " a side)";
        return true;
    }
    return false;
}

}  // namespace

bool LoadPng(const std::string& path, Image* image, std::string* error) {
    const PngHeader header = ReadPngHeader(path);
    const bool scan = header.OneBitGrey();
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        *error = std::string("not a readable PNG: ") + png.message;
        return false;
    }
    png.format = scan ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    if (SizeRefused(png.width, png.height, error)) {
        png_image_free(&png);
        return false;
    }
    // Deflate packs at most 1032 bytes into one: a header that declares more
    // rows than the file can hold is refused before anything is allocated.
    std::error_code ec;
    const std::uint64_t fileSize = std::filesystem::file_size(path, ec);
    const std::uint64_t rawBytes =
        static_cast<std::uint64_t>(png.height) *
        ((static_cast<std::uint64_t>(png.width) * header.BitsPerPixel() + 7) / 8 + 1);
    if (ec || rawBytes / 1032 > fileSize) {
        png_image_free(&png);
        *error = "the PNG declares " + std::to_string(png.width) + " x " +
                 std::to_string(png.height) + " pixels, more than its " + std::to_string(fileSize) +
                 " bytes can hold";
        return false;
    }
    image->width = static_cast<std::int32_t>(png.width);
    image->height = static_cast<std::int32_t>(png.height);
    image->pixels.resize(PNG_IMAGE_SIZE(png));
    // What is transparent lies on white paper: libpng composites alpha onto
    // this background (black without one).
    const png_color paper = {255, 255, 255};
    if (!png_image_finish_read(&png, &paper, image->pixels.data(), 0, nullptr)) {
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
    std::uint16_t bits = 0, samples = 1, photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (SizeRefused(w, h, error)) {
        TIFFClose(tif);
        return false;
    }
    image->width = static_cast<std::int32_t>(w);
    image->height = static_cast<std::int32_t>(h);
    image->pixels.clear();
    // Pixels are kept as rows arrive: a file whose data ends early fails
    // having taken only what it held.
    bool ok = true;
    if (bits == 1 && samples == 1 && !TIFFIsTiled(tif)) {
        // A scan: each set pixel becomes one of the image colour.
        image->bilevel = true;
        const tmsize_t lineSize = TIFFScanlineSize(tif);
        ok = lineSize >= static_cast<tmsize_t>((w + 7) / 8);
        std::vector<std::uint8_t> line(ok ? static_cast<std::size_t>(lineSize) : 0);
        const bool zeroIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
        for (std::uint32_t y = 0; y < h && ok; ++y) {
            ok = TIFFReadScanline(tif, line.data(), y, 0) >= 0;
            for (std::uint32_t x = 0; x < w && ok; ++x) {
                const bool bit = (line[x / 8] >> (7 - x % 8)) & 1;
                image->pixels.push_back(bit == zeroIsWhite ? 1 : 0);
            }
        }
    } else {
        image->bilevel = false;
        char message[1024] = "";
        TIFFRGBAImage rgba;
        ok = TIFFRGBAImageOK(tif, message) && TIFFRGBAImageBegin(&rgba, tif, 0, message) != 0;
        if (ok) {
            rgba.req_orientation = ORIENTATION_TOPLEFT;
            // A band of rows at a time, about a million pixels.
            const std::uint32_t band = std::max<std::uint32_t>(1, (1u << 20) / w);
            std::vector<std::uint32_t> raster;
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
        }
    }
    TIFFClose(tif);
    if (!ok) {
        image->pixels.clear();
        image->pixels.shrink_to_fit();
        *error = "TIFF decoding failed";
    }
    return ok;
}

namespace {

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

std::int16_t SendImage(const Image& image, const Placement& placement, bool progress,
                       std::string* why) {
    Current = Serving{};
    Current.image = &image;
    Current.placement = placement;
    Current.progress = progress && isatty(STDERR_FILENO);
    // A line of the grid is at most the longer side at 16 times the source.
    Current.lineCapacity = static_cast<std::size_t>(1) << 26;
    Current.reply = static_cast<std::uint8_t*>(LowAllocate(16));
    Current.line = static_cast<std::uint8_t*>(LowAllocate(Current.lineCapacity));
    if (Current.reply == nullptr || Current.line == nullptr) {
        *why = "no low memory left for the image's lines";
        return -1;
    }

    Packet p =
        ImageRequest(placement, &FetchRow, &ReleaseRow, image.width, image.height, image.bilevel);
    return SendPlot(p);
}

Packet ImageRequest(const Placement& placement, void* (*fetch)(void*),
                    std::int32_t (*release)(void*), std::int32_t width, std::int32_t height,
                    bool bilevel) {
    namespace img = varnu::layout::image;
    HostAddress fetchAddress = 0, releaseAddress = 0;
    varnu::FunctionToHostAddress(fetch, &fetchAddress);
    varnu::FunctionToHostAddress(release, &releaseAddress);
    Packet p(52);
    p.Set<HostAddress>(img::kFetch, fetchAddress)
        .Set<HostAddress>(img::kRelease, releaseAddress)
        .Set<std::uint32_t>(img::kHandle, 1);
    p.Set<std::int32_t>(img::kCorners, placement.x0)
        .Set<std::int32_t>(img::kCorners + 4, placement.y0)
        .Set<std::int32_t>(img::kCorners + 8, placement.x1)
        .Set<std::int32_t>(img::kCorners + 12, placement.y1);
    // Pixel kind 0 with one bit for scans, kind 2 with 24 bits for colour.
    p.Set<std::int32_t>(img::kKind, bilevel ? 0 : 2)
        .Set<std::int32_t>(img::kSourceWidth, width)
        .Set<std::int32_t>(img::kSourceHeight, height);
    p.Set<std::int16_t>(img::kTransparent, placement.transparent ? 1 : 0)
        .Set<std::int16_t>(img::kBits, bilevel ? 1 : 24)
        .Set<std::int16_t>(img::kColour, placement.colour);
    return p;
}

}  // namespace adihost
