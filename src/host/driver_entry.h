// The module's entry point and the description record it hands the host.
#pragma once

#include <cstdint>

#include "host/adi_abi.h"

namespace varnu {

inline constexpr int kDriverHeaderSize = 504;
inline constexpr int kIdentityReplySize = 81;  // identity text and padding, copied by request 49
inline constexpr int kRequestHandlerOffset = 410;
inline constexpr int kPlotHandlerOffset = 414;

// Packed, little-endian; the host reads it and the driver never changes it
// after the handler addresses are in place.
extern std::uint8_t DriverHeader[kDriverHeaderSize];

// The packet of the call in progress.
extern std::uint8_t* CurrentPacket;

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
