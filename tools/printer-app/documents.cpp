// The documents the host library reads (PDF, JPEG, PNG, HP-GL/2), by the
// job's document format, through the one document path: every page checked
// on its sheet before the first is sent, so a job that would fail on a
// later page sends nothing.
#include "readers/documents.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "driver.h"
#include "jobs.h"
#include "model/nesting.h"
#include "roll.h"
#include "settings.h"

namespace varnu::printer_app {

namespace {

// print-scaling: "fit" and "fill" fit every page to the sheet, "none"
// keeps their size, "auto" and "auto-fit" keep the size of a page that fits.
host::Scaling Scaling(pappl_scaling_t scaling) {
    if (scaling == PAPPL_SCALING_FIT || scaling == PAPPL_SCALING_FILL) return host::Scaling::Fit;
    return scaling == PAPPL_SCALING_NONE ? host::Scaling::None : host::Scaling::Auto;
}

// The job's pages of the document (page-ranges), from 0.
std::vector<int> Pages(const pappl_pr_options_t& options, int count) {
    std::vector<int> pages;
    const int last = std::min(static_cast<int>(options.last_page), count);
    for (int page = static_cast<int>(options.first_page); page <= last; ++page)
        pages.push_back(page - 1);
    return pages;
}

// With varnu-nesting across-roll, on the roll: the pages nested across it,
// one sheet; else none.
bool Nested(pappl_job_t* job, const pappl_pr_options_t& options, host::Document& document,
            const std::vector<int>& pages, std::unique_ptr<host::Document>* nested,
            std::string* error) {
    if (JobVendorValue(job, options, kNestingAttribute) != "across-roll" || !OnTheRoll(job))
        return true;
    std::vector<host::Area> sizes;
    for (const int index : pages) {
        const std::optional<host::Area> size = document.PageSize(index);
        if (!size) {
            *error = "pages are nested by their own size, which this document's have not";
            return false;
        }
        sizes.push_back(*size);
    }
    constexpr double kMm = 1 / 25.4;
    const int margin = std::atoi(JobVendorValue(job, options, kSheetMarginAttribute).c_str());
    const double gap = std::atoi(JobVendorValue(job, options, kNestingGapAttribute).c_str()) * kMm;
    const bool mayTurn = JobVendorValue(job, options, kRollRotationAttribute) != "never";
    host::Nest nest;
    if (!host::NestPages(sizes, LoadedRollWidth(papplJobGetPrinter(job)) - 2 * margin * kMm, gap,
                         mayTurn, &nest, error))
        return false;
    *nested = std::make_unique<host::NestedPages>(document, pages, std::move(nest));
    return true;
}

}  // namespace

bool PrintDocumentFile(pappl_job_t* job, pappl_device_t* device, void*) {
    const char* file = papplJobGetFilename(job);
    if (file == nullptr) return papplJobIsCanceled(job);  // cancelled before it began
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
    host::DocumentOptions asked;
    asked.scaling = Scaling(options->print_scaling);
    papplJobDeletePrintOptions(options);
    std::string error;
    const std::unique_ptr<host::Document> document =
        host::OpenDocument(file, papplJobGetFormat(job), asked, &error);
    if (document == nullptr) {
        JobFailed(job, error);
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    options = papplJobCreatePrintOptions(job, static_cast<unsigned>(document->pages()), false);
    papplJobSetImpressions(job, static_cast<int>(options->num_pages));
    DeviceJob out(job, device);
    const std::vector<int> pages = Pages(*options, document->pages());
    std::unique_ptr<host::Document> nested;
    const bool sent = Nested(job, *options, *document, pages, &nested, &error) &&
                      (nested ? out.Print(*nested, *options, {0}, 1, 0, &error)
                              : out.Print(*document, *options, pages, 1, 0, &error)) &&
                      out.Finish(&error);
    papplJobDeletePrintOptions(options);
    if (!sent && !out.canceled()) JobFailed(job, error);
    return sent || out.canceled();
}

}  // namespace varnu::printer_app
