// The preview: draws the sheet a driver stream prints, read as the printer
// reads it (PJL with HP-GL/2 and HP-RTL raster in MMR, or binary VCGL with
// MMR bands), independently of the driver's writer. The stream is read as
// it arrives and drawn at the asked dpi into a sheet held in tiles, so
// memory is bounded by the sheet, not by the stream.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace varnu::preview {

// Preview pixels per inch, the most the longest sheet the driver describes
// (15,000 mm of a 36-inch roll) renders at.
inline constexpr double kMaxDpi = 600;

// Fills up to n bytes at `to` and says how many; 0 at the end of the stream.
using ByteSource = std::function<std::size_t(char* to, std::size_t n)>;

struct Options {
    double dpi = 100;
    bool verbose = false;  // list the PJL lines on standard error
    // The most the stream may take; 0: what a job for its sheet can take.
    std::uint64_t maxStreamBytes = 0;
    // Each raster band as the printer decodes it, a row at a time: rows of
    // `width` bits, first pixel in the top bit, 1 = black.
    std::function<void(int band, int width, int rows, int row, const std::uint8_t* bits)> bandRow;
};

class Sheet;

struct Rendering {
    bool ok = false;
    std::string error;  // with the byte offset where reading stopped
    std::string mode;   // "RTL/GL2" or "VCGL+MMR"
    std::vector<std::string> pjl;
    std::shared_ptr<const Sheet> sheet;  // what was drawn, also when reading stopped

    int Width() const;
    int Height() const;
    // The sheet's rows top to bottom, grey (0 black, 255 white).
    void ForEachRow(const std::function<void(const std::uint8_t* grey)>& row) const;
    // All of it at once (small sheets: tests, fuzzers).
    std::vector<std::uint8_t> Grey() const;
};

Rendering Render(const ByteSource& source, const Options& options);
Rendering Render(const std::string& stream, const Options& options);

// The sheet as a grey PNG through the output files' rules (never over `input`).
bool WritePng(const Rendering& rendering, const std::string& path, const std::string& input,
              std::string* error);

}  // namespace varnu::preview
