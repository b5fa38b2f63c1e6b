// One IPP job through the real driver: its settings become the driver's
// configuration record, each page a driver job of its own, written to the
// printer's device as it comes. One job at a time reaches the driver.
#pragma once

#include <pappl/pappl.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "model/plot.h"
#include "session/configure.h"
#include "session/plot_session.h"

namespace varnu::printer_app {

// The driver's settings for a job's options; false with `error` saying what
// the printer does not offer.
bool JobSettings(const pappl_pr_options_t& options, int dpi, host::ConfigureOptions* settings,
                 std::string* error);

// PAPPL 1.3.1 can start a job while another is printing (a raster job
// streamed in its client's thread beside a job thread): both are given the
// printer's one device, which PAPPL closes as the first one ends. Held
// from the moment a job is handed the device; its end waits until no other
// job is using the device.
class DeviceUse {
  public:
    explicit DeviceUse(pappl_job_t* job);
    ~DeviceUse();
    DeviceUse(const DeviceUse&) = delete;
    DeviceUse& operator=(const DeviceUse&) = delete;

  private:
    pappl_printer_t* printer_;
};

class DeviceJob {
  public:
    // Waits for the driver; the stream goes to `device`.
    DeviceJob(pappl_job_t* job, pappl_device_t* device);
    DeviceJob(const DeviceJob&) = delete;
    DeviceJob& operator=(const DeviceJob&) = delete;

    // A page at `dpi` device pixels an inch: configured from the options,
    // drawn by `draw` on the sheet they describe, sent to the device.
    using DrawPage = std::function<bool(const host::Sheet&, host::Plot*, std::string*)>;
    bool Page(const pappl_pr_options_t& options, int dpi, const DrawPage& draw, std::string* error);
    // The sheet pages with `options` are drawn on, before any is sent.
    bool Sheet(const pappl_pr_options_t& options, int dpi, host::Sheet* sheet, std::string* error);
    bool Finish(std::string* error);
    bool canceled() const { return papplJobIsCanceled(job_); }
    pappl_job_t* job() const { return job_; }

  private:
    // The driver reset and configured from the options.
    bool Configure(const pappl_pr_options_t& options, int dpi, std::string* error);

    std::unique_lock<std::mutex> lock_;
    pappl_job_t* job_;
    pappl_device_t* device_;
    host::PlotSession session_;
};

// Where pages are spooled (as unnamed files): the application's spool.
void SetScratchDirectory(const std::string& directory);
const std::string& ScratchDirectory();

// PAPPL 1.3 can start one job twice when two checks for new jobs meet (a
// job ending as another arrives). True for the first run; a second run
// waits until the first has ended the job, then ends its thread.
bool FirstRun(pappl_job_t* job);

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
