#include "session/cups_filter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "session/config_store.h"
#include "session/driver.h"
#include "session/job.h"
#include "sinks/signals.h"
#include "sinks/temporary.h"
#include "varnu_version.h"

namespace varnu::host {

std::string FilterScratchDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
}

int FilterFailed(const std::string& message) {
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    return 1;
}

int FilterMain(int argc, char** argv, const char* name, int (*run)(int argc, char** argv)) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", name, varnu::kReleaseVersion);
        return 0;
    }
    if (argc < 6 || argc > 7) {
        std::fprintf(stderr, "Usage: %s job user title copies options [file]\n", name);
        return 1;
    }
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        return FilterFailed(e.what());
    }
}

bool DocumentPath(int argc, char** argv, std::string* path, std::string* error) {
    if (argc == 7) {
        *path = argv[6];
        return true;
    }
    const int fd = OpenUnnamedFile(FilterScratchDirectory(), error);
    if (fd < 0) return false;
    char piece[65536];
    for (ssize_t n; (n = read(0, piece, sizeof piece)) != 0;) {
        if (n < 0 || write(fd, piece, static_cast<std::size_t>(n)) != n) {
            *error = std::string("cannot keep the document: ") + std::strerror(errno);
            close(fd);
            return false;
        }
    }
    *path = "/proc/self/fd/" + std::to_string(fd);
    return true;
}

bool FilterJob::Open(std::string* error) {
    InstallSignalCleanup();
    UseConfigMemory();  // the job's own record
    if (!InstallHost(error)) return false;
    EchoMessages(false);  // the driver's messages are not the job's
    return session_.Open({"-", {}, FilterScratchDirectory(), true}, error);
}

// The settings through the setup dialog, its messages for CUPS' log.
bool FilterJob::Configure(int page, const ConfigureOptions& settings, std::string* error) {
    std::vector<std::string> messages;
    const bool configured = host::Configure(settings, &messages);
    for (const std::string& m : messages) std::fprintf(stderr, "DEBUG: %s\n", m.c_str());
    if (!configured)
        *error = "page " + std::to_string(page) + ": the printer settings were refused";
    return configured;
}

void FilterJob::Starting(int page) {
    std::fprintf(stderr, "INFO: Printing page %d\n", page);
}

void FilterJob::Sent(int page, int copies) {
    std::fprintf(stderr, "PAGE: %d %d\n", page, copies);
}

bool FilterJob::Finish(std::string* error) {
    if (!session_.Finish(error)) return false;
    std::fprintf(stderr, "INFO: Ready to print\n");
    return true;
}

}  // namespace varnu::host
