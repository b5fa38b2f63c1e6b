// Job scripts (.adi): one request a line, read and checked whole before
// any request reaches the driver.
#pragma once

#include <string>

#include "model/plot.h"

namespace varnu::host {

// Errors read "FILE:LINE: what was expected".
bool ReadScript(const std::string& path, Plot* plot, std::string* error);
bool ReadScriptText(const std::string& text, const std::string& path, Plot* plot,
                    std::string* error);

}  // namespace varnu::host
