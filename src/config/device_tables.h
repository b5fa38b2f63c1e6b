// The printer's tables as the driver changes them: the custom paper rows'
// lengths and the paper names of the last list.
#pragma once

#include <array>
#include <cstdint>

#include "config/configuration.h"
#include "varnu/printer_tables.h"

namespace varnu {

PaperFormatRecord* MutablePaperFormat(std::int32_t model, std::int32_t row);

void RebuildPaperNameList(std::int32_t model);

}  // namespace varnu
