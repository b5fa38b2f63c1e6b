// PAPPL 1.3.1, the PAPPL of Debian 12, has no callback where this
// application must decide what follows, so the application defines these
// functions of PAPPL's own. The dynamic linker binds PAPPL's calls to them
// (pappl-hooks.list exports them), and each forwards to PAPPL's after its
// check:
//
// - _papplJobProcess (a job thread's start) and _papplJobCopyDocumentData
//   (where a PWG or Apple raster job is read from its client and printed):
//   PAPPL can start one job twice, and a raster job beside a job thread, on
//   the printer's one device, which the first to end closes. Here a job
//   runs once, and only while it holds the one job slot: from PAPPL's start
//   of a job to its end no other job is in PAPPL's job processing or in the
//   driver. A raster job takes the slot before PAPPL looks whether the
//   printer is busy: PAPPL's refusal would abort it with the printer's lock
//   held while it waits for the system's, which PAPPL's state saving holds
//   while it waits for the printer's.
// - _papplJobValidateDocumentAttributes, where Print-Job, Validate-Job and
//   Create-Job are checked: what the printer does not offer is refused
//   there, and the job's name and user lose their control characters
//   before PAPPL keeps them (its state file is line by line).
// - papplPrinterSetDriverDefaults, where every default is set (IPP and the
//   web pages): a vendor value the printer does not offer is refused.
// - papplJobCancel and papplPrinterCancelAllJobs, which free a waiting
//   job's file name: not while a nest copies it (JobFile).
// - papplDeviceList: without an Avahi daemon PAPPL's DNS-SD search aborts
//   the process; the search is left out and says why.
// - papplPrinterCreate: a printer writes only to a device the
//   administrator allowed (SetAllowedDevices).
// - papplClientGetLocString, where PAPPL's web pages look up the words they
//   show: the printer's settings and keywords in words. (A strings
//   resource would label them too, but PAPPL 1.3.1 then lists
//   printer-strings-languages-supported twice in every answer.)
#include "pappl_hooks.h"

#include <avahi-client/client.h>
#include <dlfcn.h>
#include <signal.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "driver.h"
#include "job_checks.h"
#include "nests.h"
#include "roll.h"
#include "settings.h"
#include "web.h"

extern "C" {
void* _papplDNSSDInit(pappl_system_t* system);
}

