#include "jobs.h"

#include <cstdlib>
#include <map>
#include <vector>

#include "driver.h"
#include "model/print.h"
#include "overrides.h"
#include "roll.h"
#include "session/configure.h"
#include "session/job.h"
#include "settings.h"

namespace varnu::printer_app {

namespace {

std::string& Scratch() {
    static std::string directory = "/tmp";
    return directory;
}

}  // namespace

void SetScratchDirectory(const std::string& directory) {
    Scratch() = directory;
}

const std::string& ScratchDirectory() {
    return Scratch();
}

DeviceJob::DeviceJob(pappl_job_t* job, pappl_device_t* device) : job_(job), device_(device) {
    // Each page reaches the printer when its driver job is complete.
    session_.Open({[this](const void* bytes, std::size_t count) { return Write(bytes, count); },
                   [this] {
                       papplDeviceFlush(device_);
                       return true;
                   }});
}

// A driver job cancelled before any of it reached the device is left out
// whole; one that had begun is written to its end (the drawing stops, the
// driver closes the raster and ends the page and the job), so the device
// only ever gets whole jobs.
bool DeviceJob::Write(const void* bytes, std::size_t count) {
    if (leftOut_ || (sent_ == 0 && canceled())) {
        leftOut_ = true;
        return true;
    }
    sent_ += count;
    return papplDeviceWrite(device_, bytes, count) == static_cast<ssize_t>(count);
}

bool DeviceJob::Configure(const pappl_pr_options_t& options, int dpi, int copies,
                          std::string* error) {
    host::ConfigureOptions settings;
    if (!JobSettings(job_, options, dpi, &settings, error)) return false;
    settings.copies = copies;
    std::vector<std::string> messages;
    host::ResetDriver();  // a job before may have failed
    if (!host::Configure(settings, &messages)) {
        *error = "the printer settings were refused";
        for (const std::string& m : messages) *error += "; " + m;
        return false;
    }
    return true;
}

bool DeviceJob::Sheet(const pappl_pr_options_t& options, int dpi, host::Sheet* sheet,
                      std::string* error) {
    return Configure(options, dpi, 1, error) && host::ReadSheet(sheet, error);
}

// The job's own options for page `index` of `document`: its override's,
// on the roll a sheet cut to the page's length.
bool DeviceJob::PageSettings(host::Document& document, const pappl_pr_options_t& options,
                             unsigned page, int index, pappl_pr_options_t* own,
                             std::string* error) {
    *own = PageOptions(job_, options, page);
    const std::optional<host::Area> size = document.PageSize(index);
    if (!OnTheRoll(job_) || !size) return true;
    const bool mayTurn = mayTurn_ && JobVendorValue(job_, *own, kRollRotationAttribute) != "never";
    const int margin = std::atoi(JobVendorValue(job_, *own, kSheetMarginAttribute).c_str());
    return RollSheet(papplJobGetPrinter(job_), *size, mayTurn, margin, &own->media, error);
}

bool DeviceJob::Print(host::Document& document, const pappl_pr_options_t& options,
                      const std::vector<int>& pages, unsigned firstPage, int dpi,
                      std::string* error) {
    if (options.copies < 1 || options.copies > kMaxJobCopies) {
        *error = "copies " + std::to_string(options.copies) + " is not 1.." +
                 std::to_string(kMaxJobCopies);
        return false;
    }
    // What the job takes of the roll, before it is sent.
    std::map<int, double> lengths;  // mm, by index
    double needed = 0;
    for (const int index : pages) {
        pappl_pr_options_t own;
        if (!PageSettings(document, options, firstPage + unsigned(index), index, &own, error))
            return false;
        lengths[index] = own.media.size_length / 100.0;
        needed += lengths[index] * options.copies;
    }
    if (!WaitForRoll(job_, needed)) return false;
    host::PrintRequest request;
    request.pages = pages;
    request.firstPage = static_cast<int>(firstPage);
    request.copies = options.copies;
    request.configure = [&](int index, int copies, int* pageDpi, std::string* e) {
        const unsigned page = firstPage + static_cast<unsigned>(index);
        pappl_pr_options_t own;
        if (!PageSettings(document, options, page, index, &own, e)) return false;
        *pageDpi = dpi != 0 ? dpi : JobResolution(job_, own, page);
        sent_ = 0;
        leftOut_ = false;
        return Configure(own, *pageDpi, copies, e);
    };
    request.stopped = [this] { return canceled(); };
    double used = 0;
    request.sent = [&](int index, int copies) {
        papplJobSetImpressionsCompleted(job_, 1);
        used += lengths[index] * copies;
    };
    host::PrintReport report;
    const bool printed = host::PrintDocument(document, request, &session_, &report, error);
    UseRoll(papplJobGetPrinter(job_), used);
    if (canceled()) *error = "cancelled";
    return printed && !canceled();
}

bool DeviceJob::Finish(std::string* error) {
    if (canceled()) {
        session_.Abandon();
        *error = "cancelled";
        return false;
    }
    return session_.Finish(error);
}

void JobFailed(pappl_job_t* job, const std::string& error) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    papplJobSetMessage(job, "%s", error.c_str());
}

}  // namespace varnu::printer_app
