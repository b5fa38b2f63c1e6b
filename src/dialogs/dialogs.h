// The dialogs the request handlers open, and their shared state.
#pragma once

#include <cstdint>

#include "config/config_record.h"
#include "dialogs/dialog_platform.h"
#include "interface/platform.h"

namespace varnu {

// Close results of the configuration and options dialogs.
enum class DialogResult : std::int32_t { Ok = 0, Cancel = 5 };

// The image-correction preview's handles.
struct CurveHandleState {
    PaintPoint handles[5];  // screen positions, recomputed at every repaint
    std::int32_t height;    // of the preview at the last repaint
    bool dragging;
    int dragged;  // handle index while dragging
    bool dragMoved;
};

// Dialog: what the open dialogs edit, from a dialog's opening to its close.
// Each opening fills its part from the configuration; only a load resets
// the record as one.
struct DialogStateRecord {
    // The record as the open configuration dialog edits it; committed on "OK".
    ConfigRecord DialogWorkingCopy = {};
    // The options dialog's copy of DialogWorkingCopy; written back on its "OK".
    ConfigRecord OptionsWorkingCopy = {};
    CurveHandleState Curve = {};
};
extern DialogStateRecord Dialogs;

// "DRIVERCFG2_GER", opened by plot request 46.
DialogResult ShowDriverDialog();
// "DETAILCFG2_GER", opened by driver request 21.
DialogResult ShowDetailDialog();

}  // namespace varnu