namespace varnu::printer_app {

namespace {

// PAPPL's own definition of `name`.
template <typename Function>
Function Pappl(const char* name) {
    void* function = dlsym(RTLD_NEXT, name);
    if (function == nullptr) {
        std::fprintf(stderr, "varnu-printer-app: this PAPPL has no %s (PAPPL 1.3 is needed)\n",
                     name);
        std::abort();
    }
    return reinterpret_cast<Function>(function);
}

// The one job slot, first come first served, and the jobs that had it.
struct JobSlot {
    std::mutex mutex;
    std::condition_variable turn;
    std::uint64_t tickets = 0, serving = 0;
    std::set<std::pair<int, int>> started;  // printer id, job id
};

JobSlot& Slot() {
    static JobSlot slot;
    return slot;
}

// Jobs PAPPL has forgotten need not be remembered.
void ForgetEndedJobs(pappl_system_t* system, std::set<std::pair<int, int>>* started) {
    for (auto it = started->begin(); it != started->end();) {
        pappl_printer_t* printer = papplSystemFindPrinter(system, nullptr, it->first, nullptr);
        if (printer == nullptr || papplPrinterFindJob(printer, it->second) == nullptr)
            it = started->erase(it);
        else
            ++it;
    }
}

// True for the first run of `job`, which then has the slot; false for a
// run PAPPL started again.
bool TakeSlot(pappl_job_t* job) {
    JobSlot& slot = Slot();
    pappl_printer_t* printer = papplJobGetPrinter(job);
    std::unique_lock<std::mutex> lock(slot.mutex);
    if (slot.started.size() > 4096) ForgetEndedJobs(papplPrinterGetSystem(printer), &slot.started);
    if (!slot.started.insert({papplPrinterGetID(printer), papplJobGetID(job)}).second) {
        papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Started again while it ran; this run ends.");
        return false;
    }
    const std::uint64_t ticket = slot.tickets++;
    slot.turn.wait(lock, [&] { return slot.serving == ticket; });
    return true;
}

void WaitForSlot() {
    JobSlot& slot = Slot();
    std::unique_lock<std::mutex> lock(slot.mutex);
    const std::uint64_t ticket = slot.tickets++;
    slot.turn.wait(lock, [&] { return slot.serving == ticket; });
}

}  // namespace

bool SlotWanted() {
    JobSlot& slot = Slot();
    const std::lock_guard<std::mutex> lock(slot.mutex);
    return slot.tickets > slot.serving + 1;
}

namespace {

void ReleaseSlot() {
    JobSlot& slot = Slot();
    const std::lock_guard<std::mutex> lock(slot.mutex);
    ++slot.serving;
    slot.turn.notify_all();
}

// A raster job read from its client's connection: that thread prints it.
bool Streamed(pappl_job_t* job) {
    const char* format = papplJobGetFormat(job);
    return papplJobGetFilename(job) == nullptr && format != nullptr &&
           (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0);
}

// Held while a waiting job's file name is copied or freed (a cancel).
std::mutex& JobFilesMutex() {
    static std::mutex mutex;
    return mutex;
}

std::mutex& DevicesMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string>& AllowedDevices() {
    static std::vector<std::string> allowed;
    return allowed;
}

}  // namespace

namespace {

std::atomic<bool> stopSignalled{false};
struct sigaction papplsStop[2];  // PAPPL's own handling of SIGTERM, SIGINT
constexpr int kStopSignals[2] = {SIGTERM, SIGINT};

void OnStop(int signal) {
    stopSignalled = true;
    const struct sigaction& pappls = papplsStop[signal == SIGTERM ? 0 : 1];
    if (pappls.sa_handler != SIG_DFL && pappls.sa_handler != SIG_IGN) pappls.sa_handler(signal);
}

}  // namespace

bool Stopping(pappl_system_t* system) {
    return stopSignalled || papplSystemIsShutdown(system);
}

void WatchForStop() {
    // PAPPL sets its handlers (plain ones) as it starts to run; ours go in
    // front of them once.
    for (int i = 0; i < 2; ++i) {
        struct sigaction now {};
        if (sigaction(kStopSignals[i], nullptr, &now) != 0 || now.sa_handler == OnStop ||
            (now.sa_flags & SA_SIGINFO) != 0)
            continue;
        papplsStop[i] = now;
        struct sigaction ours = now;
        ours.sa_handler = OnStop;
        sigaction(kStopSignals[i], &ours, nullptr);
    }
}

std::string JobFile(pappl_job_t* job) {
    const std::lock_guard<std::mutex> lock(JobFilesMutex());
    const char* file = papplJobGetFilename(job);
    return file != nullptr ? file : "";
}

SlotHold::SlotHold() {
    WaitForSlot();
}

SlotHold::~SlotHold() {
    ReleaseSlot();
}

void SetAllowedDevices(std::vector<std::string> prefixes) {
    const std::lock_guard<std::mutex> lock(DevicesMutex());
    AllowedDevices() = std::move(prefixes);
}

bool DeviceAllowed(const char* uri) {
    if (uri == nullptr || !IsPrintable(uri)) return false;
    char scheme[32], user[256], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host,
                        sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
        return false;
    // A printer found on a bus or the network; a file only where the
    // administrator named it, never one a client names.
    for (const char* device : {"usb", "socket", "dnssd", "snmp"})
        if (std::strcmp(scheme, device) == 0) return true;
    if (std::strcmp(scheme, "file") != 0) return false;
    if (char* options = std::strchr(resource, '?')) *options = '\0';
    const std::lock_guard<std::mutex> lock(DevicesMutex());
    for (const std::string& path : AllowedDevices())
        if (path == resource) return true;
    return false;
}

}  // namespace varnu::printer_app

using namespace varnu::printer_app;

extern "C" void* _papplJobProcess(pappl_job_t* job);

namespace varnu::printer_app {

bool HooksBound() {
    // What PAPPL's references resolve to: this executable's definitions.
    return dlsym(RTLD_DEFAULT, "_papplJobProcess") == reinterpret_cast<void*>(&_papplJobProcess) &&
           dlsym(RTLD_DEFAULT, "papplPrinterSetDriverDefaults") ==
               reinterpret_cast<void*>(&papplPrinterSetDriverDefaults);
}

}  // namespace varnu::printer_app

extern "C" {

void* _papplJobProcess(pappl_job_t* job) {
    static const auto process = Pappl<void* (*)(pappl_job_t*)>("_papplJobProcess");
    if (Streamed(job) || !TakeSlot(job)) return nullptr;
    void* result = process(job);
    ReleaseSlot();
    return result;
}

void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job) {
    static const auto copy =
        Pappl<void (*)(pappl_client_t*, pappl_job_t*)>("_papplJobCopyDocumentData");
    // A raster job is printed as it is read, in this thread: it takes the
    // slot before PAPPL looks whether the printer is busy.
    const bool streamed = Streamed(job);
    if (streamed) ReleaseNest(papplJobGetPrinter(job));  // it would wait out the nest's wait
    if (streamed && !TakeSlot(job)) return;
    copy(client, job);
    if (streamed) ReleaseSlot();
}

