// Fuzzes the plot file reader: HP-GL/2, HP-GL and HP-RTL on the bytes as a
// file, each page read onto the driver's default sheet and every raster
// image's lines served as the driver would ask for them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "readers/hpgl.h"

// fontconfig (through cairo, for labels in a drawing's fonts) keeps its
// font list for the life of the process by design; not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace {

// Every row (or column) of a picture from the plot, a band at a time as
// the row server asks for them (each band holds the line asked for).
void ServeAll(const varnu::host::Picture& picture, bool columns) {
    const std::int32_t lines = columns ? picture.width : picture.height;
    for (std::int32_t i = 0; i < lines;) {
        varnu::host::Band band;
        std::string error;
        if (!picture.hold(columns, i, &band, &error)) __builtin_trap();
        if (band.pixels == nullptr) __builtin_trap();
        const std::int32_t next = columns ? band.x + band.width : band.y + band.height;
        if ((columns ? band.x : band.y) > i || next <= i) __builtin_trap();
        i = next;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The reader takes a path: hand it the input through a memory file.
    const int fd = memfd_create("plot", 0);
    if (fd < 0) return 0;
    if (write(fd, data, size) == static_cast<ssize_t>(size)) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        varnu::host::HpglDocument document;
        std::string error;
        const varnu::host::Sheet sheet{48.0, 36.0, 1016.0};
        varnu::host::HpglOptions options;
        options.progress = false;
        options.fit = size % 2 == 1;
        if (document.Open(path, &error)) {
            for (int page = 0; page < document.pages() && page < 3; ++page) {
                varnu::host::Plot plot;
                error.clear();
                if (!document.PagePlot(page, sheet, 600, options, &plot, &error)) {
                    if (error.empty()) __builtin_trap();  // a refusal always says why
                    continue;
                }
                for (const varnu::host::Picture& picture : plot.pictures())
                    if (picture.hold) ServeAll(picture, page % 2 == 1);
            }
        } else if (error.empty()) {
            __builtin_trap();
        }
    }
    close(fd);
    return 0;
}
