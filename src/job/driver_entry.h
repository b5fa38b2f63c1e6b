// The module's entry point and the description record it hands the host.
#pragma once

#include <cstdint>

#include "interface/lifetimes.h"
#include "interface/packet.h"
#include "varnu/pladi.h"

namespace varnu {

// Test-only: everything back to the state right after the module was loaded
// (no service table, no job, empty messages, zero configuration, raw tone
// table). Not exported from the module.
void RestoreModuleLoadStateForTesting();

}  // namespace varnu
