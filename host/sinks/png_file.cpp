#include "sinks/png_file.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "sinks/block_deflate.h"
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

namespace {

// libpng writes through here and never stops on a failed write: the file's
// error state is checked once at the end.
void WriteBytes(png_structp png, png_bytep data, png_size_t length) {
    std::fwrite(data, 1, length, static_cast<std::FILE*>(png_get_io_ptr(png)));
}
void FlushBytes(png_structp png) {
    std::fflush(static_cast<std::FILE*>(png_get_io_ptr(png)));
}

// An IDAT chunk's data at most (the format allows 2^31 - 1 bytes).
constexpr std::size_t kMaxChunk = std::size_t{1} << 24;

}  // namespace

bool WriteGreyPng(const std::string& path, int width, int height, const PngRows& rows,
                  std::string* error, const std::string& input) {
    if (width <= 0 || height <= 0) {
        *error = "no picture to write";
        return false;
    }
    OutputFile file;
    if (!file.Open(path, input, error)) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        *error = "cannot write " + path + ": the picture is too large for a PNG";
        return false;
    }
    png_set_write_fn(png, file.stream(), WriteBytes, FlushBytes);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_write_info(png, info);
    // libpng deflates on one thread: a preview of a whole roll has billions
    // of pixels, so the image data is deflated in blocks on two and framed
    // here. zlib's fastest level matches repeats as well as runs, so
    // averaged halftones code in half the time of runs alone, and smaller.
    // Rows are unfiltered (each starts with filter type 0).
    bool deflated = false;
    {
        BlockDeflate stream(1, [png](const std::uint8_t* data, std::size_t n) {
            for (std::size_t at = 0; at < n; at += kMaxChunk)
                png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), data + at,
                                std::min(kMaxChunk, n - at));
        });
        const std::uint8_t filter = 0;
        rows([&](const std::uint8_t* row) {
            stream.Write(&filter, 1);
            stream.Write(row, static_cast<std::size_t>(width));
        });
        deflated = stream.Finish();
    }
    if (deflated) png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
    png_destroy_write_struct(&png, &info);
    if (!deflated) {
        *error = "cannot write " + path + ": out of memory";
        return false;
    }
    return file.Commit(error);
}

}  // namespace varnu::host
