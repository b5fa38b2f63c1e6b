// CUPS raster streams (8-bit grey or RGB, chunked): each page's header as
// the setup dialog's settings, and the page, placed on the sheet from its
// header before a line is read, as a plot of one picture whose lines are
// served from the page's rows kept compressed (the raster arrives top down,
// the driver takes it from the bottom up).
#pragma once

#include <cups/raster.h>

#include <string>
#include <vector>

#include "model/fit.h"
#include "model/plot.h"
#include "session/configure.h"
#include "session/job.h"
#include "sinks/row_spool.h"

namespace varnu::host {

class RasterPages {
  public:
    explicit RasterPages(int fd) : fd_(fd) {}
    ~RasterPages();
    RasterPages(const RasterPages&) = delete;
    RasterPages& operator=(const RasterPages&) = delete;

    bool Open(std::string* error);
    // The next page's header; false at the end of the stream.
    bool Next();
    int page() const { return page_; }
    // False with `error` set for a page this printer cannot print.
    bool Settings(int copies, ConfigureOptions* options, std::string* error) const;
    // The page centred on `sheet` at its own size, turned when only then it
    // fits, cut at the sheet's edges where it passes them within the
    // margins; refused before a line is read when it does not fit. Then its
    // lines are read, kept compressed (scratch space in `directory`).
    bool ReadPage(const Sheet& sheet, const std::string& directory, Plot* plot, std::string* error);
    const RowSpool& rows() const { return rows_; }

  private:
    int Channels() const;
    bool Place(const Sheet& sheet, std::string* error);
    bool ReadRows(bool down, const std::string& directory, std::string* error);
    std::int64_t StripColumns() const;
    bool Hold(bool column, std::int32_t index, Band* band, std::string* error);

    int fd_;
    cups_raster_t* raster_ = nullptr;
    cups_page_header2_t header_{};
    int page_ = 0;
    PageFit fit_;
    // The part of the raster that lands on the sheet.
    std::int64_t top_ = 0, left_ = 0, keptRows_ = 0, keptColumns_ = 0;
    RowSpool rows_;
    std::vector<std::uint8_t> strip_;  // raster columns across every row
};

}  // namespace varnu::host
