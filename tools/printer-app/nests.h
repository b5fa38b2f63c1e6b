// Pages nested across the roll (varnu-nesting across-roll): a job's own,
// and those of the jobs that arrive while it waits (varnu-nesting-wait)
// and print alike, sent by the first as one driver job; the others then
// end as printed with it. Jobs reach this one at a time (the job slot).
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

#include "jobs.h"
#include "model/document.h"

namespace varnu::printer_app {

// The job's `pages` of `document`: nested, with those of the jobs that
// follow within the wait, where the job asks for nesting on the roll;
// else one after another. False with `error`; a failed or cancelled nest
// leaves the jobs that joined it to print on their own.
bool PrintPages(DeviceJob& out, const pappl_pr_options_t& options, host::Document& document,
                const std::vector<int>& pages, std::string* error);

// Whether `job`'s pages went out in an earlier job's nest; it is then
// told so and ends as printed.
bool PrintedInNest(pappl_job_t* job);

// The web interface's "Print now": the nest waiting on `printer` goes out
// with the pages it has.
void ReleaseNest(pappl_printer_t* printer);

// The job whose nest waits for further jobs on `printer`; 0 for none.
int WaitingNest(pappl_printer_t* printer);

}  // namespace varnu::printer_app
