#include "jobs.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "model/send.h"
#include "session/configure.h"
#include "session/job.h"
#include "settings.h"
#include "varnu/config_record.h"

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

bool DeviceJob::Page(const pappl_pr_options_t& options, int dpi, const DrawPage& draw,
                     std::string* error) {
    if (options.copies < 1 || options.copies > kMaxJobCopies) {
        *error = "copies " + std::to_string(options.copies) + " is not 1.." +
                 std::to_string(kMaxJobCopies);
        return false;
    }
    // Drawn once; sent as often as the copies need driver jobs.
    std::optional<host::Plot> plot;
    for (int left = options.copies; left > 0; left -= kMaxCopies) {
        if (!Configure(options, dpi, std::min(left, int{kMaxCopies}), error)) return false;
        sent_ = 0;
        leftOut_ = false;
        const bool sent = session_.Job(
            "",
            [&](const host::Sheet& sheet, std::string* e) {
                if (!plot && !draw(sheet, &plot.emplace(), e)) return false;
                return host::Send(*plot, false, e);
            },
            error);
        if (canceled()) *error = "cancelled";
        if (!sent || canceled()) return false;
    }
    return true;
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

host::Plot Cancellable(const host::Plot& plot, const DeviceJob& job) {
    host::Plot out(plot.source());
    for (const host::Step& step : plot.steps()) {
        if (step.kind != host::Step::Kind::Picture) return plot;  // only pictures are long
        host::Picture picture = plot.pictures()[step.index];
        picture.render = [render = picture.render, &job](std::int32_t x, std::int32_t y,
                                                         std::int32_t w, std::int32_t h,
                                                         std::uint32_t* pixels, std::string* e) {
            if (job.canceled()) {
                *e = "cancelled";
                return false;
            }
            return render(x, y, w, h, pixels, e);
        };
        if (picture.renderColumns)
            picture.renderColumns = [render = picture.renderColumns, &job](
                                        std::int32_t x, std::int32_t w, std::uint32_t* pixels,
                                        std::string* e) {
                if (job.canceled()) {
                    *e = "cancelled";
                    return false;
                }
                return render(x, w, pixels, e);
            };
        out.DrawPicture(std::move(picture), step.placement);
    }
    return out;
}

}  // namespace varnu::printer_app
