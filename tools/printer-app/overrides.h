// IPP page overrides: a job's "overrides" give pages of it their own
// media, print quality, resolution or scaling. Each page is a driver job of
// its own, so a page's settings are as free as a job's.
#pragma once

#include <pappl/pappl.h>

namespace varnu::printer_app {

// What an override may set beside the pages (and the document, which is
// always the first) it is for.
inline constexpr const char* kOverridable[] = {"media", "media-col", "print-quality",
                                               "printer-resolution", "print-scaling"};

// The override for page `page` (from 1) of the job, or none.
ipp_t* PageOverride(pappl_job_t* job, unsigned page);
// The job's options for page `page`, with what its override sets.
pappl_pr_options_t PageOptions(pappl_job_t* job, const pappl_pr_options_t& options, unsigned page);
// Whether the request's overrides are ones the printer honours; refuses
// the attribute when they are not.
bool OverridesOffered(pappl_client_t* client, pappl_printer_t* printer);

}  // namespace varnu::printer_app
