#include "vector/pens.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/config_record.h"
#include "config/device_tables.h"
#include "interface/messages.h"
#include "interface/output_buffer.h"
#include "interface/packet.h"
#include "varnu/packet_layouts.h"
#include "varnu/vcgl_commands.h"
#include "vector/vector_state.h"

namespace varnu {

namespace {

constexpr int kHighestPatternedType = 8;
// Pattern length per line type, in percent of the P1-P2 diagonal.
constexpr double kPatternLength[kHighestPatternedType + 1] = {0.0, 1.0, 1.0, 2.0, 2.0,
                                                              2.0, 2.0, 2.0, 2.0};

constexpr char kSelectPen[] = "SP%d";
constexpr char kAdaptiveLineType[] = "LT-%d,%.1lf";  // adaptive pattern, relative length
constexpr char kSolidLine[] = "LT";
constexpr char kPenWidth[] = "PW%1.3lf";  // millimetres
constexpr double kMaxWidthMm = 297.0;
constexpr std::int32_t kMaxVcglWidth = 511;  // 1/400 inch

bool VcglMode() {
    return (Configuration.Config.modeFlags & kModeVcgl) != 0;
}

// Keeps a command as sent and appends it.
std::int32_t SendAndRecord(ReplayCommand& record, const void* bytes, std::int32_t length) {
    std::memcpy(record.bytes, bytes, length);
    record.length = length;
    return AppendBytes(length, bytes);
}

std::int32_t SendText(ReplayCommand& record, const char* format, auto... args) {
    char text[sizeof record.bytes];
    const int n = std::snprintf(text, sizeof text, format, args...);
    const std::int32_t length = n < 0                                ? 0
                                : n >= static_cast<int>(sizeof text) ? sizeof text - 1
                                                                     : n;
    return SendAndRecord(record, text, length);
}

std::int32_t SendWordCommand(ReplayCommand& record, const vcgl::Bytes<2>& head, std::int32_t word) {
    std::uint8_t command[4 + 1];
    command[0] = head[0];
    command[1] = head[1];
    PackBigEndian16(static_cast<std::uint16_t>(word), command + 2);
    return SendAndRecord(record, command, 4);
}

void Fail() {
    SetResult(kResultFailed);
}

}  // namespace

void KeepReplayForMode(DataMode mode) {
    if (Module.GraphicsStateReplay.mode == mode) return;
    Module.GraphicsStateReplay = GraphicsStateReplayRecord{};
    Module.GraphicsStateReplay.mode = mode;
}

std::int32_t CloseOpenSequence() {
    if (!VcglMode() && PageState.PenState != kPenClosed && AppendText(";") != 0) return -1;
    SetPenState(kPenClosed);
    return 0;
}

void SelectPen() {
    if (CloseOpenSequence() != 0) return Fail();
    const std::uint16_t hostPen = PacketGet<std::uint16_t>(layout::pen::kPen);
    PageState.LinePen = JobState.BlackPen;
    const ModelRecord* model = Model(Configuration.CurrentModel);
    if (model != nullptr && model->redPrinting == 1 &&
        (Configuration.Config.modeFlags & kModeRedPrinting) != 0 &&
        hostPen == Configuration.Config.redPen) {
        PageState.LinePen = static_cast<std::int16_t>(Configuration.Config.redPen);
    }
    if (!VcglMode()) {
        if (SendText(Module.GraphicsStateReplay.pen, kSelectPen, PageState.LinePen) != 0)
            return Fail();
        return;
    }
    if (SendWordCommand(Module.GraphicsStateReplay.pen, vcgl::kLinePenHead, PageState.LinePen) != 0)
        return Fail();
    if (SendWordCommand(Module.GraphicsStateReplay.hostPen, vcgl::kHostPenHead, hostPen) != 0)
        return Fail();
}

void SelectLineType() {
    if (CloseOpenSequence() != 0) return Fail();
    const std::uint16_t n = PacketGet<std::uint16_t>(layout::pen::kLineType);
    // A host that declares more than 8 line types gets solid lines above 8.
    const bool patterned = n != 0 && n <= static_cast<std::uint16_t>(Module.LineTypeCount) &&
                           n <= kHighestPatternedType;
    std::int32_t status;
    if (!VcglMode()) {
        status = patterned ? SendText(Module.GraphicsStateReplay.lineType, kAdaptiveLineType, n,
                                      kPatternLength[n])
                           : SendText(Module.GraphicsStateReplay.lineType, "%s", kSolidLine);
    } else {
        status = SendWordCommand(Module.GraphicsStateReplay.lineType, vcgl::kLineTypeHead,
                                 patterned ? n : 0);
    }
    if (status != 0) Fail();
}

void SelectPenWidth() {
    SetResult(kResultOk);
    if (CloseOpenSequence() != 0) return Fail();
    const double w = PacketGet<double>(layout::pen::kWidth);
    std::int32_t status;
    if (!VcglMode()) {
        // A width the host cannot mean (negative, not a number) draws as wide as
        // the widest, as a negative one always has.
        double mm = w * 25.4;
        if (!(w >= 0.0) || mm > kMaxWidthMm) mm = kMaxWidthMm;
        status = SendText(Module.GraphicsStateReplay.width, kPenWidth, mm);
    } else {
        const double d = w * 400.0;
        std::int32_t value;
        if (!(w >= 0.0) || d > kMaxVcglWidth)
            value = kMaxVcglWidth;
        else if (d < 1.0)
            value = 1;
        else
            value = static_cast<std::int32_t>(std::floor(d));
        status = SendWordCommand(Module.GraphicsStateReplay.width, vcgl::kPenWidthHead, value);
    }
    if (status != 0) Fail();
}

void SetLineTypeCount() {
    Module.LineTypeCount = PacketGet<std::int16_t>(layout::pen::kLineTypeCount);
}

void RefreshModel() {
    Configuration.CurrentModel =
        Model(Configuration.Config.modelIndex) != nullptr ? Configuration.Config.modelIndex : 0;
    Module.LineTypeCount = PacketGet<std::uint8_t>(layout::pen::kLineTypeCount8);
}

void DescribeLineTypes() {
    ReportMessage("\n%s", Module.ActiveMessages[kMsgLineTypeSolid]);
    for (int type = 1; type <= 7; ++type)
        ReportMessage("\n                %d%s", type,
                      Module.ActiveMessages[kMsgLineTypeSolid + type]);
    ReportMessage("\n");
}

}  // namespace varnu
