// The dialogs of driver request 21 and plot request 46, driven as a user would.
#pragma once

#include "reference_jobs.h"

namespace wintest {

void RunDialogScenarios(varnu::reference::PladiFn pladi,
                        varnu::reference::LowAllocateFn lowAllocate);

}  // namespace wintest
