// PDF documents through the host library's banded renderer, page by page.
// Every page is checked against the sheet before the first is sent, so a
// job that would fail on a later page sends nothing.
#include <algorithm>
#include <vector>

#include "jobs.h"
#include "readers/pdf.h"
#include "settings.h"

namespace varnu::printer_app {

namespace {

// print-scaling as the host library's: "fit" and "fill" fit every page to
// the sheet, "none" keeps their size, "auto" and "auto-fit" keep the size
// of a page that fits.
host::PdfScaling Scaling(pappl_scaling_t scaling) {
    if (scaling == PAPPL_SCALING_FIT || scaling == PAPPL_SCALING_FILL) return host::PdfScaling::Fit;
    return scaling == PAPPL_SCALING_NONE ? host::PdfScaling::None : host::PdfScaling::Auto;
}

// Pre-flight, then each page a driver job of its own.
bool SendPages(const host::PdfDocument& document, const pappl_pr_options_t& options, DeviceJob* out,
               std::string* error) {
    const int dpi = JobResolution(out->job(), options);
    const int first = static_cast<int>(options.first_page) - 1;
    const int last = std::min(static_cast<int>(options.last_page), document.pages()) - 1;
    std::vector<int> indexes;
    for (int index = first; index <= last; ++index) indexes.push_back(index);
    host::Sheet sheet;
    std::vector<host::PdfOptions> pages;
    if (!out->Sheet(options, dpi, &sheet, error) ||
        !host::PlanPages(document, indexes, sheet, dpi, Scaling(options.print_scaling), &pages,
                         error))
        return false;
    for (int index = first; index <= last; ++index) {
        const bool sent = out->Page(
            options, dpi,
            [&](const host::Sheet& jobSheet, host::Plot* plot, std::string* e) {
                host::Plot drawn;
                if (!document.PagePlot(index, jobSheet, dpi, pages[index - first], &drawn, e))
                    return false;
                *plot = Cancellable(drawn, *out);
                return true;
            },
            error);
        if (!sent) {
            *error += host::PagesSentNote(first, index - first);
            return false;
        }
        papplJobSetImpressionsCompleted(out->job(), 1);
    }
    return true;
}

}  // namespace

bool PrintPdf(pappl_job_t* job, pappl_device_t* device, void*) {
    const char* file = papplJobGetFilename(job);
    if (file == nullptr) return papplJobIsCanceled(job);  // cancelled before it began
    host::PdfDocument document;
    std::string error;
    if (!document.Open(file, &error)) {
        JobFailed(job, error);
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    pappl_pr_options_t* options =
        papplJobCreatePrintOptions(job, static_cast<unsigned>(document.pages()), false);
    papplJobSetImpressions(job, static_cast<int>(options->num_pages));
    DeviceJob out(job, device);
    const bool sent = SendPages(document, *options, &out, &error) && out.Finish(&error);
    papplJobDeletePrintOptions(options);
    if (!sent && !out.canceled()) JobFailed(job, error);
    return sent || out.canceled();
}

}  // namespace varnu::printer_app
