// A CUPS job's settings as the driver's: a page header (CUPS raster's own,
// or the one the PPD's choices and the job's options make) read as the
// setup dialog's settings, the same way whichever filter reads the job.
#pragma once

#include <cups/raster.h>

#include <string>
#include <vector>

#include "session/configure.h"
#include "session/cups_filter.h"

namespace varnu::host {

// Points a page size may differ from a paper format's: the PPD's sizes
// are the standard's (A-Arch 648 pt) where the driver's table keeps up to
// 3.5 pt less (645.1 pt), rounded to whole points.
inline constexpr double kSizeSlackPoints = 4;

// The settings of a page with header `h` and `copies`; false with `error`
// set for what the printer does not offer. `what` names the page ("page 2")
// in the messages that need it.
bool HeaderSettings(const cups_page_header2_t& h, int copies, const std::string& what,
                    ConfigureOptions* options, std::string* error);

// The page header of a job printed with the PPD at `ppd` and the job's
// options: the PPD's defaults, the choices the options mark, and what
// IPP's names (media, printer-resolution) say in the PPD's terms.
bool JobHeader(const char* ppd, int count, cups_option_t* options, cups_page_header2_t* h,
               std::string* error);

// The job's settings from the PPD (the PPD variable) with the job's options and
// `copies` (the fourth argument), for a document that is not CUPS raster.
bool JobSettings(const FilterOptions& options, const char* copies, ConfigureOptions* settings,
                 std::string* error);

// page-ranges ("1-3,5,8-"): the pages (from 0) of a document of `pages`
// that it names, in order, each once; all of them when `text` is empty.
// False for a range it cannot read or one that names no page there is.
bool PageRanges(const std::string& text, int pages, std::vector<int>* chosen, std::string* error);

}  // namespace varnu::host
