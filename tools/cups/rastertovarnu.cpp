// rastertovarnu: the CUPS filter of the Varnu 4820/4810 for CUPS raster.
// Reads CUPS raster (8-bit grey or RGB) from a file or standard input,
// configures the driver from each page header as the setup dialog would,
// sends the page as an image (a job of its own) whose lines are fed from
// the raster, and writes each page's printer stream to standard output as
// soon as that page is done, whole: a page that fails sends nothing, those
// before it stay sent. Nothing it makes has a name in the job's TMPDIR, so
// a cancelled job leaves nothing there.
//
//   rastertovarnu job user title copies options [file]
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "model/print.h"
#include "readers/cups_raster.h"
#include "session/cups_filter.h"

namespace {

using namespace varnu::host;

int Run(int argc, char** argv) {
    FilterJob job;
    std::string error;
    if (!job.Open(&error)) return FilterFailed(error);
    int fd = 0;
    if (argc == 7 && (fd = open(argv[6], O_RDONLY | O_CLOEXEC)) < 0)
        return FilterFailed(std::string("cannot open ") + argv[6] + ": " + std::strerror(errno));
    RasterPages pages(fd);
    if (!pages.Open(&error)) return FilterFailed(error);
    const int copies = std::atoi(argv[4]);
    while (pages.Next()) {
        // The page placed on the sheet, its lines read as it is drawn.
        ConfigureOptions settings;
        if (!pages.Settings(copies, &settings, &error)) return FilterFailed(error);
        DrawnPage page([&pages](const Sheet& sheet, Plot* plot, std::string* e) {
            return pages.ReadPage(sheet, FilterScratchDirectory(), plot, e);
        });
        PrintRequest request;
        request.pages = {0};
        request.firstPage = pages.page();
        request.copies = settings.copies.value_or(1);
        request.configure = [&](int, int n, int* dpi, std::string* e) {
            ConfigureOptions own = settings;
            own.copies = n;
            *dpi = own.resolution.value_or(0);
            return job.Configure(pages.page(), own, e);
        };
        request.starting = [&](int) { job.Starting(pages.page()); };
        request.sent = [&](int, int n) { job.Sent(pages.page(), n); };
        PrintReport report;
        if (!PrintDocument(page, request, job.session(), &report, &error))
            return FilterFailed(error);
    }
    if (pages.page() == 0) return FilterFailed("the raster stream holds no page");
    return job.Finish(&error) ? 0 : FilterFailed(error);
}

}  // namespace

int main(int argc, char** argv) {
    return FilterMain(argc, argv, "rastertovarnu", Run);
}
