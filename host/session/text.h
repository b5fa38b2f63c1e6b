// The driver's texts are Windows-1252; the programs speak UTF-8.
#pragma once

#include <string>

namespace varnu::host {

std::string Utf8FromWindows1252(const std::string& text);

}  // namespace varnu::host
