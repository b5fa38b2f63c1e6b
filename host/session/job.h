// One plot job as a CAD host opens and closes it.
#pragma once

#include <string>

namespace varnu::host {

// The sheet the stored configuration describes, as driver request 21 reports it.
struct Sheet {
    double extentX = 0, extentY = 0;  // inches
    double resolution = 0;            // host steps per inch
};

// Driver requests 11 and 21: the sheet, without a job.
bool ReadSheet(Sheet* sheet, std::string* error);
// Driver requests 11 and 21, then the job's plot requests: 49, 50, 29,
// [46 with the label typed into its dialog], 47, 48, 30. False with a
// message when a request fails.
bool OpenJob(const std::string& label, Sheet* sheet, std::string* error);
// Plot request 2.
void CloseJob();
// Plot request 49 with the host's identity: what a failed or cancelled job
// left latched is cleared, for a program that goes on to the next job.
void ResetDriver();

}  // namespace varnu::host
