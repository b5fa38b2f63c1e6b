// What a job or a printer's default may say, checked where it enters, and
// a job's options as the driver's settings.
#pragma once

#include <pappl/pappl.h>

#include <string>

#include "session/configure.h"

namespace varnu::printer_app {

// Whether `value` is one of the keywords `supported` lists or an integer
// in its range.
bool Offered(ipp_attribute_t* supported, const char* value);

// Whether the printer offers `value` for its vendor attribute `name`
// (`name-supported` of its driver attributes); false for a name it does
// not have.
bool VendorValueOffered(pappl_printer_t* printer, const char* name, const char* value);

// Text a client sent, as it may be kept: control characters are blanks.
bool IsPrintable(const char* text);
std::string Printable(const std::string& text);

// The printer's output-bin-default and varnu-output-bin-default are one
// setting: new defaults for the printer with whichever was set copied to
// the other; the vendor options' count.
int JoinOutputBinDefaults(pappl_printer_t* printer, pappl_pr_driver_data_t* data, int count,
                          cups_option_t** vendor);

// The most copies the printer makes of a page in one driver job; a job
// that asks for more is sent as several.
inline constexpr int kMaxJobCopies = 999;

// The resolution of page `page` of a job, whose options are `options`
// (PageOptions): its override's printer-resolution, else the job's; else
// its print-quality (or the printer's): draft the lowest resolution, high
// the highest, normal the printer's printer-resolution-default.
int JobResolution(pappl_job_t* job, const pappl_pr_options_t& options, unsigned page);

// An integer vendor default of the printer (0 where it has none).
int VendorDefault(pappl_printer_t* printer, const char* name);

// A vendor setting of a job: its own, else the printer's default ("").
std::string JobVendorValue(pappl_job_t* job, const pappl_pr_options_t& options, const char* name);

// The driver's settings for a job's options (the vendor values joined with
// the printer's defaults), copies left to the caller; false with `error`
// saying what the printer does not offer.
bool JobSettings(pappl_job_t* job, const pappl_pr_options_t& options, int dpi,
                 host::ConfigureOptions* settings, std::string* error);

// The driver's settings for what the printer's defaults say (its media,
// resolution and vendor defaults): a page printed without a job's options.
bool PrinterSettings(pappl_printer_t* printer, host::ConfigureOptions* settings,
                     std::string* error);

}  // namespace varnu::printer_app
