// A host for benchmarks: every slot answers success, the configuration is
// kept in memory, output is counted and thrown away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace varnu::bench {

// Installs the host through PLADI on a freshly loaded module.
void InstallDiscardHost();
std::uint64_t DiscardedBytes();
// While `into` is not null, the output is also appended to it.
void CaptureOutput(std::string* into);

// Opens a plot job the way the CAD host does (49, 50, 29, 47, 48, 30) with
// the default configuration, in the VCGL+MMR mode when asked.
void OpenJob(bool vcgl, double extentX = 40.0, double extentY = 30.0);
void CloseJob();

// A block below 4 GiB, for what the host hands over by address.
void* AllocateLowForBench(std::size_t size);

}  // namespace varnu::bench
