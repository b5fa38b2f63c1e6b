#include "job_checks.h"

#include <cstring>
#include <string>

#include "overrides.h"
#include "readers/ipp_media.h"
#include "settings.h"
#include "varnu/printer_tables.h"

namespace varnu::printer_app {

namespace {

// A name the client sent, kept without its control characters.
void KeepPrintable(ipp_t* request, const char* name) {
    ipp_attribute_t* attribute = ippFindAttribute(request, name, IPP_TAG_ZERO);
    if (attribute == nullptr || ippGetCount(attribute) != 1) return;
    const char* text = ippGetString(attribute, 0, nullptr);
    if (text != nullptr && !IsPrintable(text))
        ippSetString(request, &attribute, 0, Printable(text).c_str());
}

bool VendorValuesOffered(pappl_client_t* client, pappl_printer_t* printer) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    bool valid = true;
    for (int i = 0; i < data.num_vendor; ++i) {
        ipp_attribute_t* a =
            ippFindAttribute(papplClientGetRequest(client), data.vendor[i], IPP_TAG_ZERO);
        if (a == nullptr) continue;
        char value[256];
        if (ippGetCount(a) != 1 || ippGetGroupTag(a) != IPP_TAG_JOB ||
            ippAttributeString(a, value, sizeof value) >= sizeof value ||
            !VendorValueOffered(printer, data.vendor[i], value)) {
            papplClientRespondIPPUnsupported(client, a);
            valid = false;
        }
    }
    return valid;
}

// The size a media keyword or a media-col names, in hundredths of mm.
bool RequestedSize(ipp_t* request, std::string* name, int* width, int* length,
                   ipp_attribute_t** attribute) {
    if ((*attribute = ippFindAttribute(request, "media", IPP_TAG_ZERO)) != nullptr) {
        const char* keyword = ippGetString(*attribute, 0, nullptr);
        const pwg_media_t* pwg = keyword != nullptr ? pwgMediaForPWG(keyword) : nullptr;
        if (pwg == nullptr) return false;
        *name = pwg->pwg;
        *width = pwg->width;
        *length = pwg->length;
        return true;
    }
    if ((*attribute = ippFindAttribute(request, "media-col", IPP_TAG_BEGIN_COLLECTION)) == nullptr)
        return false;
    ipp_t* col = ippGetCollection(*attribute, 0);
    ipp_t* size =
        ippGetCollection(ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION), 0);
    if (size == nullptr) return false;
    *width = ippGetInteger(ippFindAttribute(size, "x-dimension", IPP_TAG_INTEGER), 0);
    *length = ippGetInteger(ippFindAttribute(size, "y-dimension", IPP_TAG_INTEGER), 0);
    const char* keyword =
        ippGetString(ippFindAttribute(col, "media-size-name", IPP_TAG_ZERO), 0, nullptr);
    *name = keyword != nullptr ? keyword : "";
    return true;
}

// A size the printer has no paper or roll for is refused now, not when
// the job prints.
bool SizeOffered(pappl_client_t* client) {
    std::string name;
    int width = 0, length = 0;
    ipp_attribute_t* attribute = nullptr;
    if (!RequestedSize(papplClientGetRequest(client), &name, &width, &length, &attribute))
        return true;  // none, or PAPPL's own check refuses it
    if (ChoosePaper(name, width, length)) return true;
    papplClientRespondIPPUnsupported(client, attribute);
    return false;
}

// A finishing template the printer offers.
bool FinishingOffered(pappl_client_t* client) {
    ipp_attribute_t* finishings =
        ippFindAttribute(papplClientGetRequest(client), "finishings-col", IPP_TAG_ZERO);
    if (finishings == nullptr) return true;
    ipp_t* col = ippGetCollection(finishings, 0);
    const char* name =
        ippGetString(ippFindAttribute(col, "finishing-template", IPP_TAG_ZERO), 0, nullptr);
    const bool offered = ippGetCount(finishings) == 1 && name != nullptr &&
                         (std::strcmp(name, "none") == 0 ||
                          (varnu::Model(0)->finisher != 0 && RowOf(ProgramKeywords(), name) >= 0));
    if (!offered) papplClientRespondIPPUnsupported(client, finishings);
    return offered;
}

}  // namespace

bool CheckJobRequest(pappl_client_t* client) {
    ipp_t* request = papplClientGetRequest(client);
    pappl_printer_t* printer = papplClientGetPrinter(client);
    // PAPPL keeps them in its state file, a line each.
    KeepPrintable(request, "job-name");
    KeepPrintable(request, "requesting-user-name");
    if (printer == nullptr) return true;
    const bool vendor = VendorValuesOffered(client, printer);
    const bool finishing = FinishingOffered(client);
    const bool overrides = OverridesOffered(client, printer);
    return SizeOffered(client) && vendor && finishing && overrides;
}

}  // namespace varnu::printer_app
