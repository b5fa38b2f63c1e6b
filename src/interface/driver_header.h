// The module's description record that PLADI hands the host: 504 packed,
// little-endian bytes.
#pragma once

#include <cstdint>

#include "varnu/host_interface.h"

namespace varnu {

// The host reads it; the driver never changes it after the handler
// addresses are in place.
extern std::uint8_t DriverHeader[kDriverHeaderSize];

}  // namespace varnu
