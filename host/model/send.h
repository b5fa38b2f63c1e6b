// A plot sent to the driver inside an open job, request by request.
#pragma once

#include <string>

#include "model/plot.h"

namespace varnu::host {

// Stops at the first request the driver refuses, and at an abort; `error`
// names the input's line ("drawing.dxf:12: ..."). `progress` shows how far
// an image has come, on a terminal.
bool Send(const Plot& plot, bool progress, std::string* error);

}  // namespace varnu::host
