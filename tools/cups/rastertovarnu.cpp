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

#include "model/send.h"
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
        // The page placed on the sheet, its lines read, drawn.
        ConfigureOptions settings;
        const bool sent =
            pages.Settings(copies, &settings, &error) &&
            job.Page(
                pages.page(), settings,
                [&pages](const Sheet& sheet, std::string* e) {
                    Plot plot;
                    return pages.ReadPage(sheet, FilterScratchDirectory(), &plot, e) &&
                           Send(plot, false, e);
                },
                &error);
        if (!sent) return FilterFailed(error);
    }
    if (pages.page() == 0) return FilterFailed("the raster stream holds no page");
    return job.Finish(&error) ? 0 : FilterFailed(error);
}

}  // namespace

int main(int argc, char** argv) {
    return FilterMain(argc, argv, "rastertovarnu", Run);
}
