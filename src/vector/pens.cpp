#include "vector/pens.h"

#include "config/config_record.h"
#include "config/device_tables.h"
#include "interface/messages.h"
#include "interface/output_buffer.h"
#include "interface/packet.h"
#include "modes/data_mode.h"
#include "varnu/packet_layouts.h"

namespace varnu {

namespace {

// Types above it draw solid, as do all while the host declares none.
constexpr int kHighestPatternedType = 8;

void Fail() {
    SetResult(kResultFailed);
}

}  // namespace

std::int32_t CloseOpenSequence() {
    if (ActiveMode().closeSequence() != 0) return -1;
    SetPenState(kPenClosed);
    return 0;
}

void SelectPen() {
    if (CloseOpenSequence() != 0) return Fail();
    const std::uint16_t hostPen = PacketGet<std::uint16_t>(layout::pen::kPen);
    PageState.LinePen = JobState.BlackPen;
    const ModelRecord* model = Model(Configuration.CurrentModel);
    if (model != nullptr && RedPenApplies(*model, hostPen))
        PageState.LinePen = static_cast<std::int16_t>(Configuration.Config.redPen);
    if (ActiveMode().pen(PageState.LinePen, hostPen) != 0) Fail();
}

void SelectLineType() {
    if (CloseOpenSequence() != 0) return Fail();
    const std::uint16_t n = PacketGet<std::uint16_t>(layout::pen::kLineType);
    // A host that declares more than 8 line types gets solid lines above 8.
    const bool patterned = n != 0 && n <= static_cast<std::uint16_t>(Module.LineTypeCount) &&
                           n <= kHighestPatternedType;
    if (ActiveMode().lineType(n, patterned) != 0) Fail();
}

void SelectPenWidth() {
    SetResult(kResultOk);
    if (CloseOpenSequence() != 0) return Fail();
    if (ActiveMode().width(PacketGet<double>(layout::pen::kWidth)) != 0) Fail();
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
