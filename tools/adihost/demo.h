// adihost demo: the built-in sample drawing in both data modes.
#pragma once

#include <string>

#include "model/plot.h"
#include "session/job.h"

namespace adihost {

// The sample drawing for `sheet`, with its two generated images.
varnu::host::Plot DemoPlot(const varnu::host::Sheet& sheet);

// Writes demo-rtl.prn and demo-vcgl.prn into `directory`, and what the
// printer would make of each as a PNG; exit status.
int RunDemo(const std::string& directory, bool quiet);

}  // namespace adihost
