// rastertovarnu: the CUPS filter of the Varnu 4820/4810. Reads CUPS raster
// (8-bit grey or RGB) from a file or standard input, configures the driver
// from each page header as the setup dialog would, sends the page as an
// image (a job of its own) whose lines are fed from the raster, and writes
// each page's printer stream to standard output as soon as that page is
// done, whole: a page that fails sends nothing, those before it stay sent.
// Nothing it makes has a name in the job's TMPDIR, so a cancelled job
// leaves nothing there.
//
//   rastertovarnu job user title copies options [file]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "model/send.h"
#include "readers/cups_raster.h"
#include "session/config_store.h"
#include "session/configure.h"
#include "session/driver.h"
#include "session/plot_session.h"
#include "sinks/signals.h"

namespace {

using namespace varnu::host;

int Fail(const std::string& message) {
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    return 1;
}

// The job's scratch folder: CUPS gives each filter its TMPDIR.
std::string ScratchDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
}

// The page's settings through the setup dialog, and the page plotted as a
// job of its own: placed on the sheet, its lines read, drawn.
bool PrintPage(RasterPages& pages, int copies, PlotSession& session, std::string* error) {
    const std::string page = "page " + std::to_string(pages.page());
    ConfigureOptions settings;
    if (!pages.Settings(copies, &settings, error)) return false;
    std::fprintf(stderr, "INFO: Printing page %d\n", pages.page());
    std::vector<std::string> messages;
    const bool configured = Configure(settings, &messages);
    for (const std::string& m : messages) std::fprintf(stderr, "DEBUG: %s\n", m.c_str());
    if (!configured) {
        *error = page + ": the printer settings were refused";
        return false;
    }
    const bool sent = session.Job(
        "",
        [&pages](const Sheet& sheet, std::string* e) {
            Plot plot;
            return pages.ReadPage(sheet, ScratchDirectory(), &plot, e) && Send(plot, false, e);
        },
        error);
    if (!sent && *error == "the driver wrote nothing") *error = page + ": the driver wrote nothing";
    return sent;
}

int Run(int argc, char** argv) {
    if (argc < 6 || argc > 7) {
        std::fputs("Usage: rastertovarnu job user title copies options [file]\n", stderr);
        return 1;
    }
    InstallSignalCleanup();
    int fd = 0;
    if (argc == 7 && (fd = open(argv[6], O_RDONLY | O_CLOEXEC)) < 0)
        return Fail(std::string("cannot open ") + argv[6] + ": " + std::strerror(errno));
    UseConfigMemory();  // the job's own record
    std::string error;
    if (!InstallHost(&error)) return Fail(error);
    EchoMessages(false);  // the driver's messages are not the job's
    PlotSession session;
    if (!session.Open({"-", {}, ScratchDirectory(), true}, &error)) return Fail(error);
    RasterPages pages(fd);
    if (!pages.Open(&error)) return Fail(error);
    const int copies = std::atoi(argv[4]);
    while (pages.Next()) {
        if (!PrintPage(pages, copies, session, &error)) return Fail(error);
        // Sent: the printer has it.
        std::fprintf(stderr, "PAGE: %d %d\n", pages.page(), std::clamp(copies, 1, 99));
    }
    if (pages.page() == 0) return Fail("the raster stream holds no page");
    if (!session.Finish(&error)) return Fail(error);
    std::fprintf(stderr, "INFO: Ready to print\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
