// imagetovarnu: the CUPS filter of the Varnu 4820/4810 for PNG and JPEG
// images. Takes the image straight from CUPS (no imagetoraster) and places
// it on the sheet as `adihost plot` and the printer application do, so
// that the same image and settings make the same stream, and the job's
// printer-resolution is the stream's as for a PDF. The settings are the
// page header the PPD's choices and the job's options make.
//
//   imagetovarnu job user title copies options [file]
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "model/image_placement.h"
#include "model/send.h"
#include "readers/cups_page.h"
#include "readers/images.h"
#include "session/cups_filter.h"

namespace {

using namespace varnu::host;

// The image CUPS says the document is (CONTENT_TYPE), whatever its name.
bool LoadDocument(const std::string& path, Image* image, std::string* error) {
    const char* type = std::getenv("CONTENT_TYPE");
    if (type != nullptr && std::strcmp(type, "image/jpeg") == 0)
        return LoadJpeg(path, image, error);
    return LoadPng(path, image, error);
}

int Run(int argc, char** argv) {
    FilterJob job;
    std::string error, path;
    const FilterOptions options(argv[5]);
    ConfigureOptions settings;
    Image image;
    Sheet sheet;
    if (!job.Open(&error) || !JobSettings(options, argv[4], &settings, &error) ||
        !DocumentPath(argc, argv, &path, &error) || !LoadDocument(path, &image, &error) ||
        !job.Sheet(settings, &sheet, &error))
        return FilterFailed(error);
    const bool sent = job.Page(
        1, settings,
        [&](const Sheet& jobSheet, std::string* e) {
            Placement placement;
            bool cut = false;
            if (!PlaceImage(jobSheet, std::nullopt, &image, &placement, &cut, e)) return false;
            Plot plot;
            plot.DrawImage(plot.AddImage(std::move(image)), placement);
            return Send(plot, false, e);
        },
        &error);
    if (!sent) return FilterFailed(error);
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
    return FilterMain(argc, argv, "imagetovarnu", Run);
}
