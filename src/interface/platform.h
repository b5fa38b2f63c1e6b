// What the platform layer (Win32 or headless, chosen at link time) gives
// every layer of the driver besides the dialogs.
#pragma once

#include <cstdint>

namespace varnu {

inline constexpr std::uint32_t kMessageBoxWarning = 0x30;

// A modal message box owned by the host's window (the raster failure).
std::int32_t ShowMessageBox(std::uint32_t owner, const char* text, const char* caption,
                            std::uint32_t style);

}  // namespace varnu
