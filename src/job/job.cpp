// Plot request 30 writes the device set-up that precedes the drawing; plot
// request 2 closes the page and hands everything to the host.
#include "job/job.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/config_record.h"
#include "config/device_tables.h"
#include "config/page_geometry.h"
#include "interface/host_services.h"
#include "interface/messages.h"
#include "interface/output_buffer.h"
#include "interface/packet.h"
#include "job/requests.h"
#include "raster/image_request.h"
#include "varnu/pen_palette.h"
#include "varnu/vcgl_commands.h"
#include "vector/device_setup.h"
#include "vector/pens.h"
#include "vector/vector_state.h"

namespace varnu {

namespace {

// PJL wrapper and HP-GL/2 set-up texts.
constexpr char kPjlEnter[] = "\x1b%-12345X@PJL\r\n";  // UEL, PJL
constexpr char kPjlLanguage[] = "@PJL ENTER LANGUAGE=HPGL2\r\n";
constexpr char kEnterHpgl2[] = "\x1b%0B;";                 // HP-GL/2 mode
constexpr char kBeginPlot[] = "BP2,%d;IN;";                // copies
constexpr char kBeginPlotLabel[] = "BP1,\"%s\",2,%d;IN;";  // label, copies
constexpr char kPageSize[] = "PS%ld,%ld";
constexpr char kInputWindow[] = "IP%ld,%ld,%ld,%ld";
constexpr char kScale[] = "SC0,%ld,0,%ld";
constexpr char kWindow[] = "IW0,0,%ld,%ld;";
constexpr char kManualOutputOn[] = "XF4,1;";
constexpr char kManualOutputOff[] = "XF4,0;";
constexpr char kLineAttributes[] = "LA1,4,2,4SP7RF";  // round ends and joins, pen 7
constexpr char kHomeRelative[] = "PUPA0,0PR;";
constexpr char kTransparency[] = "TR0;";
constexpr char kRtlPageEnd[] = ";PUSP0;PG;";  // closes an open PE too
constexpr char kPjlExit[] = "\x1b%-12345X\r\n";

// Serial handshake, sent to the device outside the plot data.
constexpr const char* kXonXoffHandshake[] = {"\x1b.R",
                                             "\x1b.I81;0;17:", "\x1b.N10;19:", "\x1b.@;0:"};
constexpr const char* kHardwareHandshake[] = {"\x1b.R", "\x1b.@;1:"};

template <std::size_t N>
std::int32_t Append(const std::array<std::uint8_t, N>& bytes) {
    return AppendBytes(static_cast<std::int32_t>(N), bytes.data());
}

// The set-up steps below return false when an append failed (the buffer has
// latched the failure already); JobStart then fails the job here, once: the
// job is over until request 49.
void FailJob() {
    JobState.ErrorLatch = kLatchOutput;
    SetResult(kResultFailed);
}

void SendSerialHandshake() {
    if ((Configuration.HostOptionBits & kHostOwnsHandshake) != 0 ||
        (Configuration.Config.optionFlags & kOptionSerial) == 0)
        return;
    switch (Configuration.Config.optionFlags & kOptionHandshakeMask) {
        case kHandshakeXonXoff:
            for (const char* s : kXonXoffHandshake) HostSendDeviceString(s);
            break;
        case kHandshakeHardware:
            for (const char* s : kHardwareHandshake) HostSendDeviceString(s);
            break;
        default:
            break;
    }
}

bool RtlHead(const ModelRecord& model) {
    SendSerialHandshake();
    if (AppendText(kPjlEnter) != 0) return false;
    if (model.finisher == 1) {
        const FinishingChoiceRecord* program =
            FinishProgram(Configuration.CurrentModel, Configuration.Config.finishProgramIndex);
        if (program != nullptr) {
            if (AppendText(program->pjlLine) != 0) return false;
            if (!IsBypassProgram(*program)) {
                const FinishingChoiceRecord* margin = FinishMargin(
                    Configuration.CurrentModel, Configuration.Config.finishMarginIndex);
                const FinishingChoiceRecord* bin =
                    OutputBin(Configuration.CurrentModel, Configuration.Config.outputBinIndex);
                if (margin != nullptr && AppendText(margin->pjlLine) != 0) return false;
                if (bin != nullptr && AppendText(bin->pjlLine) != 0) return false;
            }
        }
    }
    if (AppendText(kPjlLanguage) != 0 || AppendText(kEnterHpgl2) != 0) return false;
    // Inside the HP-GL/2 string a quote is written twice, so no label byte
    // can end the string and start a command of its own.
    char quoted[2 * kLabelTextMax + 1];
    std::size_t q = 0;
    for (const char* c = Configuration.LabelText; *c != '\0' && q + 2 < sizeof quoted; ++c) {
        if (*c == '"') quoted[q++] = '"';
        quoted[q++] = *c;
    }
    quoted[q] = '\0';
    const std::int32_t begin =
        Configuration.LabelText[0] == '\0'
            ? AppendFormat(kBeginPlot, Configuration.Config.copies)
            : AppendFormat(kBeginPlotLabel, quoted, Configuration.Config.copies);
    if (begin != 0) return false;
    const MediaRecord* media = Media(Configuration.CurrentModel, Configuration.Config.mediaIndex);
    if (model.media == 1 && media != nullptr && media->hpglCommand[0] != '\0') {
        if (AppendText(media->hpglCommand) != 0) return false;
    }
    return true;
}

bool VcglHead(const ModelRecord& model) {
    if (Append(vcgl::kJobBegin) != 0) return false;
    const MediaRecord* media = Media(Configuration.CurrentModel, Configuration.Config.mediaIndex);
    if (model.media == 1 && media != nullptr && media->vcglCommand[0] != 0) {
        // Length from the command's own fourth byte, never past its field.
        const std::int32_t length = media->vcglCommand[3] + 4;
        const std::int32_t bounded = length < 60 ? length : 60;
        if (AppendBytes(bounded, media->vcglCommand) != 0) return false;
    }
    // Copies: a failure here shows at the next step.
    Append(vcgl::kCopiesHead);
    AppendFormat("%02X", Configuration.Config.copies);
    if (model.manualOutput == 1 && (Configuration.Config.modeFlags & kModeManualOutput) != 0) {
        if (Append(vcgl::kManualOutput) != 0) return false;
    }
    if (VcglJobHeader() != 0) return false;

    const std::int32_t n = static_cast<std::int32_t>(std::strlen(Configuration.LabelText));
    if (n > 0) {
        std::uint8_t head[1 + 2 + 3];
        std::int32_t k = 0;
        head[k++] = vcgl::kLabelOpcode;
        k +=
            PackBigEndian8(static_cast<std::uint8_t>(n % 2 == 0 ? n / 2 + 1 : n / 2 + 2), head + k);
        k += PackBigEndian16(static_cast<std::uint16_t>(n), head + k);
        if (AppendBytes(k, head) != 0) return false;
        // An odd label is padded to whole words with its terminating NUL.
        if (AppendBytes(n % 2 == 0 ? n : n + 1, Configuration.LabelText) != 0) return false;
    }
    return true;
}

void ComputeDeviceUnits() {
    const double resolution = Configuration.PageGeometry.HostResolution[0];
    const double scale = Configuration.PageGeometry.ScaleFactor;
    JobState.PageWidthUnits = TruncateToInt32(
        std::floor(Configuration.PageGeometry.HostResolution[0] * JobState.PlotExtentX * scale));
    JobState.PageHeightUnits = TruncateToInt32(
        std::floor(Configuration.PageGeometry.HostResolution[1] * JobState.PlotExtentY * scale));
    for (int i = 0; i < 4; ++i)
        JobState.MarginUnits[i] = TruncateToInt32(
            std::floor(Configuration.PageGeometry.MarginInches[i] * resolution) * scale);
}

bool VcglTail(const ModelRecord& model) {
    // Halftone cells of the grey levels; results show at the next checked step.
    for (int g = 0; g < 256; ++g) {
        const int v = GreyRemapTable[GreyRemapTable[GreyRemapTable[g]]];
        Append(vcgl::kHalftoneHead);
        AppendWords({g, 16, 16});
        std::uint8_t rows[2 * 16 + 1];
        for (int r = 0; r < 16; ++r) PackBigEndian16(HalftonePatternTable[v][r], rows + 2 * r);
        AppendBytes(32, rows);
    }
    for (int p = 0; p < 256; ++p) {
        Append(vcgl::kPaletteHead);
        if (RedPenApplies(model, p)) {
            AppendWords({p, -1, -1, 0, -1});
        } else {
            const std::int32_t grey = PenGrey(p);
            AppendWords({p, grey, -1, -1, -1});
            if (grey == 0) JobState.BlackPen = static_cast<std::int16_t>(p);
        }
    }
    if (VcglDefaultAttributes() != 0) return false;
    // Width 0 while the page corners are marked, then the default width.
    if (Append(vcgl::kPenWidthHead) != 0 || AppendWords({0}) != 0) return false;
    if (AppendVcglDot(0, 0) != 0) return false;
    const bool across = Configuration.PageGeometry.LongEdgeAcross == 1;
    if (AppendVcglDot(across ? JobState.PageHeightUnits : JobState.PageWidthUnits,
                      across ? JobState.PageWidthUnits : JobState.PageHeightUnits) != 0)
        return false;
    if (Append(vcgl::kPenWidthHead) != 0) return false;
    return AppendWords({static_cast<std::int32_t>(std::floor(1.112))}) == 0;
}

bool RtlTail(const ModelRecord& model) {
    const long w = JobState.PageWidthUnits, h = JobState.PageHeightUnits;
    const long m0 = JobState.MarginUnits[0], m1 = JobState.MarginUnits[1],
               m2 = JobState.MarginUnits[2], m3 = JobState.MarginUnits[3];
    const bool across = Configuration.PageGeometry.LongEdgeAcross == 1;
    if (AppendFormat(kPageSize, (across ? h : w) + m1 + m0, (across ? w : h) + m3 + m2) != 0)
        return false;
    if (AppendFormat(kInputWindow, m2, m1, w + m3, h + m0) != 0) return false;
    if (AppendFormat(kScale, w, h) != 0) return false;
    std::snprintf(Module.SavedWindowCommand, sizeof Module.SavedWindowCommand, kWindow, w, h);
    if (AppendText(Module.SavedWindowCommand) != 0) return false;
    if (model.manualOutput == 1) {
        const bool manual = (Configuration.Config.modeFlags & kModeManualOutput) != 0;
        if (AppendText(manual ? kManualOutputOn : kManualOutputOff) != 0) return false;
    }
    if (AppendText(kLineAttributes) != 0 || AppendText(kPenCount) != 0 ||
        AppendText(kColourRange) != 0)
        return false;

    // Pens 1..255 with their greys. With red printing possible, the darkest
    // pen becomes BlackPen.
    for (int p = 1; p < 256; ++p) {
        char text[32];
        FormatPenColour(p, text, sizeof text);
        if (model.redPrinting == 1 && !RedPenApplies(model, p) && PenGrey(p) == 0)
            JobState.BlackPen = static_cast<std::int16_t>(p);
        if (AppendText(text) != 0) return false;
    }
    return AppendText(kHomeRelative) == 0 && AppendText(kTransparency) == 0;
}

}  // namespace

void ForgetFailedJobOutput() {
    PageState.PageHasContent = 0;
    Configuration.JobCopies = 1;
}

void JobStart() {
    Image.PendingImage.marker = 0;
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    // A new page: nothing drawn, nothing waiting.
    ReleaseCommandBuffer();
    PageState = PageStateRecord{};
    const bool vcglMode = (Configuration.Config.modeFlags & kModeVcgl) != 0;
    KeepReplayForMode(vcglMode ? DataMode::kVcgl : DataMode::kRtlGl2);
    if (!vcglMode)
        Module.PeOpener = (Configuration.Config.optionFlags & kOptionPe8Bit) ? "PE" : "PE7";

    if (!AllocateCommandBuffer()) {
        ReportMessage("\n%s", Module.ActiveMessages[kMsgNoMemory]);
        JobState.ErrorLatch = kLatchOutput;
        SetResult(kResultFailed);
        return;
    }
    JobState.OutputHandle = HostNotify(30, 1);

    const ModelRecord* model = Model(Configuration.CurrentModel);
    if (model == nullptr) model = Model(0);
    if (!(vcglMode ? VcglHead(*model) : RtlHead(*model))) {
        FailJob();
        return;
    }
    ComputeDeviceUnits();
    if (!(vcglMode ? VcglTail(*model) : RtlTail(*model))) {
        FailJob();
        return;
    }
    Image.PendingImage.marker = 0;
}

void JobEnd() {
    SetPenState(kPenClosed);
    if (JobState.ErrorLatch == kLatchClear && PageState.PageHasContent == 1) {
        PageState.PageHasContent = 0;
        if ((Configuration.Config.modeFlags & kModeVcgl) != 0) {
            Append(vcgl::kVcglPreamble);
            Append(vcgl::kPageEnd);
            Append(vcgl::kJobEnd);
        } else {
            AppendText(kRtlPageEnd);
            AppendText(kPjlExit);
        }
        Configuration.JobCopies = 1;
        if (PageState.CommandFill > 0 && JobState.ErrorLatch == kLatchClear && FlushOutput() != 0)
            JobState.ErrorLatch = kLatchOutput;
    }
    ReleaseCommandBuffer();
    if (JobState.OutputHandle >= 0) HostNotify(JobState.OutputHandle, 1);
}

}  // namespace varnu
