// The configuration in use while the driver runs: the record and the values
// derived from it.
#pragma once

#include <cstdint>

#include "varnu/config_record.h"

namespace varnu {

extern ConfigRecord Config;        // the driver's one block; zero at module load
extern std::int32_t CurrentModel;  // model row in use
extern std::int32_t JobCopies;     // copies for the current job; not stored
inline constexpr int kLabelTextMax = 64;
extern char LabelText[kLabelTextMax + 1];  // label of the next job; not stored

// Fills Config with the defaults for a model row and rebuilds the tone curve
// through the default curve values; modelIndex keeps its value.
void applyConfigDefaults(std::int32_t model);

// Host round trips of Config. LoadConfigFromHost takes the host's bytes only
// when the host reports success, and reads a field outside its range as its
// default; both return the host's result (0 = done).
std::int32_t LoadConfigFromHost();
std::int32_t StoreConfigToHost();

// Module load: block zero, one copy, no label.
void ResetConfigOnLoad();

}  // namespace varnu
