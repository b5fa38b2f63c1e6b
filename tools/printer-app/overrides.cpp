#include "overrides.h"

#include <cstring>
#include <string>

#include "readers/ipp_media.h"
#include "settings.h"

namespace varnu::printer_app {

namespace {

bool InRanges(ipp_attribute_t* ranges, int value) {
    for (int i = 0; i < ippGetCount(ranges); ++i) {
        int upper = 0;
        const int lower = ippGetRange(ranges, i, &upper);
        if (value >= lower && value <= upper) return true;
    }
    return false;
}

// A page's media from an override's media or media-col; false when it
// names none the printer has.
bool OverrideMedia(ipp_t* col, pappl_media_col_t* media) {
    if (const char* name = ippGetString(ippFindAttribute(col, "media", IPP_TAG_ZERO), 0, nullptr)) {
        const pwg_media_t* pwg = pwgMediaForPWG(name);
        if (pwg == nullptr) return false;
        std::strncpy(media->size_name, pwg->pwg, sizeof media->size_name - 1);
        media->size_width = pwg->width;
        media->size_length = pwg->length;
    }
    ipp_t* mediaCol = ippGetCollection(ippFindAttribute(col, "media-col", IPP_TAG_ZERO), 0);
    if (mediaCol == nullptr) return true;
    ipp_t* size =
        ippGetCollection(ippFindAttribute(mediaCol, "media-size", IPP_TAG_BEGIN_COLLECTION), 0);
    if (size != nullptr) {
        media->size_width = ippGetInteger(ippFindAttribute(size, "x-dimension", IPP_TAG_ZERO), 0);
        media->size_length = ippGetInteger(ippFindAttribute(size, "y-dimension", IPP_TAG_ZERO), 0);
        const char* name =
            ippGetString(ippFindAttribute(mediaCol, "media-size-name", IPP_TAG_ZERO), 0, nullptr);
        const pwg_media_t* pwg = pwgMediaForSize(media->size_width, media->size_length);
        std::strncpy(media->size_name,
                     name != nullptr  ? name
                     : pwg != nullptr ? pwg->pwg
                                      : "",
                     sizeof media->size_name - 1);
    }
    if (const char* type =
            ippGetString(ippFindAttribute(mediaCol, "media-type", IPP_TAG_ZERO), 0, nullptr))
        std::strncpy(media->type, type, sizeof media->type - 1);
    return true;
}

// Whether one override collection is one the printer honours.
bool Honoured(ipp_t* col, pappl_printer_t* printer) {
    bool hasPages = false;
    for (ipp_attribute_t* a = ippFirstAttribute(col); a != nullptr; a = ippNextAttribute(col)) {
        const std::string name = ippGetName(a) != nullptr ? ippGetName(a) : "";
        if (name == "pages" || name == "document-numbers" || name == "document-number") {
            if (ippGetValueTag(a) != IPP_TAG_RANGE) return false;
            hasPages = hasPages || name == "pages";
            if (name != "pages" && !InRanges(a, 1)) return false;  // one document a job
            continue;
        }
        bool known = false;
        for (const char* overridable : kOverridable) known = known || name == overridable;
        if (!known || ippGetCount(a) != 1) return false;
    }
    pappl_media_col_t media{};
    if (!hasPages || !OverrideMedia(col, &media)) return false;
    if (media.size_width != 0 && !ChoosePaper(media.size_name, media.size_width, media.size_length))
        return false;
    const int quality = ippGetInteger(ippFindAttribute(col, "print-quality", IPP_TAG_ZERO), 0);
    if (quality != 0 && (quality < IPP_QUALITY_DRAFT || quality > IPP_QUALITY_HIGH)) return false;
    if (ipp_attribute_t* r = ippFindAttribute(col, "printer-resolution", IPP_TAG_ZERO)) {
        ipp_res_t units;
        int y = 0;
        const int x = ippGetResolution(r, 0, &y, &units);
        pappl_pr_driver_data_t data;
        papplPrinterGetDriverData(printer, &data);
        bool offered = false;
        for (int i = 0; i < data.num_resolution; ++i)
            offered = offered || (x == data.x_resolution[i] && y == data.y_resolution[i]);
        if (!offered || units != IPP_RES_PER_INCH) return false;
    }
    return true;
}

}  // namespace

ipp_t* PageOverride(pappl_job_t* job, unsigned page) {
    ipp_attribute_t* overrides = papplJobGetAttribute(job, "overrides");
    for (int i = 0; i < ippGetCount(overrides); ++i) {
        ipp_t* col = ippGetCollection(overrides, i);
        if (InRanges(ippFindAttribute(col, "pages", IPP_TAG_RANGE), static_cast<int>(page)))
            return col;
    }
    return nullptr;
}

pappl_pr_options_t PageOptions(pappl_job_t* job, const pappl_pr_options_t& options, unsigned page) {
    pappl_pr_options_t own = options;
    ipp_t* col = PageOverride(job, page);
    if (col == nullptr) return own;
    OverrideMedia(col, &own.media);
    if (const int quality = ippGetInteger(ippFindAttribute(col, "print-quality", IPP_TAG_ZERO), 0))
        own.print_quality = static_cast<ipp_quality_t>(quality);
    if (const char* scaling =
            ippGetString(ippFindAttribute(col, "print-scaling", IPP_TAG_ZERO), 0, nullptr))
        own.print_scaling = std::strcmp(scaling, "fit") == 0    ? PAPPL_SCALING_FIT
                            : std::strcmp(scaling, "fill") == 0 ? PAPPL_SCALING_FILL
                            : std::strcmp(scaling, "none") == 0 ? PAPPL_SCALING_NONE
                                                                : PAPPL_SCALING_AUTO;
    return own;
}

bool OverridesOffered(pappl_client_t* client, pappl_printer_t* printer) {
    ipp_attribute_t* overrides =
        ippFindAttribute(papplClientGetRequest(client), "overrides", IPP_TAG_ZERO);
    if (overrides == nullptr) return true;
    bool honoured = ippGetValueTag(overrides) == IPP_TAG_BEGIN_COLLECTION;
    for (int i = 0; honoured && i < ippGetCount(overrides); ++i)
        honoured = Honoured(ippGetCollection(overrides, i), printer);
    if (!honoured) papplClientRespondIPPUnsupported(client, overrides);
    return honoured;
}

}  // namespace varnu::printer_app
