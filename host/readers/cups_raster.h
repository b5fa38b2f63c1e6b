// CUPS raster streams (8-bit grey or RGB, chunked): each page's header as
// the setup dialog's settings, and the page as a plot of one picture whose
// lines are read back from an unnamed spool file (the raster arrives top
// down, the driver takes it from the bottom up).
#pragma once

#include <cups/raster.h>

#include <string>

#include "model/plot.h"
#include "session/configure.h"
#include "session/job.h"

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
    // The page's lines into an unnamed file in `directory`.
    bool Spool(const std::string& directory, std::string* error);
    // The page centred on `sheet` at its own size, turned when only then it fits.
    bool PagePlot(const Sheet& sheet, Plot* plot, std::string* error) const;

  private:
    int Channels() const;
    bool ReadRectangle(bool turned, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                       std::uint32_t* pixels, std::string* error) const;

    int fd_;
    cups_raster_t* raster_ = nullptr;
    cups_page_header2_t header_{};
    int page_ = 0;
    int spool_ = -1;
};

}  // namespace varnu::host
