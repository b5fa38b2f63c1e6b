// One IPP job through the real driver: its settings become the driver's
// configuration record, each page a driver job of its own, written to the
// printer's device as it comes. Jobs reach this one at a time (the job
// slot, pappl_hooks.cpp).
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/document.h"
#include "session/plot_session.h"

namespace varnu::printer_app {

class DeviceJob {
  public:
    // The stream goes to `device`.
    DeviceJob(pappl_job_t* job, pappl_device_t* device);
    DeviceJob(const DeviceJob&) = delete;
    DeviceJob& operator=(const DeviceJob&) = delete;

    // The document's `pages` (indexes from 0; index 0 is the job's page
    // `firstPage`), each with its own options (its override's) at `dpi`
    // (0: what the job's resolution and print quality say), each a driver
    // job, or several where the job asks for more copies than one makes.
    bool Print(host::Document& document, const pappl_pr_options_t& options,
               const std::vector<int>& pages, unsigned firstPage, int dpi, std::string* error);
    // The sheet a page with `options` is drawn on, before any is sent.
    bool Sheet(const pappl_pr_options_t& options, int dpi, host::Sheet* sheet, std::string* error);
    bool Finish(std::string* error);
    bool canceled() const { return papplJobIsCanceled(job_) != 0; }
    // Sheets cut from the roll as the pages lie, never turned: a nest is
    // laid out as it goes on the roll.
    void KeepPagesAsTheyLie() { mayTurn_ = false; }
    pappl_job_t* job() const { return job_; }

  private:
    bool PageSettings(host::Document& document, const pappl_pr_options_t& options, unsigned page,
                      int index, pappl_pr_options_t* own, std::string* error);
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
    bool mayTurn_ = true;
};

// Where pages are spooled (as unnamed files): the application's spool.
void SetScratchDirectory(const std::string& directory);
const std::string& ScratchDirectory();

// Logs `error` with the job and leaves it as the job's message.
void JobFailed(pappl_job_t* job, const std::string& error);

// PWG and Apple raster pages, as PAPPL reads them, spooled and sent.
void SetRasterCallbacks(pappl_pr_driver_data_t* data);

// A job's document, opened as its print-scaling asks, the job's options
// for as many pages, and the indexes (from 0) of the pages it asks for.
struct JobDocument {
    JobDocument() = default;
    JobDocument(const JobDocument&) = delete;
    JobDocument& operator=(const JobDocument&) = delete;
    ~JobDocument();
    std::unique_ptr<host::Document> document;
    pappl_pr_options_t* options = nullptr;
    std::vector<int> pages;
};
bool OpenJobDocument(pappl_job_t* job, JobDocument* opened, std::string* error);

// The filter of the documents the host library reads (PDF, JPEG, PNG,
// HP-GL/2): documents.cpp.
bool PrintDocumentFile(pappl_job_t* job, pappl_device_t* device, void* context);

}  // namespace varnu::printer_app
