// adihost render: draws the sheet a driver stream would print, read as the
// printer reads it, independently of the driver's writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace adihost {

struct RenderOptions {
    double dpi = 100;        // preview pixels per inch of the sheet
    bool verbose = false;    // list the PJL lines on standard error
    bool keepBands = false;  // keep every decoded band in RenderResult::rasters
};

struct Preview {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;  // rows top to bottom
};

// A raster band as read from the stream, decoded: rows of `width` bits,
// first pixel in the top bit of the first byte, 1 = black.
struct RasterBand {
    int width = 0, rows = 0;
    std::vector<std::uint8_t> bits;
};

struct RenderResult {
    bool ok = false;
    std::string error;  // with the byte offset where reading stopped
    Preview preview;    // what was drawn, also when reading stopped
    std::vector<std::string> pjl;
    std::string mode;                 // "RTL/GL2" or "VCGL+MMR"
    std::vector<RasterBand> rasters;  // every image band, in stream order
};

RenderResult RenderStream(const std::string& stream, const RenderOptions& options);

}  // namespace adihost
