// The roll the plotter prints on: a job's sheet cut from it to its page's
// length, pages turned to save it, and its length as the printer's supply.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "model/fit.h"

namespace varnu::printer_app {

// Whether the job asks for the roll without a size (a media-col with a
// media-source and no media-size): its sheets are cut to its pages.
bool OnTheRoll(pappl_job_t* job);

// The sheet for a page of `page` inches on the loaded roll: the roll's
// width, and the page's length the way round that is shorter along the
// roll (`mayTurn`) or as it comes, with the sheet's margins; false when
// it fits the roll neither way.
bool RollSheet(pappl_printer_t* printer, const host::Area& page, bool mayTurn, int marginMm,
               pappl_media_col_t* media, std::string* error);

// The longest sheet the paper table's rolls allow, mm.
int LongestRollMm();

// The loaded roll's width, inches.
double LoadedRollWidth(pappl_printer_t* printer);

// The roll as the printer's supply: what is left of the length the
// administrator gave (an unknown level while none was given).
void ShowRollSupply(pappl_printer_t* printer);

// Waits, saying media-needed, while less than `needed` mm of the roll are
// left; no wait while its length is unknown. False when the job is
// cancelled meanwhile.
bool WaitForRoll(pappl_job_t* job, double neededMm);

// A job used `usedMm` of the roll; media-low once a tenth is left.
void UseRoll(pappl_printer_t* printer, double usedMm);

// New defaults for the printer: where they give a new roll length (and
// leave what is left as it was), all of the new roll is left; the vendor
// options' count.
int JoinRollDefaults(pappl_printer_t* printer, int count, cups_option_t** vendor);

}  // namespace varnu::printer_app
