// The printer's web pages of its own (media, jobs, supplies) and the
// labels PAPPL's pages show for the printer's settings.
#pragma once

#include <pappl/pappl.h>

namespace varnu::printer_app {

// Registers the pages for `printer`; before PAPPL registers its own at
// those paths (papplPrinterCreate's creation callback), so that these serve.
void AddPrinterPages(pappl_printer_t* printer);

// The English label for a key PAPPL looks up ("varnu-finishing-program",
// "media-type.com.varnu.vellum"), or none.
const char* WebLabel(const char* key);

}  // namespace varnu::printer_app
