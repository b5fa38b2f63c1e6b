// Opening and closing a plot job: plot requests 30 and 2.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnu {

// What job start (request 30) sets up for one job; a new plot (request 49)
// and module load reset it as one.
struct JobStateRecord {
    std::int32_t OutputHandle = -1;  // NotifyHost's answer at job start
    // Device units of the plot area and of the margins.
    std::int32_t PageWidthUnits = 0;
    std::int32_t PageHeightUnits = 0;
    std::int32_t MarginUnits[4] = {0, 0, 0, 0};
};
extern JobStateRecord JobState;
void ResetJobState();

void JobStart();  // plot request 30
void JobEnd();    // plot request 2

void ResetJobOnLoad();

}  // namespace varnu
