// The printer's tables as the driver changes them: the custom paper rows'
// lengths and the paper names of the last list.
#pragma once

#include <array>
#include <cstdint>

#include "varnu/printer_tables.h"

namespace varnu {

// Mutable: a custom row's length follows the configured custom length.
extern std::array<PaperFormatRecord, kModelGroups * kPaperRowsPerModel> PaperFormatTable;
PaperFormatRecord* MutablePaperFormat(std::int32_t model, std::int32_t row);

// Paper names copied out in row order, 50 bytes an entry; rebuilt when a
// paper combo box is filled and by plot request 48.
inline constexpr int kPaperNameSize = 50;
struct PaperNameListRecord {
    char names[kPaperRowsPerModel][kPaperNameSize];
    std::int32_t count;
};
extern PaperNameListRecord PaperNameList;
void RebuildPaperNameList(std::int32_t model);

// Module load: custom rows back to their table length, name list empty.
void ResetDeviceTablesOnLoad();

}  // namespace varnu
