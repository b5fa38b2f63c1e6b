// Scratch files no name reaches: whatever ends the program, nothing of them
// stays in their folder.
#pragma once

#include <string>

namespace varnu::host {

// A new file for reading and writing in `directory`, already without a
// name; -1 with `error` set when none can be made.
int OpenUnnamedFile(const std::string& directory, std::string* error);

}  // namespace varnu::host
