// The printer's settings page of its own in the web interface: the
// finishing and margin settings under English labels.
#pragma once

#include <pappl/pappl.h>

namespace varnu::printer_app {

// papplSystemSetPrinterDrivers' creation callback: the page and its link
// for `printer`.
void AddSettingsPage(pappl_printer_t* printer, void* context);

}  // namespace varnu::printer_app
