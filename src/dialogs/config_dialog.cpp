// The driver configuration dialog (plot time) and the detail configuration
// dialog (configuration time): one logic, with the few differences as a
// variant record.
#include <cstdio>
#include <cstring>

#include "config/config_record.h"
#include "config/device_tables.h"
#include "config/tone_curve.h"
#include "dialogs/dialog_platform.h"
#include "dialogs/dialog_texts.h"
#include "dialogs/dialogs.h"
#include "dialogs/dialogs_internal.h"
#include "resource.h"

namespace varnu {

DialogStateRecord Dialogs;

namespace {

struct ConfigDialogVariant {
    const char* templateName;
    bool hasLabel;                // the label row exists
    const char* optionsTemplate;  // what "Optionen..." opens
    const char* marginCaption;    // caption of the margin warning
};

constexpr ConfigDialogVariant kDriverVariant = {"DRIVERCFG2_GER", true, "OPTIONCFG2_GER",
                                                dialog_texts::kMarginCaptionDriver};
constexpr ConfigDialogVariant kDetailVariant = {"DETAILCFG2_GER", false, "OPTIONCFG1_GER",
                                                dialog_texts::kMarginCaptionDetail};

const ConfigDialogVariant* Variant = &kDriverVariant;  // of the dialog that is open

ConfigRecord& W() {
    return Dialogs.DialogWorkingCopy;
}

const ModelRecord& CurrentModelRow() {
    const ModelRecord* model = Model(Configuration.CurrentModel);
    return model != nullptr ? *model : ModelTable[0];
}

bool VcglSelected() {
    return (W().modeFlags & kModeVcgl) != 0;
}

void SetResolutionCode(std::uint16_t code) {
    W().modeFlags = static_cast<std::uint16_t>((W().modeFlags & ~kModeResolutionMask) | code);
}

void Warn(DialogWindow dialog, const char* text, const char* caption) {
    MessageBoxFor(dialog, text, caption, kBoxWarning | kBoxOk);
}

void FillPaperCombo(DialogWindow dialog) {
    ComboReset(dialog, IDC_PAPER);
    RebuildPaperNameList(Configuration.CurrentModel);
    for (std::int32_t i = 0; i < Configuration.PaperNameList.count; ++i)
        ComboAdd(dialog, IDC_PAPER, Configuration.PaperNameList.names[i]);
    ComboSelect(dialog, IDC_PAPER, W().paperIndex - 1);
}

void FillMediaCombo(DialogWindow dialog) {
    ComboReset(dialog, IDC_MEDIA);
    const bool vcgl = VcglSelected();
    for (std::int32_t row = 0; row < kMediaRowsPerModel; ++row) {
        const MediaRecord* media = Media(Configuration.CurrentModel, row);
        if (media == nullptr) break;
        const char* name = vcgl ? media->vcglName : media->name;
        if (name[0] == '\0') break;  // this data mode has no media names
        ComboAdd(dialog, IDC_MEDIA, name);
    }
    ComboSelect(dialog, IDC_MEDIA, W().mediaIndex);
}

// The custom-length edit for the selected paper row.
void ShowCustomLength(DialogWindow dialog) {
    const PaperFormatRecord* paper = PaperFormat(Configuration.CurrentModel, W().paperIndex);
    if (paper == nullptr || paper->custom != 1) {
        EnableControl(dialog, IDC_LENGTH_LABEL, false);
        EnableControl(dialog, IDC_LENGTH, false);
        return;
    }
    const char* name = CurrentModelRow().name;
    const bool fiveDigits = std::strncmp(name, "Vastline4820", 12) == 0 ||
                            std::strncmp(name, "4820/4810 Wide", 14) == 0;
    EnableControl(dialog, IDC_LENGTH_LABEL, true);
    EnableControl(dialog, IDC_LENGTH, true);
    LimitText(dialog, IDC_LENGTH, fiveDigits ? 5 : 4);
    SetControlUnsigned(dialog, IDC_LENGTH, static_cast<std::uint32_t>(W().customLengthMm));
}

void ShowRedPen(DialogWindow dialog) {
    LimitText(dialog, IDC_RED_PEN, 3);
    SetControlUnsigned(dialog, IDC_RED_PEN, static_cast<std::uint32_t>(W().redPen));
}

void InitResolution(DialogWindow dialog, const ModelRecord& model) {
    const std::uint16_t code = W().modeFlags & kModeResolutionMask;
    if (VcglSelected()) {
        if (code != kResolution400 && code != kResolution200) SetResolutionCode(kResolution400);
        CheckRadio(dialog, IDC_DPI600, IDC_DPI200,
                   code == kResolution200 ? IDC_DPI200 : IDC_DPI400);
        EnableControl(dialog, IDC_DPI600, false);
        EnableControl(dialog, IDC_DPI300, false);
    } else if (model.dpi600 == 1) {
        CheckRadio(dialog, IDC_DPI600, IDC_DPI200,
                   code == kResolution600   ? IDC_DPI600
                   : code == kResolution400 ? IDC_DPI400
                   : code == kResolution300 ? IDC_DPI300
                                            : IDC_DPI200);
    } else {
        if (code != kResolution400 && code != kResolution300 && code != kResolution200)
            SetResolutionCode(kResolution400);
        const std::uint16_t now = W().modeFlags & kModeResolutionMask;
        CheckRadio(dialog, IDC_DPI600, IDC_DPI200,
                   now == kResolution300   ? IDC_DPI300
                   : now == kResolution200 ? IDC_DPI200
                                           : IDC_DPI400);
        EnableControl(dialog, IDC_DPI600, false);
    }
}

void InitColourAndDataMode(DialogWindow dialog, const ModelRecord& model) {
    if (model.redPrinting == 1) {
        CheckRadio(dialog, IDC_RED_ON, IDC_RED_OFF,
                   (W().modeFlags & kModeRedPrinting) ? IDC_RED_ON : IDC_RED_OFF);
    } else {
        for (int id : {IDC_COLOUR_GROUP, IDC_RED_GROUP, IDC_RED_ON, IDC_RED_OFF})
            EnableControl(dialog, id, false);
    }

    if (model.vcglAllowed == 0) {
        W().modeFlags &= static_cast<std::uint16_t>(~kModeVcgl);
        CheckRadio(dialog, IDC_DATA_RTL, IDC_DATA_VCGL, IDC_DATA_RTL);
        for (int id : {IDC_DATA_GROUP, IDC_DATA_RTL, IDC_DATA_VCGL})
            EnableControl(dialog, id, false);
    } else {
        CheckRadio(dialog, IDC_DATA_RTL, IDC_DATA_VCGL,
                   VcglSelected() ? IDC_DATA_VCGL : IDC_DATA_RTL);
    }
}

void InitNumberFields(DialogWindow dialog, const ModelRecord& model) {
    LimitText(dialog, IDC_COPIES, 2);
    SpinRange(dialog, IDC_COPIES_SPIN, 1, kMaxCopies);
    SpinSetPosition(dialog, IDC_COPIES_SPIN, W().copies);
    SetControlUnsigned(dialog, IDC_COPIES, static_cast<std::uint32_t>(W().copies));

    LimitText(dialog, IDC_MARGIN, 2);
    SpinRange(dialog, IDC_MARGIN_SPIN, 0, kMaxMarginMm);
    SpinSetPosition(dialog, IDC_MARGIN_SPIN, W().marginMm);
    SetControlUnsigned(dialog, IDC_MARGIN, static_cast<std::uint32_t>(W().marginMm));

    if (model.redPrinting == 1 && (W().modeFlags & kModeRedPrinting)) {
        ShowRedPen(dialog);
    } else {
        EnableControl(dialog, IDC_RED_PEN_LABEL, false);
        EnableControl(dialog, IDC_RED_PEN, false);
    }
}

bool Init(DialogWindow dialog) {
    const ModelRecord& model = CurrentModelRow();
    W() = Configuration.Config;
    // A count outside 1..99 (a record from elsewhere) would make the copies
    // field warn about its own value for ever; the dialog starts from one copy.
    if (W().copies < 1 || W().copies > kMaxCopies) W().copies = 1;

    FillPaperCombo(dialog);
    if (model.media == 1) {
        FillMediaCombo(dialog);
    } else {
        EnableControl(dialog, IDC_MEDIA_LABEL, false);
        EnableControl(dialog, IDC_MEDIA, false);
    }
    CheckRadio(dialog, IDC_FILL_SOLID, IDC_FILL_HALFTONE,
               (W().optionFlags & kOptionHalftoneFill) ? IDC_FILL_HALFTONE : IDC_FILL_SOLID);
    InitResolution(dialog, model);
    InitColourAndDataMode(dialog, model);
    InitNumberFields(dialog, model);
    ShowCustomLength(dialog);

    if (Variant->hasLabel) {
        if (model.label == 1) {
            LimitText(dialog, IDC_LABEL, kLabelTextMax);
            SetControlText(dialog, IDC_LABEL, Configuration.LabelText);
        } else {
            for (int id : {IDC_LABEL_CAPTION, IDC_LABEL_HINT, IDC_LABEL})
                EnableControl(dialog, id, false);
        }
    }
    return true;
}

void ValidateCopies(DialogWindow dialog) {
    bool isNumber = false;
    const std::uint32_t value = GetControlUnsigned(dialog, IDC_COPIES, &isNumber);
    if (!isNumber) return;
    if (value >= 1 && value <= static_cast<std::uint32_t>(kMaxCopies)) {
        W().copies = static_cast<std::int32_t>(value);
        return;
    }
    SetControlUnsigned(dialog, IDC_COPIES, static_cast<std::uint32_t>(W().copies));
    Warn(dialog, dialog_texts::kCopiesWarning, dialog_texts::kCopiesCaption);
}

void ValidateMargin(DialogWindow dialog) {
    bool isNumber = false;
    const std::uint32_t value = GetControlUnsigned(dialog, IDC_MARGIN, &isNumber);
    if (!isNumber) return;
    if (value <= static_cast<std::uint32_t>(kMaxMarginMm)) {
        W().marginMm = static_cast<std::int16_t>(value);
        return;
    }
    SetControlUnsigned(dialog, IDC_MARGIN, static_cast<std::uint32_t>(W().marginMm));
    Warn(dialog, dialog_texts::kMarginWarning, Variant->marginCaption);
}

void ValidateLength(DialogWindow dialog) {
    bool isNumber = false;  // not looked at: an empty text reads as 0
    const std::uint32_t value = GetControlUnsigned(dialog, IDC_LENGTH, &isNumber);
    const PaperFormatRecord* paper = PaperFormat(Configuration.CurrentModel, W().paperIndex);
    const std::uint32_t maximum =
        paper != nullptr && paper->maxLengthMm > 0 ? paper->maxLengthMm : kMaxCustomLengthMm;
    if (value == 0) return;
    if (value <= maximum) {
        W().customLengthMm = static_cast<std::int32_t>(value);
        return;
    }
    SetControlUnsigned(dialog, IDC_LENGTH, static_cast<std::uint32_t>(W().customLengthMm));
    char text[128];
    std::snprintf(text, sizeof text, dialog_texts::kLengthWarning, static_cast<int>(maximum));
    Warn(dialog, text, dialog_texts::kLengthCaption);
}

void ValidateRedPen(DialogWindow dialog) {
    bool isNumber = false;
    const std::uint32_t value = GetControlUnsigned(dialog, IDC_RED_PEN, &isNumber);
    if (value == 0) return;
    if (value <= 255) {
        W().redPen = static_cast<std::int32_t>(value);
        return;
    }
    SetControlUnsigned(dialog, IDC_RED_PEN, static_cast<std::uint32_t>(W().redPen));
    Warn(dialog, dialog_texts::kRedPenWarning, dialog_texts::kRedPenCaption);
}

void ValidateLabel(DialogWindow dialog) {
    char text[kLabelTextMax + 1];
    const int length = GetControlText(dialog, IDC_LABEL, text, sizeof text);
    for (int i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80 || c < 0x20 || c == 0x7F) {
            SetControlText(dialog, IDC_LABEL, "");
            FocusControl(dialog, IDC_LABEL);
            Warn(dialog, dialog_texts::kLabelWarning, dialog_texts::kLabelCaption);
            return;
        }
    }
    std::memcpy(Configuration.LabelText, text, static_cast<std::size_t>(length));
    Configuration.LabelText[length] = '\0';
}

void SelectDataMode(DialogWindow dialog, bool vcgl) {
    const ModelRecord& model = CurrentModelRow();
    CheckRadio(dialog, IDC_DATA_RTL, IDC_DATA_VCGL, vcgl ? IDC_DATA_VCGL : IDC_DATA_RTL);
    if (!vcgl) {
        W().modeFlags &= static_cast<std::uint16_t>(~kModeVcgl);
        if (model.dpi600 == 1) EnableControl(dialog, IDC_DPI600, true);
        EnableControl(dialog, IDC_DPI300, true);
    } else {
        W().modeFlags |= kModeVcgl;
        const std::uint16_t code = W().modeFlags & kModeResolutionMask;
        if (code == kResolution600 || code == kResolution300) {
            SetResolutionCode(kResolution400);
            CheckRadio(dialog, IDC_DPI600, IDC_DPI200, IDC_DPI400);
        }
        EnableControl(dialog, IDC_DPI600, false);
        EnableControl(dialog, IDC_DPI300, false);
    }
    if (model.media == 1) FillMediaCombo(dialog);
}

void SelectPaper(DialogWindow dialog, int notification) {
    if (notification == kSelectionChange) W().paperIndex = ComboSelection(dialog, IDC_PAPER) + 1;
    const PaperFormatRecord* paper = PaperFormat(Configuration.CurrentModel, W().paperIndex);
    if (paper != nullptr && paper->custom == 1)
        W().customLengthMm = defaultCustomLength(Configuration.CurrentModel, W().paperIndex);
    ShowCustomLength(dialog);
}

void SelectFill(DialogWindow dialog, int control) {
    CheckRadio(dialog, IDC_FILL_SOLID, IDC_FILL_HALFTONE, control);
    if (control == IDC_FILL_HALFTONE) {
        W().optionFlags |= kOptionHalftoneFill;
    } else {
        W().optionFlags &= static_cast<std::uint16_t>(~kOptionHalftoneFill);
    }
}

void SelectRedPrinting(DialogWindow dialog, int control) {
    if (CurrentModelRow().redPrinting != 1) return;
    CheckRadio(dialog, IDC_RED_ON, IDC_RED_OFF, control);
    const bool on = control == IDC_RED_ON;
    if (on) {
        W().modeFlags |= kModeRedPrinting;
    } else {
        W().modeFlags &= static_cast<std::uint16_t>(~kModeRedPrinting);
    }
    EnableControl(dialog, IDC_RED_PEN_LABEL, on);
    EnableControl(dialog, IDC_RED_PEN, on);
    if (on) ShowRedPen(dialog);
}

// The buttons and fields that open other dialogs or end this one.
bool ButtonCommand(DialogWindow dialog, int control) {
    switch (control) {
        case IDC_OK:
            Configuration.Config = W();
            Configuration.JobCopies = Configuration.Config.copies;
            EndDialogWith(dialog, static_cast<std::int32_t>(DialogResult::Ok));
            return true;
        case IDC_CANCEL:
            EndDialogWith(dialog, static_cast<std::int32_t>(DialogResult::Cancel));
            return true;
        case IDC_VERSION:
            ShowDriverInfoDialog(dialog);
            return true;
        case IDC_OPTIONS:
            ShowOptionsDialog(dialog, Variant->optionsTemplate);
            return true;
        case IDC_IMAGE_CORRECTION:
            ShowImageCorrectionDialog(dialog);
            for (int k = 0; k < kCurvePointCount; ++k)
                W().curvePoints[k] =
                    static_cast<std::uint8_t>(Configuration.ToneCurveEditPoints[k]);
            return true;
        default:
            return false;
    }
}

bool Command(DialogWindow dialog, int control, int notification) {
    switch (control) {
        case IDC_PAPER:
            SelectPaper(dialog, notification);
            return true;
        case IDC_MEDIA:
            if (notification == kSelectionChange) {
                const int position = ComboSelection(dialog, IDC_MEDIA);
                if (position >= 0) W().mediaIndex = static_cast<std::int16_t>(position);
            }
            return true;
        case IDC_COPIES:
            ValidateCopies(dialog);
            SpinSetPosition(dialog, IDC_COPIES_SPIN, W().copies);
            return true;
        case IDC_MARGIN:
            ValidateMargin(dialog);
            SpinSetPosition(dialog, IDC_MARGIN_SPIN, W().marginMm);
            return true;
        case IDC_LENGTH:
            ValidateLength(dialog);
            return true;
        case IDC_FILL_SOLID:
        case IDC_FILL_HALFTONE:
            SelectFill(dialog, control);
            return true;
        case IDC_DPI600:
        case IDC_DPI400:
        case IDC_DPI300:
        case IDC_DPI200: {
            constexpr std::uint16_t kCodes[] = {kResolution600, kResolution400, kResolution300,
                                                kResolution200};
            CheckRadio(dialog, IDC_DPI600, IDC_DPI200, control);
            SetResolutionCode(kCodes[control - IDC_DPI600]);
            return true;
        }
        case IDC_LABEL:
            if (!Variant->hasLabel) return false;
            if (notification == kFocusLost) ValidateLabel(dialog);
            return true;
        case IDC_RED_ON:
        case IDC_RED_OFF:
            SelectRedPrinting(dialog, control);
            return true;
        case IDC_RED_PEN:
            ValidateRedPen(dialog);
            return true;
        case IDC_DATA_RTL:
        case IDC_DATA_VCGL:
            SelectDataMode(dialog, control == IDC_DATA_VCGL);
            return true;
        default:
            return ButtonCommand(dialog, control);
    }
}

bool Scroll(DialogWindow dialog, int control, int /*code*/) {
    if (control == IDC_COPIES_SPIN) {
        W().copies = SpinPosition(dialog, IDC_COPIES_SPIN);
        SetControlUnsigned(dialog, IDC_COPIES, static_cast<std::uint16_t>(W().copies));
        SelectAllText(dialog, IDC_COPIES);
    } else if (control == IDC_MARGIN_SPIN) {
        W().marginMm = static_cast<std::int16_t>(SpinPosition(dialog, IDC_MARGIN_SPIN));
        SetControlUnsigned(dialog, IDC_MARGIN, static_cast<std::uint32_t>(W().marginMm));
        SelectAllText(dialog, IDC_MARGIN);
    }
    return true;
}

constexpr DialogLogic kConfigDialogLogic = {Init, Command, Scroll, nullptr, nullptr, true};

DialogResult Show(const ConfigDialogVariant& variant) {
    Variant = &variant;
    const std::int32_t result = RunDialog(variant.templateName, nullptr, kConfigDialogLogic);
    return result == static_cast<std::int32_t>(DialogResult::Ok) ? DialogResult::Ok
                                                                 : DialogResult::Cancel;
}

}  // namespace

DialogResult ShowDriverDialog() {
    return Show(kDriverVariant);
}
DialogResult ShowDetailDialog() {
    return Show(kDetailVariant);
}

}  // namespace varnu
