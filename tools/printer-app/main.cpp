// varnu-printer-app: the Varnu 4820/4810 as an IPP Everywhere printer, on
// PAPPL. `varnu-printer-app server` runs it (PAPPL's main loop and its
// sub-commands); `varnu-printer-app sandbox DIR PORT` runs one printer
// `varnu4820` writing to DIR/out.prn, everything under DIR, on
// localhost:PORT only, in the foreground.
#include <pappl/pappl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "driver.h"
#include "jobs.h"
#include "pappl_hooks.h"
#include "session/config_store.h"
#include "session/driver.h"
#include "state.h"
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

// The state folder systemd gives the service, else the system's for root,
// else the user's.
std::string StateDirectory() {
    if (const char* given = std::getenv("STATE_DIRECTORY"); given != nullptr && given[0] == '/')
        return std::string(given).substr(0, std::string(given).find(':'));
    if (getuid() == 0) return "/var/lib/varnu-printer-app";
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') return std::string(data) + "/varnu-printer-app";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "/tmp") + "/.local/share/varnu-printer-app";
}

// `path` and the folders above it, private to the user where made here.
bool MakeFolders(const std::string& path) {
    for (std::size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
        const std::string folder = path.substr(0, at);
        if (!folder.empty() && mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) break;
    }
    if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
    std::fprintf(stderr, "varnu-printer-app: cannot make %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return false;
}

// A list of "a,b,c".
std::vector<std::string> Split(const std::string& list) {
    std::vector<std::string> items;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) items.push_back(item);
    return items;
}

// A system with the web interface and the driver; its state in `state`.
pappl_system_t* CreateSystem(const std::string& spool, const std::string& log,
                             pappl_loglevel_t level, int port, const std::string& state,
                             pappl_soptions_t extra) {
    if (!MakeFolders(spool)) return nullptr;
    SetScratchDirectory(spool);
    pappl_system_t* system =
        papplSystemCreate(PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_MULTI_QUEUE |
                              PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY | extra,
                          "Varnu Printer App", port, "_print,_universal", spool.c_str(),
                          log.c_str(), level, nullptr, false);
    if (system == nullptr) return nullptr;
    papplSystemSetPrinterDrivers(system, 1, kDrivers, nullptr, PrinterCreated, DriverCallback,
                                 nullptr);
    AddDocumentFilters(system);
    pappl_version_t version{};
    std::strncpy(version.name, "Varnu Printer App", sizeof version.name - 1);
    std::strncpy(version.sversion, kVersion, sizeof version.sversion - 1);
    for (int i = 0; i < 3; ++i) version.version[i] = varnu::kReleaseVersionParts[i];
    papplSystemSetVersions(system, 1, &version);
    papplSystemSetFooterHTML(system, "Varnu 4820/4810 Wide Format printer application");
    LoadState(system, state);
    return system;
}

// `server`: options -o spool-directory=, -o state-file=, -o log-file=,
// -o log-level=, -o server-port= (default 8000), -o listen-hostname=,
// -o device-files=PATH,... (files a printer may write to; none else).
pappl_system_t* SystemCallback(int count, cups_option_t* options, void*) {
    const std::string state = StateDirectory();
    if (!MakeFolders(state)) return nullptr;
    SetAllowedDevices(Split(Option(count, options, "device-files", "")));
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
    SetAllowedDevices({dir + "/out.prn"});
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
    if (!varnu::printer_app::HooksBound()) {
        std::fprintf(stderr, "varnu-printer-app: PAPPL's calls do not reach the application\n");
        return 1;
    }
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
