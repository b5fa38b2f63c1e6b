// JPEG and PNG documents: decoded into memory (PNG by the host library,
// JPEG by libjpeg) and fitted to the sheet as `adihost plot` fits an image,
// so that the same image and settings make the same stream.
// clang-format off
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <jpeglib.h>
// clang-format on

#include "readers/images.h"

#include <csetjmp>
#include <cstring>

#include "jobs.h"
#include "model/image_placement.h"

namespace varnu::printer_app {

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
bool DecodeJpeg(std::FILE* file, host::Image* image, std::string* error) {
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
    if (host::ImageSizeRefused(info.image_width, info.image_height, error)) {
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

bool LoadJpeg(const std::string& path, host::Image* image, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open the document";
        return false;
    }
    const bool ok = DecodeJpeg(file, image, error);
    std::fclose(file);
    return ok;
}

}  // namespace

bool PrintImage(pappl_job_t* job, pappl_device_t* device, void*) {
    if (!FirstRun(job)) return true;  // not reached: the second run ends there
    const DeviceUse use(job);
    const char* file = papplJobGetFilename(job);
    if (file == nullptr) return papplJobIsCanceled(job);  // cancelled before it began
    const std::string path = file;
    const bool jpeg = std::strcmp(papplJobGetFormat(job), "image/jpeg") == 0;
    host::Image image;
    std::string error;
    papplJobSetImpressions(job, 1);
    if (!(jpeg ? LoadJpeg(path, &image, &error) : host::LoadPng(path, &image, &error))) {
        JobFailed(job, error);
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
    DeviceJob out(job, device);
    const bool sent =
        out.Page(
            *options, options->printer_resolution[0],
            [&image](const host::Sheet& sheet, host::Plot* plot, std::string* e) {
                host::Placement placement;
                bool cut = false;
                if (!host::PlaceImage(sheet, std::nullopt, &image, &placement, &cut, e))
                    return false;
                plot->DrawImage(plot->AddImage(std::move(image)), placement);
                return true;
            },
            &error) &&
        out.Finish(&error);
    papplJobDeletePrintOptions(options);
    if (sent) papplJobSetImpressionsCompleted(job, 1);
    if (!sent && !out.canceled()) JobFailed(job, error);
    return sent || out.canceled();
}

}  // namespace varnu::printer_app
