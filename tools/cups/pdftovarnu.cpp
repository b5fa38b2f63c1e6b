// pdftovarnu: the CUPS filter of the Varnu 4820/4810 for PDF documents.
// Takes the PDF straight from CUPS (no pdftopdf, no Ghostscript) and draws
// it with the host library's own renderer, as `adihost plot` and the
// printer application do, so that the same document and settings make the
// same stream. The settings are the page header the PPD's choices and the
// job's options make, read as rastertovarnu reads a raster page's; each
// page of page-ranges is checked before the first is sent, then sent as a
// job of its own as soon as it is done, whole.
//
//   pdftovarnu job user title copies options [file]
#include <string>
#include <vector>

#include "model/send.h"
#include "readers/cups_page.h"
#include "readers/pdf.h"
#include "session/cups_filter.h"

namespace {

using namespace varnu::host;

// print-scaling, or the older fit-to-page; auto when neither is given.
bool ReadScaling(const FilterOptions& options, PdfScaling* scaling, std::string* error) {
    const std::string s = options["print-scaling"], fit = options["fit-to-page"];
    if (s.empty() || s == "auto" || s == "auto-fit")
        *scaling = PdfScaling::Auto;
    else if (s == "fit" || s == "fill")
        *scaling = PdfScaling::Fit;
    else if (s == "none")
        *scaling = PdfScaling::None;
    else {
        *error = "print-scaling \"" + s + "\" is not offered (auto, auto-fit, fit, fill, none)";
        return false;
    }
    if (s.empty() && (fit == "true" || fit == "yes" || fit == "on")) *scaling = PdfScaling::Fit;
    return true;
}

int Run(int argc, char** argv) {
    FilterJob job;
    std::string error, path;
    const FilterOptions options(argv[5]);
    ConfigureOptions settings;
    PdfScaling scaling = PdfScaling::Auto;
    if (!job.Open(&error) || !JobSettings(options, argv[4], &settings, &error) ||
        !ReadScaling(options, &scaling, &error) || !DocumentPath(argc, argv, &path, &error))
        return FilterFailed(error);
    PdfDocument document;
    std::vector<int> pages;
    std::vector<PdfOptions> drawn;
    Sheet sheet;
    const int dpi = settings.resolution.value_or(0);
    if (!document.Open(path, &error) ||
        !PageRanges(options["page-ranges"], document.pages(), &pages, &error) ||
        !job.Sheet(settings, &sheet, &error) ||
        !PlanPages(document, pages, sheet, dpi, scaling, &drawn, &error))
        return FilterFailed(error);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const bool sent = job.Page(
            pages[i] + 1, settings,
            [&](const Sheet& jobSheet, std::string* e) {
                Plot plot;
                return document.PagePlot(pages[i], jobSheet, dpi, drawn[i], &plot, e) &&
                       Send(plot, false, e);
            },
            &error);
        if (!sent) return FilterFailed(error + (i > 0 ? "; the pages before it went out" : ""));
    }
    return job.Finish(&error) ? 0 : FilterFailed(error);
}

}  // namespace

// Under LeakSanitizer (the asan build): libcups 2.4 leaks two options it
// adds while cupsMarkOptions builds a PPD's cache (libcups has no frame
// pointers: the leak is seen in cupsAddOption).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:cupsAddOption\n";
}

int main(int argc, char** argv) {
    return FilterMain(argc, argv, "pdftovarnu", Run);
}
