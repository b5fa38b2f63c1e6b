// The options dialog (finishing program, margin, bin, manual output) and the
// driver information dialog, both opened from a configuration dialog.
#include <cstring>

#include "config/config_record.h"
#include "config/device_tables.h"
#include "dialogs/dialog_platform.h"
#include "dialogs/dialogs.h"
#include "dialogs/dialogs_internal.h"
#include "interface/lifetimes.h"
#include "resource.h"

namespace varnu {

namespace {

ConfigRecord& O() {
    return Dialogs.OptionsWorkingCopy;
}

const ModelRecord& CurrentModelRow() {
    const ModelRecord* model = Model(Configuration.CurrentModel);
    return model != nullptr ? *model : ModelTable[0];
}

// With the bypass, margin and bin are neither offered nor sent.
void ApplyBypassTest(DialogWindow dialog) {
    const FinishingChoiceRecord* program =
        FinishProgram(Configuration.CurrentModel, O().finishProgramIndex);
    const bool enabled = program == nullptr || !IsBypassProgram(*program);
    for (int id : {IDC_MARGIN_LABEL, IDC_FINISH_MARGIN, IDC_BIN_LABEL, IDC_BIN})
        EnableControl(dialog, id, enabled);
}

template <typename RowFn>
void FillCombo(DialogWindow dialog, int control, RowFn row, int selected) {
    ComboReset(dialog, control);
    for (std::int32_t i = 0;; ++i) {
        const FinishingChoiceRecord* choice = row(Configuration.CurrentModel, i);
        if (choice == nullptr) break;
        ComboAdd(dialog, control, choice->name);
    }
    ComboSelect(dialog, control, selected);
}

bool OptionsInit(DialogWindow dialog) {
    const ModelRecord& model = CurrentModelRow();
    O() = Dialogs.DialogWorkingCopy;
    if (model.finisher == 1) {
        FillCombo(dialog, IDC_PROGRAM, FinishProgram, O().finishProgramIndex);
        FillCombo(dialog, IDC_FINISH_MARGIN, FinishMargin, O().finishMarginIndex);
        FillCombo(dialog, IDC_BIN, OutputBin, O().outputBinIndex);
        ApplyBypassTest(dialog);
    }
    if (model.manualOutput == 1) {
        CheckRadio(dialog, IDC_MANUAL_ON, IDC_MANUAL_OFF,
                   (O().modeFlags & kModeManualOutput) ? IDC_MANUAL_ON : IDC_MANUAL_OFF);
    } else {
        for (int id : {IDC_MANUAL_GROUP, IDC_MANUAL_ON, IDC_MANUAL_OFF})
            EnableControl(dialog, id, false);
    }
    return true;
}

bool OptionsCommand(DialogWindow dialog, int control, int notification) {
    auto selected = [&](std::int16_t* field) {
        const int position = ComboSelection(dialog, control);
        if (position >= 0) *field = static_cast<std::int16_t>(position);
    };
    switch (control) {
        case IDC_OK:
            Dialogs.DialogWorkingCopy = O();
            EndDialogWith(dialog, static_cast<std::int32_t>(DialogResult::Ok));
            return true;
        case IDC_CANCEL:
            EndDialogWith(dialog, static_cast<std::int32_t>(DialogResult::Cancel));
            return true;
        case IDC_PROGRAM:
            if (notification == kSelectionChange) selected(&O().finishProgramIndex);
            ApplyBypassTest(dialog);
            return true;
        case IDC_FINISH_MARGIN:
            if (notification == kSelectionChange) selected(&O().finishMarginIndex);
            return true;
        case IDC_BIN:
            if (notification == kSelectionChange) selected(&O().outputBinIndex);
            return true;
        case IDC_MANUAL_ON:
        case IDC_MANUAL_OFF:
            if (CurrentModelRow().manualOutput == 1) {
                CheckRadio(dialog, IDC_MANUAL_ON, IDC_MANUAL_OFF, control);
                if (control == IDC_MANUAL_ON) {
                    O().modeFlags |= kModeManualOutput;
                } else {
                    O().modeFlags &= static_cast<std::uint16_t>(~kModeManualOutput);
                }
            }
            ApplyBypassTest(dialog);
            return true;
        default:
            return false;
    }
}

bool AnsweredScroll(DialogWindow, int, int) {
    return true;
}

constexpr DialogLogic kOptionsLogic = {OptionsInit, OptionsCommand, AnsweredScroll,
                                       nullptr,     nullptr,        true};

bool InfoInit(DialogWindow dialog) {
    char identity[kIdentityReplySize + 1] = {};
    std::memcpy(identity, Module.DriverHeader, kIdentityReplySize);
    SetControlText(dialog, IDC_IDENTITY, identity);
    return true;
}

bool InfoCommand(DialogWindow dialog, int control, int) {
    if (control != IDC_OK) return false;
    EndDialogWith(dialog, 0);
    return true;
}

constexpr DialogLogic kInfoLogic = {InfoInit, InfoCommand, nullptr, nullptr, nullptr, true};

}  // namespace

std::int32_t ShowOptionsDialog(DialogWindow owner, const char* templateName) {
    return RunDialog(templateName, owner, kOptionsLogic);
}

std::int32_t ShowDriverInfoDialog(DialogWindow owner) {
    return RunDialog("DRV_VER_GER", owner, kInfoLogic);
}

}  // namespace varnu
