#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "readers/images.h"

namespace varnu::host {

namespace {

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
    if (ImageSizeRefused(png.width, png.height, error)) {
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

}  // namespace varnu::host
