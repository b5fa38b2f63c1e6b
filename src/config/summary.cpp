#include "config/summary.h"

#include "config/config_record.h"
#include "config/device_tables.h"
#include "interface/lifetimes.h"
#include "interface/messages.h"

namespace varnu {

namespace {

// Slots of the texts the summary prints.
enum SummarySlot : int {
    kPlotter = 25,
    kFormat = 26,
    kCopies = 27,
    kPort = 28,
    kParallel = 29,
    kDataVcgl = 33,
    kDataRtl = 34,
    kFillHalftone = 35,
    kFillSolid = 36,
    kResolutionHeading = 49,
    kDpi600 = 50,
    kDpi400 = 51,
    kDpi300 = 52,
    kDpi200 = 53,
    kProgram = 55,
    kMargin = 56,
    kBin = 57,
    kMedia = 58,
    kManualOn = 70,
    kManualOff = 71,
    kRedOn = 72,
    kRedOff = 73,
};

const char* Text(int slot) {
    return Module.ActiveMessages[slot];
}

void Item(int slot, const char* value) {
    ReportMessage("\n %s%s ", Text(slot), value);
}
void Line(int slot) {
    ReportMessage("\n %s", Text(slot));
}

}  // namespace

void PrintConfigurationSummary() {
    const ModelRecord* model = Model(Configuration.CurrentModel);
    if (model == nullptr) model = &ModelTable[0];
    const bool vcgl = CurrentDataMode() == DataMode::kVcgl;

    ReportMessage(" %s", Text(kPlotter));
    ReportMessage("%s", model->name);
    if (model->media == 1) {
        const MediaRecord* media =
            Media(Configuration.CurrentModel, Configuration.Config.mediaIndex);
        Item(kMedia, media == nullptr ? "" : vcgl ? media->vcglName : media->name);
    }
    const std::int32_t paper = Configuration.Config.paperIndex - 1;
    Item(kFormat, paper >= 0 && paper < Configuration.PaperNameList.count
                      ? Configuration.PaperNameList.names[paper]
                      : "");
    Line(vcgl ? kDataVcgl : kDataRtl);
    if (model->finisher == 1) {
        if (Configuration.Config.finishProgramIndex == 0) {
            Item(kProgram, FinishProgram(Configuration.CurrentModel, 0)->name);
        } else {
            const FinishingChoiceRecord* program =
                FinishProgram(Configuration.CurrentModel, Configuration.Config.finishProgramIndex);
            const FinishingChoiceRecord* margin =
                FinishMargin(Configuration.CurrentModel, Configuration.Config.finishMarginIndex);
            const FinishingChoiceRecord* bin =
                OutputBin(Configuration.CurrentModel, Configuration.Config.outputBinIndex);
            Item(kProgram, program != nullptr ? program->name : "");
            Item(kMargin, margin != nullptr ? margin->name : "");
            Item(kBin, bin != nullptr ? bin->name : "");
        }
    }
    if (model->redPrinting == 1)
        Line((Configuration.Config.modeFlags & kModeRedPrinting) ? kRedOn : kRedOff);
    if (model->manualOutput == 1)
        Line((Configuration.Config.modeFlags & kModeManualOutput) ? kManualOn : kManualOff);
    Line((Configuration.Config.optionFlags & kOptionHalftoneFill) ? kFillHalftone : kFillSolid);
    Line(kResolutionHeading);
    switch (Configuration.Config.modeFlags & kModeResolutionMask) {
        case kResolution600:
            ReportMessage("%s", Text(kDpi600));
            break;
        case kResolution400:
            ReportMessage("%s", Text(kDpi400));
            break;
        case kResolution300:
            ReportMessage("%s", Text(kDpi300));
            break;
        default:
            ReportMessage("%s", Text(kDpi200));
            break;
    }
    ReportMessage("\n %s%2d ", Text(kCopies), Configuration.JobCopies);
    Line(kPort);
    ReportMessage("%s", Text(kParallel));  // the port is reported as parallel, whatever the line is
    ReportMessage("\n");
}

}  // namespace varnu
