// What the CUPS filters share: the driver set up for one CUPS job, its
// pages each a driver job of its own written to standard output as soon as
// that page is done, whole (a page that fails sends nothing, those before
// it stay sent), and CUPS' messages on standard error. Nothing it makes has
// a name in the job's TMPDIR, so a cancelled job leaves nothing there.
#pragma once

#include <cups/cups.h>

#include <string>

#include "session/configure.h"
#include "session/plot_session.h"

namespace varnu::host {

// The job's scratch folder: CUPS gives each filter its TMPDIR.
std::string FilterScratchDirectory();

// "ERROR: message" for CUPS; the filter's exit status (1).
int FilterFailed(const std::string& message);

// A filter's main: `name --version` prints the release, else CUPS' five or
// six arguments are checked (else the usage of `name`), then `run`; an
// exception is an "ERROR:" line.
int FilterMain(int argc, char** argv, const char* name, int (*run)(int argc, char** argv));

// The job's options as CUPS passes them (the fifth argument).
struct FilterOptions {
    explicit FilterOptions(const char* text) { count = cupsParseOptions(text, 0, &values); }
    ~FilterOptions() { cupsFreeOptions(count, values); }
    FilterOptions(const FilterOptions&) = delete;
    FilterOptions& operator=(const FilterOptions&) = delete;
    // The option's value, or "".
    std::string operator[](const char* name) const {
        const char* value = cupsGetOption(name, count, values);
        return value != nullptr ? value : "";
    }
    int count = 0;
    cups_option_t* values = nullptr;
};

// The document's path: the file CUPS names (the seventh argument), or
// standard input kept in a file without a name in the job's TMPDIR (the
// readers read a file, not a pipe).
bool DocumentPath(int argc, char** argv, std::string* path, std::string* error);

class FilterJob {
  public:
    // The signal cleanup, the driver with a record of the job's own, and
    // standard output job by job.
    bool Open(std::string* error);
    // Where the job's driver jobs go: standard output, each when complete.
    PlotSession* session() { return &session_; }
    // The driver set up for page `page` (from 1) with `settings`.
    bool Configure(int page, const ConfigureOptions& settings, std::string* error);
    // CUPS told that page `page` is being printed, and that it went out:
    // the printer makes its copies.
    void Starting(int page);
    void Sent(int page, int copies);
    // Refuses a job that sent nothing.
    bool Finish(std::string* error);

  private:
    PlotSession session_;
};
}  // namespace varnu::host
