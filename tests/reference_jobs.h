// Plot jobs that are run through the module's one export on Linux and, under
// Wine, through the Windows module: both must write the same bytes. The jobs
// bring their own host (the six services, the stored record, the row
// routines of an image) and use nothing of the driver but PLADI and the
// handler addresses of the header it returns, so the same source builds into
// the Linux tests and into the Windows test host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host_table.h"

namespace varnu::reference {

using hostkit::LowAllocateFn;
using hostkit::PladiFn;

struct Job {
    const char* name;         // also the file name of its stream: NAME.bin
    std::uint8_t record[40];  // what the host has stored for the driver
    void (*draw)();           // the drawing between job start and job end
};

const std::vector<Job>& Jobs();

struct JobResult {
    std::string output;                 // every WriteOutput byte, in order (when kept)
    std::uint64_t bytes = 0;            // how many there were
    std::vector<std::string> messages;  // PrintMessage texts
    std::string error;                  // empty when every request passed
};

// Installs the jobs' host through pladi and runs one job: 49, 50, 29, 47,
// 48, 30, the drawing, 2. Jobs are run in the order Jobs() gives them, on a
// module freshly loaded, so that both builds see the same module state.
JobResult RunJob(const Job& job, PladiFn pladi, LowAllocateFn lowAllocate, bool keepOutput = true);

// The raster benchmark's E-size photograph as one job, its output counted but
// not kept: for timing a module (the Windows test host's --photo run).
JobResult RunPhotoPage(PladiFn pladi, LowAllocateFn lowAllocate);

// Where two streams first differ, with the bytes around it, for a report;
// empty when they are equal.
std::string FirstDifference(const std::string& expected, const std::string& actual);

}  // namespace varnu::reference
