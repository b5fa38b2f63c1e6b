// The dialogs and message boxes the driver shows. The platform layer
// (headless or Win32) is chosen at link time.
#pragma once

#include <cstdint>

namespace varnu {

enum class DialogResult : std::int32_t { Cancel = 2, Ok = 1 };

// "DRIVERCFG2_GER", opened by plot request 46.
DialogResult ShowDriverDialog();
// "DETAILCFG2_GER", opened by driver request 21.
DialogResult ShowDetailDialog();

inline constexpr std::uint32_t kMessageBoxWarning = 0x30;

// A modal message box owned by the host's window.
std::int32_t ShowMessageBox(std::uint32_t owner, const char* text, const char* caption,
                            std::uint32_t style);

}  // namespace varnu