bool _papplJobValidateDocumentAttributes(pappl_client_t* client) {
    static const auto validate =
        Pappl<bool (*)(pappl_client_t*)>("_papplJobValidateDocumentAttributes");
    const bool valid = validate(client);
    const ipp_op_t op = papplClientGetOperation(client);
    if (op != IPP_OP_PRINT_JOB && op != IPP_OP_VALIDATE_JOB && op != IPP_OP_CREATE_JOB)
        return valid;
    return CheckJobRequest(client) && valid;
}

bool papplPrinterSetDriverDefaults(pappl_printer_t* printer, pappl_pr_driver_data_t* data,
                                   int num_vendor, cups_option_t* vendor) {
    static const auto setDefaults =
        Pappl<bool (*)(pappl_printer_t*, pappl_pr_driver_data_t*, int, cups_option_t*)>(
            "papplPrinterSetDriverDefaults");
    int count = 0;
    cups_option_t* values = nullptr;
    for (int i = 0; i < num_vendor; ++i) {
        if (!VendorValueOffered(printer, vendor[i].name, vendor[i].value)) {
            papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Refused %s-default=\"%s\".",
                            vendor[i].name, Printable(vendor[i].value).c_str());
            cupsFreeOptions(count, values);
            return false;
        }
        count = cupsAddOption(vendor[i].name, vendor[i].value, count, &values);
    }
    count = JoinOutputBinDefaults(printer, data, count, &values);
    count = JoinRollDefaults(printer, count, &values);
    const bool set = setDefaults(printer, data, count, values);
    const bool roll = cupsGetOption(kRollLengthAttribute, count, values) != nullptr ||
                      cupsGetOption(kRollLeftAttribute, count, values) != nullptr;
    cupsFreeOptions(count, values);
    if (set && roll) ShowRollSupply(printer);
    return set;
}

void papplJobCancel(pappl_job_t* job) {
    static const auto cancel = Pappl<void (*)(pappl_job_t*)>("papplJobCancel");
    const std::lock_guard<std::mutex> lock(JobFilesMutex());
    cancel(job);
}

void papplPrinterCancelAllJobs(pappl_printer_t* printer) {
    static const auto cancel = Pappl<void (*)(pappl_printer_t*)>("papplPrinterCancelAllJobs");
    const std::lock_guard<std::mutex> lock(JobFilesMutex());
    cancel(printer);
}

bool papplDeviceList(pappl_devtype_t types, pappl_device_cb_t cb, void* data,
                     pappl_deverror_cb_t err_cb, void* err_data) {
    static const auto list =
        Pappl<bool (*)(pappl_devtype_t, pappl_device_cb_t, void*, pappl_deverror_cb_t, void*)>(
            "papplDeviceList");
    if ((types & PAPPL_DEVTYPE_DNS_SD) != 0) {
        auto* client = static_cast<AvahiClient*>(_papplDNSSDInit(nullptr));
        if (client == nullptr || avahi_client_get_state(client) != AVAHI_CLIENT_S_RUNNING) {
            types &= ~pappl_devtype_t{PAPPL_DEVTYPE_DNS_SD};
            if (err_cb != nullptr)
                err_cb("Network printers are not searched: no DNS-SD daemon (avahi-daemon) runs.",
                       err_data);
        }
    }
    return list(types, cb, data, err_cb, err_data);
}

const char* papplClientGetLocString(pappl_client_t* client, const char* key) {
    static const auto localize =
        Pappl<const char* (*)(pappl_client_t*, const char*)>("papplClientGetLocString");
    const char* label = WebLabel(key);
    return label != nullptr ? label : localize(client, key);
}

pappl_printer_t* papplPrinterCreate(pappl_system_t* system, int printer_id,
                                    const char* printer_name, const char* driver_name,
                                    const char* device_id, const char* device_uri) {
    static const auto create =
        Pappl<pappl_printer_t* (*)(pappl_system_t*, int, const char*, const char*, const char*,
                                   const char*)>("papplPrinterCreate");
    if (printer_name == nullptr || !IsPrintable(printer_name) || !DeviceAllowed(device_uri) ||
        (device_id != nullptr && !IsPrintable(device_id))) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR,
                 "Refused a printer on the device \"%s\": not one the administrator allowed.",
                 device_uri != nullptr ? Printable(device_uri).c_str() : "");
        return nullptr;
    }
    return create(system, printer_id, printer_name, driver_name, device_id, device_uri);
}

}  // extern "C"
