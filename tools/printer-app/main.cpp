// varnu-printer-app: the Varnu 4820/4810 as an IPP Everywhere printer, on
// PAPPL. `varnu-printer-app server` runs it (PAPPL's main loop and its
// sub-commands); `varnu-printer-app sandbox DIR PORT` runs one printer
// `varnu4820` writing to DIR/out.prn, everything under DIR, on
// localhost:PORT only, in the foreground.
#include <pappl/pappl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver.h"
#include "jobs.h"
#include "session/config_store.h"
#include "session/driver.h"
#include "varnu_version.h"
#include "web.h"

namespace {

using namespace varnu::printer_app;
using varnu::kDeviceId;

constexpr const char* kVersion = varnu::kReleaseVersion;
constexpr const char* kPrinterName = "varnu4820";

pappl_pr_driver_t kDrivers[] = {{kDriverName, "Varnu 4820/4810 Wide Format", kDeviceId, nullptr}};

std::string Option(int count, cups_option_t* options, const char* name, const char* fallback) {
    const char* value = cupsGetOption(name, count, options);
    return value != nullptr ? value : fallback;
}

// A state folder of the user's, or the system's for root.
std::string StateDirectory() {
    if (getuid() == 0) return "/var/lib/varnu-printer-app";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "/tmp") + "/.local/share/varnu-printer-app";
}

// A system with the web interface and the driver; its state in `state`.
pappl_system_t* CreateSystem(const std::string& spool, const std::string& log,
                             pappl_loglevel_t level, int port, const std::string& state,
                             pappl_soptions_t extra) {
    mkdir(spool.c_str(), 0700);
    SetScratchDirectory(spool);
    pappl_system_t* system =
        papplSystemCreate(PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_MULTI_QUEUE |
                              PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY | extra,
                          "Varnu Printer App", port, "_print,_universal", spool.c_str(),
                          log.c_str(), level, nullptr, false);
    if (system == nullptr) return nullptr;
    papplSystemSetPrinterDrivers(system, 1, kDrivers, nullptr, AddSettingsPage, DriverCallback,
                                 nullptr);
    AddDocumentFilters(system);
    pappl_version_t version{};
    std::strncpy(version.name, "Varnu Printer App", sizeof version.name - 1);
    std::strncpy(version.sversion, kVersion, sizeof version.sversion - 1);
    for (int i = 0; i < 3; ++i) version.version[i] = varnu::kReleaseVersionParts[i];
    papplSystemSetVersions(system, 1, &version);
    papplSystemSetFooterHTML(system, "Varnu 4820/4810 Wide Format printer application");
    static std::string stateFile;  // outlives the system
    stateFile = state;
    papplSystemLoadState(system, stateFile.c_str());
    papplSystemSetSaveCallback(system, reinterpret_cast<pappl_save_cb_t>(papplSystemSaveState),
                               const_cast<char*>(stateFile.c_str()));
    return system;
}

// `server`: options -o spool-directory=, -o state-file=, -o log-file=,
// -o log-level=, -o server-port= (default 8000), -o listen-hostname=.
pappl_system_t* SystemCallback(int count, cups_option_t* options, void*) {
    const std::string state = StateDirectory();
    mkdir(state.c_str(), 0700);
    const std::string level = Option(count, options, "log-level", "warn");
    pappl_system_t* system = CreateSystem(
        Option(count, options, "spool-directory", (state + "/spool").c_str()),
        Option(count, options, "log-file", "syslog"),
        level == "debug"  ? PAPPL_LOGLEVEL_DEBUG
        : level == "info" ? PAPPL_LOGLEVEL_INFO
                          : PAPPL_LOGLEVEL_WARN,
        std::atoi(Option(count, options, "server-port", "8000").c_str()),
        Option(count, options, "state-file", (state + "/state").c_str()), PAPPL_SOPTIONS_WEB_TLS);
    if (system == nullptr) return nullptr;
    const std::string host = Option(count, options, "listen-hostname", "");
    papplSystemAddListeners(system, host.empty() ? nullptr : host.c_str());
    return system;
}

int RunSandbox(const std::string& dir, int port) {
    // Plain IPP on the loopback: no certificate is made or kept.
    pappl_system_t* system = CreateSystem(dir + "/spool", dir + "/log", PAPPL_LOGLEVEL_DEBUG, port,
                                          dir + "/state", PAPPL_SOPTIONS_NO_TLS);
    if (system == nullptr || !papplSystemAddListeners(system, "localhost")) {
        std::fprintf(stderr, "varnu-printer-app: cannot listen on localhost:%d\n", port);
        return 1;
    }
    if (papplSystemFindPrinter(system, "/ipp/print/varnu4820", 0, nullptr) == nullptr) {
        const std::string uri = "file://" + dir + "/out.prn";
        pappl_printer_t* printer =
            papplPrinterCreate(system, 0, kPrinterName, kDriverName, kDeviceId, uri.c_str());
        if (printer == nullptr) {
            std::fprintf(stderr, "varnu-printer-app: cannot create the printer\n");
            return 1;
        }
        papplSystemSetDefaultPrinterID(system, papplPrinterGetID(printer));
    }
    papplSystemRun(system);
    papplSystemDelete(system);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    varnu::host::UseConfigMemory();  // each job's own record
    std::string error;
    if (!varnu::host::InstallHost(&error)) {
        std::fprintf(stderr, "varnu-printer-app: %s\n", error.c_str());
        return 1;
    }
    varnu::host::EchoMessages(false);
    if (argc == 4 && std::strcmp(argv[1], "sandbox") == 0)
        return RunSandbox(argv[2], std::atoi(argv[3]));
    return papplMainloop(argc, argv, kVersion, nullptr, 1, kDrivers, nullptr, DriverCallback,
                         nullptr, nullptr, SystemCallback, nullptr, nullptr);
}
