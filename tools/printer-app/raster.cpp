// PWG and Apple raster jobs: PAPPL reads the pages from the client and
// hands over their lines top down; each page's rows are kept compressed,
// as the CUPS filter keeps them (RowSpool), and drawn from them in bands,
// bottom up, as the driver asks.
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "jobs.h"
#include "model/fit.h"
#include "overrides.h"
#include "sinks/row_spool.h"

namespace varnu::printer_app {

namespace {

struct RasterJob {
    RasterJob(pappl_job_t* job, pappl_device_t* device) : device(job, device) {}
    DeviceJob device;
    std::unique_ptr<host::RowSpool> rows;  // the page's, while they are kept
    cups_page_header2_t header{};
    std::string error;
};

RasterJob* Of(pappl_job_t* job) {
    return static_cast<RasterJob*>(papplJobGetData(job));
}

int Channels(const cups_page_header2_t& h) {
    if (h.cupsBitsPerColor != 8 || h.cupsColorOrder != CUPS_ORDER_CHUNKED) return 0;
    if (h.cupsColorSpace == CUPS_CSPACE_RGB || h.cupsColorSpace == CUPS_CSPACE_SRGB) return 3;
    return h.cupsNumColors == 1 ? 1 : 0;
}

// Picture pixels from the spool; `turned`: the picture is the page turned
// a quarter clockwise.
bool ReadRectangle(const RasterJob& r, bool turned, std::int32_t x, std::int32_t y, std::int32_t w,
                   std::int32_t h, std::uint32_t* pixels, std::string* error) {
    const cups_page_header2_t& hd = r.header;
    const int channels = Channels(hd);
    const bool inverted = hd.cupsColorSpace == CUPS_CSPACE_K;
    const std::int32_t reads = turned ? w : h, span = turned ? h : w;
    for (std::int32_t k = 0; k < reads; ++k) {
        const std::int64_t row = turned ? std::int64_t{hd.cupsHeight} - 1 - (x + k) : y + k;
        const std::uint8_t* block = nullptr;
        std::int64_t first = 0, count = 0;
        if (!r.rows->Block(row, &block, &first, &count, error)) return false;
        const std::uint8_t* segment = block + (row - first) * std::int64_t{hd.cupsBytesPerLine} +
                                      std::int64_t{turned ? y : x} * channels;
        for (std::int32_t i = 0; i < span; ++i) {
            const unsigned char* in = &segment[static_cast<std::size_t>(i) * channels];
            std::uint32_t v;
            if (channels == 3) {
                v = std::uint32_t{in[0]} << 16 | std::uint32_t{in[1]} << 8 | in[2];
            } else {
                const std::uint32_t g = inverted ? 255 - in[0] : in[0];
                v = g << 16 | g << 8 | g;
            }
            pixels[turned ? static_cast<std::size_t>(i) * w + k
                          : static_cast<std::size_t>(k) * w + i] = v;
        }
    }
    return true;
}

// The page at its own size, centred on the sheet, turned when only then it
// fits; fitted to the sheet when larger (print-scaling "none" refuses it).
bool PagePlot(const RasterJob& r, unsigned page, const pappl_pr_options_t& options,
              const host::Sheet& sheet, host::Plot* plot, std::string* error) {
    const cups_page_header2_t& h = r.header;
    const double dpi = h.HWResolution[0];
    const host::Area size{h.cupsWidth / dpi, h.cupsHeight / dpi};
    auto fit = host::FitPage(size, sheet, {false, 1, true});
    if (!fit && options.print_scaling != PAPPL_SCALING_NONE)
        fit = host::FitPage(size, sheet, {true, 1, true});
    if (!fit) {
        *error = "page " + std::to_string(page) + " is larger than the sheet";
        return false;
    }
    const bool turned = fit->turned;
    host::Picture picture;
    picture.width = static_cast<std::int32_t>(turned ? h.cupsHeight : h.cupsWidth);
    picture.height = static_cast<std::int32_t>(turned ? h.cupsWidth : h.cupsHeight);
    picture.render = [&r, turned](std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t hh,
                                  std::uint32_t* pixels, std::string* e) {
        return ReadRectangle(r, turned, x, y, w, hh, pixels, e);
    };
    picture.label = "page " + std::to_string(page);
    *plot = host::Plot(picture.label);
    plot->DrawPicture(std::move(picture), fit->placement);
    return true;
}

bool StartJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
    papplJobSetData(job, new RasterJob(job, device));
    return true;
}

// A page the header makes far larger than the sheet (at most this many
// times its pixels) would be read for minutes only to be shrunk: it is
// refused before a row is read.
constexpr double kMostSheetsOfPixels = 4;

bool PageRefused(RasterJob* r, const pappl_pr_options_t& options, unsigned page) {
    const cups_page_header2_t& h = r->header;
    const std::string what = "page " + std::to_string(page);
    if (Channels(h) == 0 || h.cupsBytesPerLine != h.cupsWidth * unsigned(Channels(h))) {
        r->error = what + ": only 8-bit grey or RGB raster is printed";
        return true;
    }
    const int dpi = static_cast<int>(h.HWResolution[0]);
    host::Sheet sheet;
    if (!r->device.Sheet(PageOptions(r->device.job(), options, page), dpi, &sheet, &r->error))
        return true;
    const double pixels = static_cast<double>(h.cupsWidth) * h.cupsHeight;
    if (pixels <= kMostSheetsOfPixels * sheet.extentX * sheet.extentY * dpi * dpi) return false;
    char text[200];
    std::snprintf(text, sizeof text, "%s: %u x %u pixels at %d dpi, far larger than the sheet",
                  what.c_str(), h.cupsWidth, h.cupsHeight, dpi);
    r->error = text;
    return true;
}

bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
    RasterJob* r = Of(job);
    r->header = options->header;
    r->rows.reset();
    if (PageRefused(r, *options, page)) {
        JobFailed(job, r->error);
        return false;
    }
    r->rows = std::make_unique<host::RowSpool>();
    r->rows->Start(r->header.cupsBytesPerLine, ScratchDirectory());
    return true;
}

