// The dialogs the request handlers open, and their shared state.
#pragma once

#include <cstdint>

#include "config/config_record.h"
#include "interface/platform.h"

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

// The working copies and the open dialog's state back to the module's load.
void ResetDialogsOnLoad();

}  // namespace varnu
