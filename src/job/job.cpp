// Plot request 30 writes the device set-up that precedes the drawing; plot
// request 2 closes the page and hands everything to the host.
#include "job/job.h"

#include <cmath>

#include "config/config_record.h"
#include "config/device_tables.h"
#include "config/page_geometry.h"
#include "interface/host_services.h"
#include "interface/messages.h"
#include "interface/output_buffer.h"
#include "interface/packet.h"
#include "job/requests.h"
#include "modes/data_mode.h"
#include "raster/image_request.h"
#include "vector/pens.h"

namespace varnu {

namespace {

// The set-up steps return false when an append failed (the buffer has
// latched the failure already); JobStart then fails the job here, once: the
// job is over until request 49.
void FailJob() {
    JobState.ErrorLatch = kLatchOutput;
    SetResult(kResultFailed);
}

void ComputeDeviceUnits() {
    const double resolution = Configuration.PageGeometry.HostResolution[0];
    const double scale = Configuration.PageGeometry.ScaleFactor;
    JobState.PageWidthUnits = TruncateToInt32(
        std::floor(Configuration.PageGeometry.HostResolution[0] * JobState.PlotExtentX * scale));
    JobState.PageHeightUnits = TruncateToInt32(
        std::floor(Configuration.PageGeometry.HostResolution[1] * JobState.PlotExtentY * scale));
    for (int i = 0; i < 4; ++i)
        JobState.MarginUnits[i] = TruncateToInt32(
            std::floor(Configuration.PageGeometry.MarginInches[i] * resolution) * scale);
}

}  // namespace

void ForgetFailedJobOutput() {
    PageState.PageHasContent = 0;
    Configuration.JobCopies = 1;
}

void JobStart() {
    Image.PendingImage.marker = 0;
    if (!PassLatchGate()) return;
    SetResult(kResultOk);
    // A new page: nothing drawn, nothing waiting.
    ReleaseCommandBuffer();
    PageState = PageStateRecord{};
    const DataMode mode = CurrentDataMode();
    const DataModeOps& ops = ModeOps(mode);
    StartJobInMode(mode);
    ops.start();

    if (!AllocateCommandBuffer()) {
        ReportMessage("\n%s", Module.ActiveMessages[kMsgNoMemory]);
        JobState.ErrorLatch = kLatchOutput;
        SetResult(kResultFailed);
        return;
    }
    JobState.OutputHandle = HostNotify(30, 1);

    const ModelRecord* model = Model(Configuration.CurrentModel);
    if (model == nullptr) model = Model(0);
    if (!ops.head(*model)) return FailJob();
    ComputeDeviceUnits();
    if (!ops.tail(*model)) return FailJob();
    Image.PendingImage.marker = 0;
}

void JobEnd() {
    SetPenState(kPenClosed);
    if (JobState.ErrorLatch == kLatchClear && PageState.PageHasContent == 1) {
        PageState.PageHasContent = 0;
        ActiveMode().pageEnd();
        Configuration.JobCopies = 1;
        if (PageState.CommandFill > 0 && JobState.ErrorLatch == kLatchClear && FlushOutput() != 0)
            JobState.ErrorLatch = kLatchOutput;
    }
    ReleaseCommandBuffer();
    if (JobState.OutputHandle >= 0) HostNotify(JobState.OutputHandle, 1);
}

}  // namespace varnu
