// The documents the host library reads (PDF, JPEG, PNG, HP-GL/2), by the
// job's document format, through the one document path: every page checked
// on its sheet before the first is sent, so a job that would fail on a
// later page sends nothing.
#include "readers/documents.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "jobs.h"
#include "nests.h"
#include "pappl_hooks.h"

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

}  // namespace

JobDocument::~JobDocument() {
    if (options != nullptr) papplJobDeletePrintOptions(options);
}

bool OpenJobDocument(pappl_job_t* job, JobDocument* opened, std::string* error) {
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, false);
    host::DocumentOptions asked;
    asked.scaling = Scaling(options->print_scaling);
    papplJobDeletePrintOptions(options);
    // Another job's (a nest's) may be cancelled meanwhile.
    const std::string file = JobFile(job);
    if (file.empty()) {
        *error = "the job has no document (cancelled)";
        return false;
    }
    opened->document = host::OpenDocument(file, papplJobGetFormat(job), asked, error);
    if (opened->document == nullptr) return false;
    const int count = opened->document->pages();
    opened->options = papplJobCreatePrintOptions(job, static_cast<unsigned>(count), false);
    opened->pages = Pages(*opened->options, count);
    return true;
}

bool PrintDocumentFile(pappl_job_t* job, pappl_device_t* device, void*) {
    if (papplJobGetFilename(job) == nullptr)
        return papplJobIsCanceled(job);  // cancelled before it began
    if (PrintedInNest(job)) return true;
    std::string error;
    JobDocument opened;
    if (!OpenJobDocument(job, &opened, &error)) {
        JobFailed(job, error);
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    papplJobSetImpressions(job, static_cast<int>(opened.options->num_pages));
    DeviceJob out(job, device);
    const bool sent = PrintPages(out, *opened.options, *opened.document, opened.pages, &error);
    if (!sent && !out.canceled()) JobFailed(job, error);
    return sent || out.canceled();
}

}  // namespace varnu::printer_app
