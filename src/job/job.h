// Opening and closing a plot job: plot requests 30 and 2.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnu {

extern std::int32_t OutputHandle;  // NotifyHost's answer at job start; -1 after request 49

// Device units of the plot area and of the margins, set at job start.
extern std::int32_t PageWidthUnits;
extern std::int32_t PageHeightUnits;
extern std::int32_t MarginUnits[4];

void JobStart();  // plot request 30
void JobEnd();    // plot request 2

void ResetJobOnLoad();

}  // namespace varnu
