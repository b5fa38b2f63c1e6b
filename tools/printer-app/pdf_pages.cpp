// PDF documents through the host library's banded renderer, page by page.
// Every page is checked against the sheet before the first is sent, so a
// job that would fail on a later page sends nothing.
#include <algorithm>
#include <vector>

#include "jobs.h"
#include "overrides.h"
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

// A page's own settings (its override's, else the job's) and how it is
// drawn on its sheet.
struct PagePlan {
    pappl_pr_options_t options;
    int dpi = 0;
    host::PdfOptions drawing;
};

// Every page checked on its sheet before any is sent.
bool PlanAll(const host::PdfDocument& document, const pappl_pr_options_t& options, int first,
             int last, DeviceJob* out, std::vector<PagePlan>* plans, std::string* error) {
    for (int index = first; index <= last; ++index) {
        PagePlan plan;
        const unsigned page = static_cast<unsigned>(index) + 1;
        plan.options = PageOptions(out->job(), options, page);
        plan.dpi = JobResolution(out->job(), plan.options, page);
        host::Sheet sheet;
        std::vector<host::PdfOptions> drawing;
        if (!out->Sheet(plan.options, plan.dpi, &sheet, error) ||
            !host::PlanPages(document, {index}, sheet, plan.dpi,
                             Scaling(plan.options.print_scaling), &drawing, error))
            return false;
        plan.drawing = drawing.front();
        plans->push_back(plan);
    }
    return true;
}

// Pre-flight, then each page a driver job of its own.
bool SendPages(const host::PdfDocument& document, const pappl_pr_options_t& options, DeviceJob* out,
               std::string* error) {
    const int first = static_cast<int>(options.first_page) - 1;
    const int last = std::min(static_cast<int>(options.last_page), document.pages()) - 1;
    std::vector<PagePlan> plans;
    if (!PlanAll(document, options, first, last, out, &plans, error)) return false;
    for (int index = first; index <= last; ++index) {
        const PagePlan& plan = plans[static_cast<std::size_t>(index - first)];
        const bool sent = out->Page(
            plan.options, plan.dpi,
            [&](const host::Sheet& jobSheet, host::Plot* plot, std::string* e) {
                host::Plot drawn;
                if (!document.PagePlot(index, jobSheet, plan.dpi, plan.drawing, &drawn, e))
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
