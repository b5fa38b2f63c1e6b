// JPEG and PNG documents: decoded into memory by the host library and fitted to the sheet as
// `adihost plot` fits an image, so that the same image and settings make the same stream.
#include "readers/images.h"

#include <cstring>

#include "jobs.h"
#include "model/image_placement.h"
#include "overrides.h"
#include "settings.h"

namespace varnu::printer_app {

bool PrintImage(pappl_job_t* job, pappl_device_t* device, void*) {
    const char* file = papplJobGetFilename(job);
    if (file == nullptr) return papplJobIsCanceled(job);  // cancelled before it began
    const std::string path = file;
    const bool jpeg = std::strcmp(papplJobGetFormat(job), "image/jpeg") == 0;
    host::Image image;
    std::string error;
    papplJobSetImpressions(job, 1);
    if (!(jpeg ? host::LoadJpeg(path, &image, &error) : host::LoadPng(path, &image, &error))) {
        JobFailed(job, error);
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
    const pappl_pr_options_t page = PageOptions(job, *options, 1);
    DeviceJob out(job, device);
    const bool sent =
        out.Page(
            page, JobResolution(job, page, 1),
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
