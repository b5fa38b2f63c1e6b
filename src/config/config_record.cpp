#include "config/config_record.h"

#include <cstring>

#include "config/device_tables.h"
#include "config/tone_curve.h"
#include "interface/host_services.h"
#include "varnu/byte_order.h"
#include "varnu/default_tone_curve.h"

namespace varnu {

ConfigurationRecord Configuration;

void EncodeConfigRecord(const ConfigRecord& r, std::uint8_t out[kConfigRecordSize]) {
    StoreLe(out, 0, r.copies);
    StoreLe(out, 4, r.paperIndex);
    StoreLe(out, 8, r.customLengthMm);
    StoreLe(out, 12, r.mediaIndex);
    StoreLe(out, 14, r.finishProgramIndex);
    StoreLe(out, 16, r.finishMarginIndex);
    StoreLe(out, 18, r.outputBinIndex);
    StoreLe(out, 20, r.redPen);
    StoreLe(out, 24, r.spareWord);
    StoreLe(out, 26, r.marginMm);
    StoreLe(out, 28, r.optionFlags);
    StoreLe(out, 30, r.modeFlags);
    StoreLe(out, 32, r.modelIndex);
    std::memcpy(out + 34, r.curvePoints, kCurvePointCount);
    out[39] = r.unusedByte;
}

void DecodeConfigRecord(const std::uint8_t in[kConfigRecordSize], ConfigRecord* r) {
    r->copies = LoadLe<std::int32_t>(in, 0);
    r->paperIndex = LoadLe<std::int32_t>(in, 4);
    r->customLengthMm = LoadLe<std::int32_t>(in, 8);
    r->mediaIndex = LoadLe<std::int16_t>(in, 12);
    r->finishProgramIndex = LoadLe<std::int16_t>(in, 14);
    r->finishMarginIndex = LoadLe<std::int16_t>(in, 16);
    r->outputBinIndex = LoadLe<std::int16_t>(in, 18);
    r->redPen = LoadLe<std::int32_t>(in, 20);
    r->spareWord = LoadLe<std::int16_t>(in, 24);
    r->marginMm = LoadLe<std::int16_t>(in, 26);
    r->optionFlags = LoadLe<std::uint16_t>(in, 28);
    r->modeFlags = LoadLe<std::uint16_t>(in, 30);
    r->modelIndex = LoadLe<std::int16_t>(in, 32);
    std::memcpy(r->curvePoints, in + 34, kCurvePointCount);
    r->unusedByte = in[39];
}

ConfigRecord DefaultConfigRecord(std::int32_t model) {
    ConfigRecord r{};
    r.copies = 1;
    r.paperIndex = 1;
    r.customLengthMm = defaultCustomLength(model, 1);
    r.redPen = 1;
    r.spareWord = 2;
    // The curve through the default table's values at the five inputs, not
    // the default table itself.
    for (int i = 0; i < kCurvePointCount; ++i) r.curvePoints[i] = DefaultToneCurve[kCurveInputs[i]];
    r.optionFlags = kOptionHalftoneFill;
    const ModelRecord* row = Model(model);
    r.modeFlags = (row != nullptr && row->dpi600 == 1) ? kResolution600 : kResolution400;
    return r;
}

void applyConfigDefaults(std::int32_t model) {
    ConfigRecord r = DefaultConfigRecord(model);
    r.modelIndex = Configuration.Config.modelIndex;
    r.unusedByte = Configuration.Config.unusedByte;
    Configuration.Config = r;
    Configuration.ToneCurve = DefaultToneCurve;
    rebuildToneCurveFromConfig();
}

namespace {

// The host hands back whatever it stored; a field outside the range the
// dialogs keep (a damaged or foreign record) reads as its default, so that no
// index ever points outside a table. Copies are left to the plot opening,
// which has its own rule for them.
void ReplaceOutOfRangeFields(ConfigRecord* r) {
    const std::int32_t model = Model(r->modelIndex) != nullptr ? r->modelIndex : 0;
    if (PaperFormat(model, r->paperIndex) == nullptr) r->paperIndex = 1;
    if (r->customLengthMm < 1 || r->customLengthMm > kMaxCustomLengthMm)
        r->customLengthMm = defaultCustomLength(model, 1);
    if (Media(model, r->mediaIndex) == nullptr) r->mediaIndex = 0;
    if (FinishProgram(model, r->finishProgramIndex) == nullptr) r->finishProgramIndex = 0;
    if (FinishMargin(model, r->finishMarginIndex) == nullptr) r->finishMarginIndex = 0;
    if (OutputBin(model, r->outputBinIndex) == nullptr) r->outputBinIndex = 0;
    if (r->redPen < 1 || r->redPen > 255) r->redPen = 1;
    if (r->marginMm < 0 || r->marginMm > kMaxMarginMm) r->marginMm = 0;
}

}  // namespace

std::int32_t LoadConfigFromHost() {
    std::uint8_t bytes[kConfigRecordSize];
    EncodeConfigRecord(Configuration.Config, bytes);
    const std::int32_t result = HostLoadConfig(bytes);
    if (result == 0) {
        DecodeConfigRecord(bytes, &Configuration.Config);
        ReplaceOutOfRangeFields(&Configuration.Config);
    }
    return result;
}

std::int32_t StoreConfigToHost() {
    std::uint8_t bytes[kConfigRecordSize];
    EncodeConfigRecord(Configuration.Config, bytes);
    return HostStoreConfig(bytes);
}

}  // namespace varnu
