#include "jobs.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <set>
#include <thread>

#include "driver.h"
#include "model/send.h"
#include "readers/ipp_media.h"
#include "session/job.h"
#include "varnu/config_record.h"
#include "varnu/printer_tables.h"

namespace varnu::printer_app {

namespace {

// The driver's module and its record are the process's: one job at a time.
std::mutex& DriverMutex() {
    static std::mutex mutex;
    return mutex;
}

// A keyword vendor attribute as a table row; -1 when not given.
bool VendorRow(const pappl_pr_options_t& o, const char* name,
               const std::vector<std::string>& keywords, std::optional<int>* row,
               std::string* error) {
    const char* value = cupsGetOption(name, o.num_vendor, o.vendor);
    if (value == nullptr) return true;
    const int r = RowOf(keywords, value);
    if (r < 0) {
        *error = std::string(name) + " \"" + value + "\" is not offered";
        return false;
    }
    *row = r;
    return true;
}

bool FinishingSettings(const pappl_pr_options_t& o, host::ConfigureOptions* s, std::string* error) {
    if (varnu::Model(0)->finisher == 0) return true;
    if (!VendorRow(o, kProgramAttribute, ProgramKeywords(), &s->program, error)) return false;
    // Margin and bin go with a finishing program, never with the bypass.
    std::optional<int> margin, bin;
    if (!VendorRow(o, kFinishMarginAttribute, FinishMarginKeywords(), &margin, error) ||
        !VendorRow(o, kOutputBinAttribute, OutputBinKeywords(), &bin, error))
        return false;
    if (!varnu::IsBypassProgram(*varnu::FinishProgram(0, s->program.value_or(0)))) {
        s->finishMargin = margin;
        s->bin = bin;
    }
    return true;
}

// The vendor values of a job: its own, else the printer's defaults (the
// web interface edits those; PAPPL hands a job only what it was given).
struct VendorValues {
    int count = 0;
    cups_option_t* options = nullptr;
    VendorValues(pappl_job_t* job, const pappl_pr_options_t& o) {
        for (int i = 0; i < o.num_vendor; ++i)
            count = cupsAddOption(o.vendor[i].name, o.vendor[i].value, count, &options);
        ipp_t* defaults = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
        for (const char* name : {kProgramAttribute, kFinishMarginAttribute, kOutputBinAttribute,
                                 kSheetMarginAttribute}) {
            const std::string byDefault = std::string(name) + "-default";
            ipp_attribute_t* a = ippFindAttribute(defaults, byDefault.c_str(), IPP_TAG_ZERO);
            char value[256];
            if (a != nullptr && cupsGetOption(name, count, options) == nullptr &&
                ippAttributeString(a, value, sizeof value) > 0)
                count = cupsAddOption(name, value, count, &options);
        }
        ippDelete(defaults);
    }
    ~VendorValues() { cupsFreeOptions(count, options); }
    VendorValues(const VendorValues&) = delete;
    VendorValues& operator=(const VendorValues&) = delete;
};

std::string& Scratch() {
    static std::string directory = "/tmp";
    return directory;
}

}  // namespace

bool FirstRun(pappl_job_t* job) {
    static std::mutex mutex;
    static std::set<std::pair<pappl_printer_t*, int>> started;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (started.insert({papplJobGetPrinter(job), papplJobGetID(job)}).second) return true;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Started twice; ending the second run.");
    while (papplJobGetState(job) < IPP_JSTATE_CANCELED)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Ending the job a second time would list it twice among the completed
    // ones (and free it twice): this thread ends here instead.
    pthread_exit(nullptr);
}

void SetScratchDirectory(const std::string& directory) {
    Scratch() = directory;
}

const std::string& ScratchDirectory() {
    return Scratch();
}

bool JobSettings(const pappl_pr_options_t& o, int dpi, host::ConfigureOptions* s,
                 std::string* error) {
    *s = host::ConfigureOptions{};
    s->defaults = true;
    const std::optional<PaperChoice> paper =
        ChoosePaper(o.media.size_name, o.media.size_width, o.media.size_length);
    if (!paper) {
        char text[200];
        std::snprintf(text, sizeof text, "no paper format or roll width of %.1f x %.1f mm",
                      o.media.size_width / 100.0, o.media.size_length / 100.0);
        *error = text;
        return false;
    }
    s->paper = std::to_string(paper->row);
    s->length = paper->lengthMm;
    if (dpi != 600 && dpi != 400 && dpi != 300 && dpi != 200) {
        *error = "resolution " + std::to_string(dpi) + " dpi is not offered (600, 400, 300, 200)";
        return false;
    }
    s->resolution = dpi;
    if (o.copies < 1 || o.copies > kMaxCopies) {
        *error = "copies " + std::to_string(o.copies) + " is not offered (1.." +
                 std::to_string(kMaxCopies) + ")";
        return false;
    }
    s->copies = o.copies;
    if (o.media.type[0] != '\0') {
        const int row = RowOf(MediaTypes(), o.media.type);
        if (row < 0) {
            *error = std::string("media-type \"") + o.media.type + "\" is not offered";
            return false;
        }
        s->media = row;
    }
    if (const char* margin = cupsGetOption(kSheetMarginAttribute, o.num_vendor, o.vendor)) {
        char* end = nullptr;
        const long mm = std::strtol(margin, &end, 10);
        if (*end != '\0' || mm < 0 || mm > kMaxMarginMm) {
            *error = std::string(kSheetMarginAttribute) + " " + margin + " is not 0.." +
                     std::to_string(kMaxMarginMm) + " mm";
            return false;
        }
        s->margin = static_cast<int>(mm);
    }
    return FinishingSettings(o, s, error);
}

namespace {

struct DeviceUsers {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<pappl_printer_t*, int> count;
};

DeviceUsers& Users() {
    static DeviceUsers users;
    return users;
}

}  // namespace

DeviceUse::DeviceUse(pappl_job_t* job) : printer_(papplJobGetPrinter(job)) {
    const std::lock_guard<std::mutex> lock(Users().mutex);
    ++Users().count[printer_];
}

DeviceUse::~DeviceUse() {
    DeviceUsers& users = Users();
    std::unique_lock<std::mutex> lock(users.mutex);
    if (--users.count[printer_] == 0) users.changed.notify_all();
    users.changed.wait(lock, [&] { return users.count[printer_] == 0; });
}

DeviceJob::DeviceJob(pappl_job_t* job, pappl_device_t* device)
    : lock_(DriverMutex()), job_(job), device_(device) {
    // Each page reaches the printer when its driver job is complete.
    session_.Open({[this](const void* bytes, std::size_t count) {
                       return !canceled() && papplDeviceWrite(device_, bytes, count) ==
                                                 static_cast<ssize_t>(count);
                   },
                   [this] {
                       papplDeviceFlush(device_);
                       return !canceled();
                   }});
}

bool DeviceJob::Configure(const pappl_pr_options_t& options, int dpi, std::string* error) {
    const VendorValues vendor(job_, options);
    pappl_pr_options_t withDefaults = options;
    withDefaults.num_vendor = vendor.count;
    withDefaults.vendor = vendor.options;
    host::ConfigureOptions settings;
    if (!JobSettings(withDefaults, dpi, &settings, error)) return false;
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
    return Configure(options, dpi, error) && host::ReadSheet(sheet, error);
}

bool DeviceJob::Page(const pappl_pr_options_t& options, int dpi, const DrawPage& draw,
                     std::string* error) {
    if (!Configure(options, dpi, error)) return false;
    const bool sent = session_.Job(
        "",
        [&](const host::Sheet& sheet, std::string* e) {
            host::Plot plot;
            return draw(sheet, &plot, e) && host::Send(plot, false, e);
        },
        error);
    if (canceled()) *error = "cancelled";
    return sent && !canceled();
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
