// The module's entry point and its two request handlers.
#pragma once

#include <cstdint>

#include "varnu/adi_abi.h"

// The two request handlers named in the description record; caller-cleans.
extern "C" void ADI_CALLER_CLEANS DriverRequest(void* packet);
extern "C" void ADI_CALLER_CLEANS PlotRequest(void* packet);

// The single export: keeps the host's service table, returns the description
// record.
extern "C" void* ADI_CALLEE_CLEANS PLADI(const void* hostServices, std::uint32_t reserved);
