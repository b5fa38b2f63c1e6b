// JPEG through libjpeg, decoded into memory as RGB.
// clang-format off
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <jpeglib.h>
// clang-format on

#include <csetjmp>
#include <string>

#include "readers/images.h"

namespace varnu::host {

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void JpegFailed(j_common_ptr info) {
    auto* e = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, e->message);
    std::longjmp(e->jump, 1);
}

// Decodes into `pixels` (RGB, rows top down); no C++ object is made or
// left between setjmp and a jump.
bool DecodeJpeg(std::FILE* file, Image* image, std::string* error) {
    jpeg_decompress_struct info;
    JpegError e{};
    info.err = jpeg_std_error(&e.manager);
    e.manager.error_exit = JpegFailed;
    if (setjmp(e.jump) != 0) {
        jpeg_destroy_decompress(&info);
        *error = std::string("not a JPEG image it can read: ") + e.message;
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    if (ImageSizeRefused(info.image_width, info.image_height, error)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    image->width = static_cast<std::int32_t>(info.output_width);
    image->height = static_cast<std::int32_t>(info.output_height);
    image->bilevel = false;
    image->pixels.resize(std::size_t{info.output_width} * info.output_height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row =
            image->pixels.data() + std::size_t{info.output_scanline} * info.output_width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

bool LoadJpeg(const std::string& path, Image* image, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open the document";
        return false;
    }
    const bool ok = DecodeJpeg(file, image, error);
    std::fclose(file);
    return ok;
}

}  // namespace varnu::host
