// What the application decides inside PAPPL (pappl_hooks.cpp says where and
// why): the devices a printer may write to.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace varnu::printer_app {

// Files (absolute paths) a printer may have as its device, beside the
// printers found on USB or the network.
void SetAllowedDevices(std::vector<std::string> files);
// Whether a printer may be created on `uri`.
bool DeviceAllowed(const char* uri);
// The job slot held for driver work outside a job (the test page): no job
// runs meanwhile.
class SlotHold {
  public:
    SlotHold();
    ~SlotHold();
    SlotHold(const SlotHold&) = delete;
    SlotHold& operator=(const SlotHold&) = delete;
};

// Whether a job (of another printer: one job of a printer runs at a time)
// waits for the job slot while one holds it.
bool SlotWanted();

// The file of `job`'s document, copied where a cancel (which frees PAPPL's
// copy) cannot interfere; "" for none (cancelled, or not yet spooled).
std::string JobFile(pappl_job_t* job);

// Whether the system is stopping: asked to shut down, or sent SIGTERM
// (PAPPL then waits a minute for its jobs to end). WatchForStop, called
// from the main loop once PAPPL runs, notices the signal beside PAPPL.
bool Stopping(pappl_system_t* system);
void WatchForStop();

// Whether PAPPL's own calls reach the application's definitions (the
// executable exports them); without, none of the checks would run.
bool HooksBound();

}  // namespace varnu::printer_app
