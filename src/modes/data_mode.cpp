#include "modes/data_mode.h"

#include <cstring>

#include "interface/output_buffer.h"

namespace varnu {

// Each defined in its mode's file.
extern const DataModeOps kRtlGl2Mode;
extern const DataModeOps kVcglMode;

namespace {

// clang-format off
constexpr const DataModeOps* kDataModes[kDataModeCount] = {
    &kRtlGl2Mode,  // DataMode::kRtlGl2: PJL, HP-GL/2, HP-RTL raster
    &kVcglMode,    // DataMode::kVcgl: binary VCGL with MMR raster
};
// clang-format on

}  // namespace

const DataModeOps& ModeOps(DataMode mode) {
    return *kDataModes[static_cast<int>(mode)];
}

void StartJobInMode(DataMode mode) {
    if (Module.JobMode == mode) return;
    const ModuleStateRecord load;
    Module.JobMode = mode;
    Module.CurrentDpi = load.CurrentDpi;
    std::memcpy(Module.ResolutionCommand, load.ResolutionCommand, sizeof load.ResolutionCommand);
    Module.GraphicsStateReplay = load.GraphicsStateReplay;
}

std::int32_t SendAndRecord(ReplayCommand& record, const void* bytes, std::int32_t length) {
    std::memcpy(record.bytes, bytes, static_cast<std::size_t>(length));
    record.length = length;
    return AppendBytes(length, bytes);
}

bool RedPenApplies(const ModelRecord& model, std::int32_t pen) {
    const ConfigRecord& config = Configuration.Config;
    return model.redPrinting == 1 && (config.modeFlags & kModeRedPrinting) != 0 &&
           config.redPen == pen;
}

}  // namespace varnu