bool WriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned y,
               const unsigned char* line) {
    RasterJob* r = Of(job);
    if (!r->rows || r->device.canceled()) return false;
    if (options->header.cupsBytesPerLine != r->rows->rowBytes() || y != r->rows->rows()) {
        r->error = "line " + std::to_string(y) + " of the page came out of order";
        r->rows.reset();
    } else if (!r->rows->Append(line, &r->error)) {
        r->rows.reset();
    }
    return r->rows != nullptr;
}

bool EndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
    RasterJob* r = Of(job);
    if (r->device.canceled()) return true;  // PAPPL ends the job
    if (!r->rows || !r->rows->Close(&r->error)) {
        r->rows.reset();
        JobFailed(job, r->error);
        return false;
    }
    const pappl_pr_options_t own = PageOptions(job, *options, page);
    host::DrawnPage drawn(
        [r, page, &own](const host::Sheet& sheet, host::Plot* plot, std::string* e) {
            return PagePlot(*r, page, own, sheet, plot, e);
        });
    const bool sent = r->device.Print(drawn, *options, {0}, page,
                                      static_cast<int>(r->header.HWResolution[0]), &r->error);
    r->rows.reset();
    if (!sent) JobFailed(job, r->error);
    return sent;
}

bool EndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
    RasterJob* r = Of(job);
    papplJobSetData(job, nullptr);
    const bool done = r->device.Finish(&r->error);
    if (!done && !r->device.canceled()) JobFailed(job, r->error);
    delete r;
    return done;
}

}  // namespace

void SetRasterCallbacks(pappl_pr_driver_data_t* data) {
    data->rstartjob_cb = StartJob;
    data->rstartpage_cb = StartPage;
    data->rwriteline_cb = WriteLine;
    data->rendpage_cb = EndPage;
    data->rendjob_cb = EndJob;
}

}  // namespace varnu::printer_app
