// Job scripts (.adi): one request a line, read and checked whole before
// any request reaches the driver.
#pragma once

#include <memory>
#include <string>

#include "model/document.h"
#include "model/plot.h"

namespace varnu::host {

// Errors read "FILE:LINE: what was expected".
bool ReadScript(const std::string& path, Plot* plot, std::string* error);
// A job script as a document of one page; refused when it draws nothing.
std::unique_ptr<Document> OpenScript(const std::string& path, const DocumentOptions& options,
                                     std::string* error);
bool ReadScriptText(const std::string& text, const std::string& path, Plot* plot,
                    std::string* error);

}  // namespace varnu::host
