// One IPP job through the real driver: its settings become the driver's
// configuration record, each page a driver job of its own, written to the
// printer's device as it comes. Jobs reach this one at a time (the job
// slot, pappl_hooks.cpp).
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <functional>
#include <string>

#include "model/plot.h"
#include "session/plot_session.h"

namespace varnu::printer_app {

class DeviceJob {
  public:
    // The stream goes to `device`.
    DeviceJob(pappl_job_t* job, pappl_device_t* device);
    DeviceJob(const DeviceJob&) = delete;
    DeviceJob& operator=(const DeviceJob&) = delete;

    // A page at `dpi` device pixels an inch: configured from the options,
    // drawn by `draw` on the sheet they describe, sent to the device; more
    // copies than one driver job makes are sent as several.
    using DrawPage = std::function<bool(const host::Sheet&, host::Plot*, std::string*)>;
    bool Page(const pappl_pr_options_t& options, int dpi, const DrawPage& draw, std::string* error);
    // The sheet pages with `options` are drawn on, before any is sent.
    bool Sheet(const pappl_pr_options_t& options, int dpi, host::Sheet* sheet, std::string* error);
    bool Finish(std::string* error);
    bool canceled() const { return papplJobIsCanceled(job_) != 0; }
    pappl_job_t* job() const { return job_; }

  private:
    // The driver reset and configured from the options, `copies` copies.
    bool Configure(const pappl_pr_options_t& options, int dpi, int copies, std::string* error);
    bool Write(const void* bytes, std::size_t count);

    pappl_job_t* job_;
    pappl_device_t* device_;
    host::PlotSession session_;
    // Of the driver job being sent: bytes that reached the device, and
    // whether it is being left out (cancelled before any did).
    std::uint64_t sent_ = 0;
    bool leftOut_ = false;
};

// Where pages are spooled (as unnamed files): the application's spool.
void SetScratchDirectory(const std::string& directory);
const std::string& ScratchDirectory();

// Logs `error` with the job and leaves it as the job's message.
void JobFailed(pappl_job_t* job, const std::string& error);

// The same plot whose pictures stop drawing once the job is cancelled.
host::Plot Cancellable(const host::Plot& plot, const DeviceJob& job);

// PWG and Apple raster pages, as PAPPL reads them, spooled and sent.
void SetRasterCallbacks(pappl_pr_driver_data_t* data);

// The filters of PDF (pdf_pages.cpp), JPEG and PNG.
bool PrintPdf(pappl_job_t* job, pappl_device_t* device, void* context);
bool PrintImage(pappl_job_t* job, pappl_device_t* device, void* context);

}  // namespace varnu::printer_app
