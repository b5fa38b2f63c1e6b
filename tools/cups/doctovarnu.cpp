// The CUPS filters of the Varnu 4820/4810 for documents: pdftovarnu (PDF),
// imagetovarnu (PNG, JPEG, TIFF), hpgltovarnu (HP-GL/2 plot files) and
// dxftovarnu (DXF drawings) are this one program under their names.
// The document comes straight from CUPS (no pdftopdf, imagetoraster or
// Ghostscript) to the host library's one document path, as in adihost and
// the printer application, so that the same document and settings make the
// same stream. The settings are the page header the PPD's choices and the
// job's options make, read as rastertovarnu reads a raster page's; the
// pages of page-ranges are each checked before the first is sent, then
// sent as a job of their own as soon as each is done, whole.
//
//   pdftovarnu job user title copies options [file]
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "model/print.h"
#include "readers/cups_page.h"
#include "readers/documents.h"
#include "session/cups_filter.h"

namespace {

using namespace varnu::host;

// print-scaling, or the older fit-to-page; auto when neither is given.
bool ReadScaling(const FilterOptions& options, Scaling* scaling, std::string* error) {
    const std::string s = options["print-scaling"], fit = options["fit-to-page"];
    if (s.empty() || s == "auto" || s == "auto-fit")
        *scaling = Scaling::Auto;
    else if (s == "fit" || s == "fill")
        *scaling = Scaling::Fit;
    else if (s == "none")
        *scaling = Scaling::None;
    else {
        *error = "print-scaling \"" + s + "\" is not offered (auto, auto-fit, fit, fill, none)";
        return false;
    }
    if (s.empty() && (fit == "true" || fit == "yes" || fit == "on")) *scaling = Scaling::Fit;
    return true;
}

// The document as CUPS says it is (CONTENT_TYPE), whatever its name.
std::string ContentType() {
    const char* type = std::getenv("CONTENT_TYPE");
    return type != nullptr ? type : "";
}

int Run(int argc, char** argv) {
    FilterJob job;
    std::string error, path;
    const FilterOptions options(argv[5]);
    ConfigureOptions settings;
    DocumentOptions asked;
    if (!job.Open(&error) || !JobSettings(options, argv[4], &settings, &error) ||
        !ReadScaling(options, &asked.scaling, &error) || !DocumentPath(argc, argv, &path, &error))
        return FilterFailed(error);
    const std::unique_ptr<Document> document = OpenDocument(path, ContentType(), asked, &error);
    PrintRequest request;
    if (document == nullptr ||
        !PageRanges(options["page-ranges"], document->pages(), &request.pages, &error))
        return FilterFailed(error);
    request.copies = settings.copies.value_or(1);
    request.configure = [&](int index, int copies, int* dpi, std::string* e) {
        ConfigureOptions page = settings;
        page.copies = copies;
        *dpi = page.resolution.value_or(0);
        return job.Configure(index + 1, page, e);
    };
    request.starting = [&](int index) { job.Starting(index + 1); };
    request.sent = [&](int index, int copies) { job.Sent(index + 1, copies); };
    PrintReport report;
    if (!PrintDocument(*document, request, job.session(), &report, &error))
        return FilterFailed(error);
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
    const char* name = std::strrchr(argv[0], '/');
    return FilterMain(argc, argv, name != nullptr ? name + 1 : argv[0], Run);
}
