// The dialogs the request handlers open, and their shared state.
#pragma once

#include <cstdint>

#include "config/config_record.h"

namespace varnu {

// Close results of the configuration and options dialogs.
enum class DialogResult : std::int32_t { Ok = 0, Cancel = 5 };

// The record as the open configuration dialog edits it; committed on "OK".
extern ConfigRecord DialogWorkingCopy;
// The options dialog's copy of DialogWorkingCopy; written back on its "OK".
extern ConfigRecord OptionsWorkingCopy;

// "DRIVERCFG2_GER", opened by plot request 46.
DialogResult ShowDriverDialog();
// "DETAILCFG2_GER", opened by driver request 21.
DialogResult ShowDetailDialog();

inline constexpr std::uint32_t kMessageBoxWarning = 0x30;

// A modal message box owned by the host's window (the raster failure).
std::int32_t ShowMessageBox(std::uint32_t owner, const char* text, const char* caption,
                            std::uint32_t style);

}  // namespace varnu
