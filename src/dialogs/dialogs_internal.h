// The sub-dialogs the configuration dialogs open.
#pragma once

#include "dialogs/dialog_platform.h"

namespace varnu {

// "OPTIONCFG1_GER" (setup) or "OPTIONCFG2_GER" (plot time).
std::int32_t ShowOptionsDialog(DialogWindow owner, const char* templateName);
// "DRV_VER_GER".
std::int32_t ShowDriverInfoDialog(DialogWindow owner);
// "IDD_COLOR_GER"; edits ToneCurveEditPoints starting from the working copy.
std::int32_t ShowImageCorrectionDialog(DialogWindow owner);

}  // namespace varnu
