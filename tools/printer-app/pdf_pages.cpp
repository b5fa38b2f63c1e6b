// PDF documents through the host library's banded renderer, page by page.
#include "jobs.h"
#include "readers/pdf.h"

namespace varnu::printer_app {

namespace {

// print-scaling: "none" keeps the page's size; "fit" and "fill" fit it to
// the sheet; "auto" and "auto-fit" keep the size when the page fits.
bool PagePlot(const host::PdfDocument& document, int index, const host::Sheet& sheet, int dpi,
              pappl_scaling_t scaling, host::Plot* plot, std::string* error) {
    host::PdfOptions pdf;
    pdf.rotateAuto = true;
    pdf.progress = false;
    pdf.fit = scaling == PAPPL_SCALING_FIT || scaling == PAPPL_SCALING_FILL;
    const bool own = document.PagePlot(index, sheet, dpi, pdf, plot, error);
    if (own || pdf.fit || scaling == PAPPL_SCALING_NONE) return own;
    pdf.fit = true;
    error->clear();
    return document.PagePlot(index, sheet, dpi, pdf, plot, error);
}

}  // namespace

bool PrintPdf(pappl_job_t* job, pappl_device_t* device, void*) {
    if (!FirstRun(job)) return true;  // not reached: the second run ends there
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
    bool sent = true;
    const int dpi = options->printer_resolution[0];
    const pappl_scaling_t scaling = options->print_scaling;
    for (unsigned page = options->first_page;
         sent && page <= options->last_page && page <= static_cast<unsigned>(document.pages());
         ++page) {
        sent = out.Page(
            *options, dpi,
            [&](const host::Sheet& sheet, host::Plot* plot, std::string* e) {
                host::Plot drawn;
                if (!PagePlot(document, static_cast<int>(page) - 1, sheet, dpi, scaling, &drawn, e))
                    return false;
                *plot = Cancellable(drawn, out);
                return true;
            },
            &error);
        if (sent) papplJobSetImpressionsCompleted(job, 1);
    }
    sent = sent && out.Finish(&error);
    papplJobDeletePrintOptions(options);
    if (!sent && !out.canceled()) JobFailed(job, error);
    return sent || out.canceled();
}

}  // namespace varnu::printer_app
