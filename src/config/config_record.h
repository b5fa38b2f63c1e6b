// The configuration in use while the driver runs: the record and the values
// derived from it.
#pragma once

#include <cstdint>

#include "config/configuration.h"
#include "interface/lifetimes.h"
#include "varnu/config_record.h"

namespace varnu {

// The data mode the configuration chooses.
inline DataMode CurrentDataMode() {
    return (Configuration.Config.modeFlags & kModeVcgl) != 0 ? DataMode::kVcgl : DataMode::kRtlGl2;
}

// Fills Config with the defaults for a model row and rebuilds the tone curve
// through the default curve values; modelIndex keeps its value.
void applyConfigDefaults(std::int32_t model);

// Host round trips of Config. LoadConfigFromHost takes the host's bytes only
// when the host reports success, and reads a field outside its range as its
// default; both return the host's result (0 = done).
std::int32_t LoadConfigFromHost();
std::int32_t StoreConfigToHost();

}  // namespace varnu
