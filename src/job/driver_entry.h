// The module's entry point and the description record it hands the host.
#pragma once

#include <cstdint>

#include "interface/adi_abi.h"
#include "interface/driver_header.h"
#include "interface/packet.h"

namespace varnu {

// Test-only: everything back to the state right after the module was loaded
// (no service table, no job, empty messages, zero configuration, raw tone
// table). Not exported from the module.
void RestoreModuleLoadStateForTesting();

}  // namespace varnu

// The two request handlers named in the header; caller-cleans.
extern "C" void ADI_CALLER_CLEANS DriverRequest(void* packet);
extern "C" void ADI_CALLER_CLEANS PlotRequest(void* packet);

// The single export: keeps the host's service table, returns the header.
extern "C" void* ADI_CALLEE_CLEANS PLADI(const void* hostServices, std::uint32_t reserved);
