// JPEG through libjpeg, decoded into memory as RGB.
// clang-format off
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <jpeglib.h>
#include <jerror.h>  // after jpeglib.h
// clang-format on

#include <csetjmp>
#include <filesystem>
#include <string>

#include "readers/images.h"

namespace varnu::host {

namespace {

// Huffman coding spends a bit at least on every 8 x 8 block: a file of n
// bytes holds at most 512 n pixels (an arithmetic-coded one is held to the
// same).
constexpr std::uint64_t kPixelsPerByte = 512;
// What libjpeg may take beside the decoded pixels (a progressive image's
// coefficients, above all).
constexpr long kDecoderMemory = 256L << 20;

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

// A file that ends before its last row is an error, not grey rows.
void JpegWarned(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) JpegFailed(info);
}

bool TooLargeForFile(const jpeg_decompress_struct& info, std::uint64_t fileSize,
                     std::string* error) {
    const std::uint64_t pixels = std::uint64_t{info.image_width} * info.image_height;
    if (pixels / kPixelsPerByte <= fileSize) return false;
    *error = "the JPEG declares " + std::to_string(info.image_width) + " x " +
             std::to_string(info.image_height) + " pixels, more than its " +
             std::to_string(fileSize) + " bytes can hold";
    return true;
}

// Decodes into `pixels` (RGB, rows top down); no C++ object is made or
// left between setjmp and a jump.
bool DecodeJpeg(std::FILE* file, std::uint64_t fileSize, Image* image, std::string* error) {
    jpeg_decompress_struct info;
    JpegError e{};
    info.err = jpeg_std_error(&e.manager);
    e.manager.error_exit = JpegFailed;
    e.manager.emit_message = JpegWarned;
    if (setjmp(e.jump) != 0) {
        jpeg_destroy_decompress(&info);
        *error = std::string("not a JPEG image it can read: ") + e.message;
        return false;
    }
    jpeg_create_decompress(&info);
    info.mem->max_memory_to_use = kDecoderMemory;
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    if (ImageSizeRefused(info.image_width, info.image_height, error) ||
        TooLargeForFile(info, fileSize, error)) {
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
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    const bool ok = !ec && DecodeJpeg(file, size, image, error);
    if (ec) *error = "cannot read the document's size";
    std::fclose(file);
    return ok;
}

}  // namespace varnu::host
