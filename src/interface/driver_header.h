// The module's description record that PLADI hands the host: 504 packed,
// little-endian bytes.
#pragma once

#include <cstdint>

namespace varnu {

inline constexpr int kDriverHeaderSize = 504;
inline constexpr int kIdentityReplySize = 81;  // identity text and padding, copied by request 49
inline constexpr int kRequestHandlerOffset = 410;
inline constexpr int kPlotHandlerOffset = 414;

// The host reads it; the driver never changes it after the handler
// addresses are in place.
extern std::uint8_t DriverHeader[kDriverHeaderSize];

}  // namespace varnu
