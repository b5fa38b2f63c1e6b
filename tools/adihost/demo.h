// adihost demo: the built-in sample job in both data modes.
#pragma once

#include <string>

#include "adihost/script.h"

namespace adihost {

// The sample drawing for a page of `extentX` x `extentY` inches at
// `resolution` host steps per inch, with its two generated images.
Script DemoScript(double extentX, double extentY, double resolution);

// Writes demo-rtl.prn and demo-vcgl.prn into `directory`; exit status.
int RunDemo(const std::string& directory, bool quiet);

}  // namespace adihost
