// A host for benchmarks: every slot answers success, output is counted and
// thrown away.
#pragma once

#include <cstdint>

namespace varnu::bench {

// Installs the host through PLADI on a freshly loaded module.
void InstallDiscardHost();
std::uint64_t DiscardedBytes();

}  // namespace varnu::bench
