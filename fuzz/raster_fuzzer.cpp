// Fuzzes the CUPS raster reader: the bytes as a raster stream, each page's
// settings, its placing on a small sheet and its lines read and kept, then
// lines of the picture served both ways, first and last, as the driver
// asks for them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "readers/cups_raster.h"

namespace {

// Every served band holds the line asked for, inside the picture.
void Serve(const varnu::host::Picture& picture, bool column, std::int32_t index) {
    varnu::host::Band band;
    std::string error;
    if (!picture.hold(column, index, &band, &error)) {
        if (error.empty()) __builtin_trap();
        return;
    }
    const bool holds = column ? index >= band.x && index < band.x + band.width
                              : index >= band.y && index < band.y + band.height;
    if (!holds || band.x < 0 || band.y < 0 || band.x + band.width > picture.width ||
        band.y + band.height > picture.height)
        __builtin_trap();
    // The band's corners are read as the row server reads them.
    const std::ptrdiff_t step = band.step != 0 ? band.step : 1;
    volatile std::uint8_t sink = band.pixels[0];
    sink = band.pixels[(band.width - 1) * step + (band.height - 1) * band.stride];
    (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("raster", 0);
    if (fd < 0) return 0;
    if (write(fd, data, size) == static_cast<ssize_t>(size) && lseek(fd, 0, SEEK_SET) == 0) {
        varnu::host::RasterPages pages(fd);
        std::string error;
        // A small sheet keeps each page small: 4 x 3 inches.
        const varnu::host::Sheet sheet{4, 3, 1016};
        const bool open = pages.Open(&error);
        if (!open && error.empty()) __builtin_trap();
        for (int n = 0; open && n < 4 && pages.Next(); ++n) {
            varnu::host::ConfigureOptions settings;
            varnu::host::Plot plot;
            if (!pages.Settings(1, &settings, &error) ||
                !pages.ReadPage(sheet, "/tmp", &plot, &error)) {
                if (error.empty()) __builtin_trap();
                break;
            }
            const varnu::host::Picture& picture = plot.pictures().at(0);
            for (const bool column : {true, false}) {
                const std::int32_t lines = column ? picture.width : picture.height;
                Serve(picture, column, 0);
                Serve(picture, column, lines - 1);
            }
        }
    }
    close(fd);
    return 0;
}
