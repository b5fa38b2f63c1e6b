// The application's state file: PAPPL writes it a line a value, so what a
// client set is checked before each save (and after loading one an older
// version wrote): texts without control characters, vendor defaults the
// printer offers.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace varnu::printer_app {

// Loads `path` (when it exists) and saves the state there whenever it
// changes.
void LoadState(pappl_system_t* system, const std::string& path);

// What a client set, made safe to keep: control characters become blanks,
// a vendor default the printer does not offer its own default again.
void KeepStateSafe(pappl_system_t* system);

}  // namespace varnu::printer_app
